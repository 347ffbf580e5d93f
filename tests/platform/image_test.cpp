#include "platform/image.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::uint8_t> asset(const char *name) {
    return read_file(std::string(QM_SOURCE_DIR "/assets/") + name);
}

TEST(PictureDecode, DecodesTheWindowPicturesAsRgb) {
    struct Case {
        const char *name;
        int width, height;
    } cases[] = {{"banner.png", 500, 130}, {"side.png", 185, 300}};
    static std::uint8_t storage[500 * 300 * 3];
    for (const Case &c : cases) {
        std::vector<std::uint8_t> png = asset(c.name);
        ASSERT_FALSE(png.empty()) << c.name;
        Picture picture;
        ASSERT_EQ(picture_decode_png(png.data(), png.size(), 3, storage, sizeof storage, &picture), 1)
            << c.name;
        EXPECT_EQ(picture.width, c.width);
        EXPECT_EQ(picture.height, c.height);
        EXPECT_EQ(picture.channels, 3);
        EXPECT_EQ(picture.pixels, storage);
        // A designed picture, not a flat fill: many distinct colours.
        std::vector<bool> seen(1 << 15);
        int distinct = 0;
        for (int i = 0; i < c.width * c.height; ++i) {
            const std::uint8_t *p = storage + 3 * i;
            int key = (p[0] >> 3) << 10 | (p[1] >> 3) << 5 | (p[2] >> 3);
            if (!seen[key]) ++distinct, seen[key] = true;
        }
        EXPECT_GT(distinct, 100) << c.name;
    }
}

TEST(PictureDecode, DecodesIconsWithTransparentCorners) {
    static std::uint8_t storage[256 * 256 * 4];
    for (int size : {256, 128, 64, 48, 32, 16}) {
        std::vector<std::uint8_t> png = asset(("icons/qmfix-" + std::to_string(size) + ".png").c_str());
        Picture picture;
        ASSERT_EQ(picture_decode_png(png.data(), png.size(), 4, storage, sizeof storage, &picture), 1)
            << size;
        EXPECT_EQ(picture.width, size);
        EXPECT_EQ(picture.height, size);
        EXPECT_LT(storage[3], 16) << "top-left corner transparent at " << size;
        EXPECT_EQ(storage[(size / 2 * size + size / 2) * 4 + 3], 255) << "centre opaque at " << size;
    }
}

TEST(PictureDecode, RefusesBadDataAndTooLittleRoom) {
    std::vector<std::uint8_t> png = asset("side.png");
    static std::uint8_t storage[185 * 300 * 3];
    Picture picture;
    EXPECT_EQ(picture_decode_png(png.data(), png.size(), 3, storage, sizeof storage - 1, &picture), 0);
    EXPECT_EQ(picture.pixels, nullptr);
    EXPECT_EQ(picture.width, 0);
    EXPECT_EQ(picture_decode_png(png.data(), png.size() / 2, 3, storage, sizeof storage, &picture), 0);
    std::vector<std::uint8_t> junk(1000, 0x42);
    EXPECT_EQ(picture_decode_png(junk.data(), junk.size(), 3, storage, sizeof storage, &picture), 0);
    EXPECT_EQ(picture_decode_png(png.data(), png.size(), 2, storage, sizeof storage, &picture), 0);
}

} // namespace
