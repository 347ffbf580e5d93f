#!/usr/bin/python3
"""Draws the window's pictures and the application icon.

Writes banner.png (500 x 130) and side.png (185 x 300), 8-bit RGB, and icons/qmfix-N.png for
N = 256, 128, 64, 48, 32, 16, 8-bit RGBA. Everything is drawn from fixed numbers (and a seeded
generator for the stars), so running it again gives the same pictures. The build embeds the
committed PNGs; this script is only needed to change them.

Needs python3-pil and the DejaVu fonts (fonts-dejavu-core).
Run from anywhere: /usr/bin/python3 assets/make_pictures.py
"""
import math
import os
import random

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONTS = "/usr/share/fonts/truetype/dejavu"
SCALE = 4  # drawn at four times the size, then reduced: smooth edges

# The palette follows the credit line under the pictures, RGB(121, 134, 136).
NIGHT_TOP = (16, 28, 38)
NIGHT_LOW = (58, 86, 96)
HORIZON = (150, 160, 150)
RIDGE_FAR = (64, 82, 88)
RIDGE_MID = (42, 58, 64)
RIDGE_NEAR = (24, 36, 42)
GOLD = (233, 214, 160)
GOLD_DEEP = (196, 164, 96)
MIST = (205, 214, 210)


def font(name, size):
    return ImageFont.truetype(os.path.join(FONTS, name), size)


def vertical_gradient(width, height, stops):
    """stops: list of (fraction 0..1, colour)."""
    img = Image.new("RGB", (width, height))
    px = img.load()
    for y in range(height):
        t = y / max(1, height - 1)
        for i in range(len(stops) - 1):
            (t0, c0), (t1, c1) = stops[i], stops[i + 1]
            if t0 <= t <= t1:
                u = (t - t0) / max(1e-9, t1 - t0)
                colour = tuple(round(c0[k] + (c1[k] - c0[k]) * u) for k in range(3))
                break
        for x in range(width):
            px[x, y] = colour
    return img


def ridge(width, base, amplitude, waves, phase):
    """Points of a hill line: a sum of slow sines across the width."""
    points = []
    for x in range(0, width + SCALE, SCALE):
        y = base
        for i, (length, weight) in enumerate(waves):
            y += amplitude * weight * math.sin(2 * math.pi * x / length + phase + i * 1.7)
        points.append((x, y))
    return points


def fill_below(draw, points, height, colour):
    draw.polygon(points + [(points[-1][0], height), (points[0][0], height)], fill=colour)


def stars(draw, width, height, count, seed, limit):
    rng = random.Random(seed)
    for _ in range(count):
        x = rng.uniform(0, width)
        y = rng.uniform(0, limit)
        r = rng.choice((0.5, 0.6, 0.7, 0.9, 1.2)) * SCALE
        shade = rng.randint(150, 235)
        draw.ellipse((x - r, y - r, x + r, y + r), fill=(shade, shade, min(255, shade + 12)))


def moon(img, cx, cy, r):
    glow = Image.new("RGB", img.size, (0, 0, 0))
    ImageDraw.Draw(glow).ellipse((cx - 2 * r, cy - 2 * r, cx + 2 * r, cy + 2 * r), fill=(70, 80, 76))
    glow = glow.filter(ImageFilter.GaussianBlur(r * 1.2))
    out = ImageChops.add(img, glow)
    d = ImageDraw.Draw(out)
    d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=(238, 232, 206))
    d.ellipse((cx - r * 0.35, cy - r * 0.55, cx + r * 0.05, cy - r * 0.15), fill=(224, 217, 190))
    d.ellipse((cx + r * 0.2, cy + r * 0.1, cx + r * 0.55, cy + r * 0.45), fill=(226, 219, 192))
    return out


