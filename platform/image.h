// PNG pictures decoded into plain pixel rows for the window's picture controls and icon.
#pragma once
#include <cstddef>
#include <cstdint>

// Decoded pixels, rows top to bottom, no padding; `pixels` points into the caller's storage.
struct Picture {
    int width;                  // pixels, 0 when nothing was decoded
    int height;                 // pixels
    int channels;               // 3 = RGB, 4 = RGBA (straight alpha)
    const std::uint8_t *pixels; // width * height * channels bytes, or null
};

// Decodes the PNG in data[0..size) into `storage` as 8-bit RGB (channels 3) or RGBA (channels 4),
// whatever the PNG's own format. Returns 1 on success; 0 for data that is not a valid PNG, for a
// picture that does not fit in `capacity` bytes, or a channel count other than 3 or 4. On failure
// `out` is the empty picture.
int picture_decode_png(const std::uint8_t *data, std::size_t size, int channels, std::uint8_t *storage,
                       std::size_t capacity, Picture *out);