def landscape(width, height, horizon, seed, moon_at, with_stars=True):
    img = vertical_gradient(width, height, [(0.0, NIGHT_TOP), (horizon / height * 0.9, NIGHT_LOW),
                                            (horizon / height, HORIZON), (1.0, HORIZON)])
    d = ImageDraw.Draw(img)
    if with_stars:
        stars(d, width, height, width * height // (SCALE * SCALE * 700), seed, horizon * 0.8)
    img = moon(img, moon_at[0], moon_at[1], moon_at[2])
    d = ImageDraw.Draw(img)
    fill_below(d, ridge(width, horizon - 0.02 * height, 0.05 * height, [(width / 1.3, 1.0), (width / 3.1, 0.5)], 0.4 + seed),
               height, RIDGE_FAR)
    # A band of mist over the middle ridge.
    mist = Image.new("L", img.size, 0)
    md = ImageDraw.Draw(mist)
    md.rectangle((0, horizon + 0.02 * height, width, horizon + 0.08 * height), fill=90)
    mist = mist.filter(ImageFilter.GaussianBlur(0.03 * height))
    img = Image.composite(Image.new("RGB", img.size, MIST), img, mist)
    d = ImageDraw.Draw(img)
    fill_below(d, ridge(width, horizon + 0.08 * height, 0.06 * height, [(width / 0.9, 1.0), (width / 2.3, 0.45)], 2.1 + seed),
               height, RIDGE_MID)
    fill_below(d, ridge(width, horizon + 0.2 * height, 0.05 * height, [(width / 0.7, 1.0), (width / 1.9, 0.6)], 4.0 + seed),
               height, RIDGE_NEAR)
    return img


def spaced_text(draw, centre_x, y, text, fnt, fill, spacing):
    widths = [draw.textlength(ch, font=fnt) for ch in text]
    total = sum(widths) + spacing * (len(text) - 1)
    x = centre_x - total / 2
    for ch, w in zip(text, widths):
        draw.text((x, y), ch, font=fnt, fill=fill)
        x += w + spacing
    return centre_x - total / 2, centre_x + total / 2


def shadowed(img, paint):
    """Runs paint(draw, colour) twice: a soft dark shadow, then the text itself."""
    shadow = Image.new("L", img.size, 0)
    paint(ImageDraw.Draw(shadow), 200, (2 * SCALE, 2 * SCALE))
    shadow = shadow.filter(ImageFilter.GaussianBlur(3 * SCALE))
    img = Image.composite(Image.new("RGB", img.size, (6, 10, 14)), img, shadow)
    paint(ImageDraw.Draw(img), None, (0, 0))
    return img


def aspect_mark(draw, cx, cy, w, h, colour, line):
    """A wide screen outline with arrows pointing out of both sides."""
    draw.rounded_rectangle((cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2), radius=h * 0.12, outline=colour, width=line)
    ay = cy
    for side in (-1, 1):
        tip = cx + side * (w / 2 - line * 2.2)
        tail = cx + side * (w * 0.12)
        draw.line((tail, ay, tip, ay), fill=colour, width=line)
        draw.polygon([(tip + side * line * 0.6, ay), (tip - side * line * 2.4, ay - line * 2.2),
                      (tip - side * line * 2.4, ay + line * 2.2)], fill=colour)


def banner():
    W, H = 500 * SCALE, 130 * SCALE
    img = landscape(W, H, int(H * 0.70), 3, (int(W * 0.86), int(H * 0.26), int(H * 0.11)))
    title = font("DejaVuSerif-Bold.ttf", 46 * SCALE)
    sub = font("DejaVuSans-Bold.ttf", 13 * SCALE)

    def paint_title(d, shade, offset):
        fill = shade if shade is not None else GOLD
        spaced_text(d, W * 0.45 + offset[0], H * 0.12 + offset[1], "QUILLMOOR", title, fill, 3 * SCALE)

    img = shadowed(img, paint_title)
    d = ImageDraw.Draw(img)
    left, right = spaced_text(d, W * 0.45, H * 0.57, "WIDESCREEN FIX", sub, MIST, 5 * SCALE)
    for side, x0 in ((-1, left - 10 * SCALE), (1, right + 10 * SCALE)):
        x1 = x0 + side * 70 * SCALE
        d.line((x0, H * 0.57 + 9 * SCALE, x1, H * 0.57 + 9 * SCALE), fill=GOLD_DEEP, width=SCALE)
        d.ellipse((x0 - 2 * SCALE, H * 0.57 + 7 * SCALE, x0 + 2 * SCALE, H * 0.57 + 11 * SCALE), fill=GOLD)
    return img.resize((500, 130), Image.LANCZOS)


def side():
    W, H = 185 * SCALE, 300 * SCALE
    img = landscape(W, H, int(H * 0.62), 11, (int(W * 0.22), int(H * 0.12), int(W * 0.07)))
    d = ImageDraw.Draw(img)
    aspect_mark(d, W / 2, H * 0.36, W * 0.72, W * 0.30, GOLD, 3 * SCALE)
    label = font("DejaVuSans-Bold.ttf", 15 * SCALE)
    small = font("DejaVuSans.ttf", 10 * SCALE)

    def paint_ratio(dd, shade, offset):
        spaced_text(dd, W / 2 + offset[0], H * 0.47 + offset[1], "21:9  32:9", label,
                    shade if shade is not None else GOLD, 1 * SCALE)

    img = shadowed(img, paint_ratio)
    d = ImageDraw.Draw(img)
    spaced_text(d, W / 2, H * 0.885, "STEAM VERSION", small, MIST, 3 * SCALE)
    return img.resize((185, 300), Image.LANCZOS)


def icon(size):
    S = 256 * SCALE
    img = Image.new("RGBA", (S, S), (0, 0, 0, 0))
    back = landscape(S, S, int(S * 0.66), 5, (int(S * 0.74), int(S * 0.22), int(S * 0.07)), False).convert("RGBA")
    mask = Image.new("L", (S, S), 0)
    ImageDraw.Draw(mask).rounded_rectangle((S * 0.03, S * 0.03, S * 0.97, S * 0.97), radius=S * 0.2, fill=255)
    img.paste(back, (0, 0), mask)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((S * 0.03, S * 0.03, S * 0.97, S * 0.97), radius=S * 0.2, outline=GOLD_DEEP, width=int(S * 0.025))
    line = max(int(S * 0.045), SCALE)
    aspect_mark(d, S / 2, S * 0.47, S * 0.76, S * 0.34, GOLD, line)
    return img.resize((size, size), Image.LANCZOS)


def main():
    banner().save(os.path.join(HERE, "banner.png"), optimize=True)
    side().save(os.path.join(HERE, "side.png"), optimize=True)
    os.makedirs(os.path.join(HERE, "icons"), exist_ok=True)
    for size in (256, 128, 64, 48, 32, 16):
        icon(size).save(os.path.join(HERE, "icons", f"qmfix-{size}.png"), optimize=True)


if __name__ == "__main__":
    main()
