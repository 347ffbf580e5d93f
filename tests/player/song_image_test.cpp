// Song image parser: section limits, layout positions, and untrusted images that lie about their size.
#include "player/song_image.h"
#include "player/song_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

void put32(std::vector<std::uint8_t> *v, std::int32_t x) {
    for (int b = 0; b < 4; ++b)
        v->push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(x) >> (8 * b)));
}

// An image without events: header (G = 0), 16 empty channels, then the three sized sections.
// A negative or out-of-range size is written with `body` bytes following it.
std::vector<std::uint8_t> sectioned_image(std::int32_t globals_size, std::size_t globals_body,
                                          std::int32_t patch_size, std::size_t patch_body,
                                          std::int32_t speech_size, const std::vector<std::uint8_t> &speech) {
    std::vector<std::uint8_t> v;
    put32(&v, 128);
    put32(&v, 0);
    put32(&v, 0);
    for (int ch = 0; ch < 16; ++ch) put32(&v, 0);
    put32(&v, globals_size);
    v.insert(v.end(), globals_body, 0x11);
    put32(&v, patch_size);
    v.insert(v.end(), patch_body, 0x22);
    put32(&v, speech_size);
    v.insert(v.end(), speech.begin(), speech.end());
    return v;
}

// Parses a private heap copy of exactly `size` bytes, so that any read past the end is caught by the
// address sanitizer. The copy lives until the next call, so the layout's positions stay readable.
bool parse_exact(const std::vector<std::uint8_t> &bytes, std::size_t size, SongLayout *layout,
                 const char **reason = nullptr) {
    static std::unique_ptr<std::uint8_t[]> copy;
    copy.reset(new std::uint8_t[size == 0 ? 1 : size]);
    std::memcpy(copy.get(), bytes.data(), size);
    return parse_song_image(layout, copy.get(), size, reason);
}

SongDescription rich_song() {
    SongDescription s;
    s.ticks_per_beat = 96;
    s.end_tick = 400;
    s.globals = {{0, 400000, 3, 4, 8}, {200, 300000, 4, 4, 8}};
    SongChannel &c0 = s.channels[0];
    c0.programs = {{0, 2}};
    c0.notes = {{0, 60, 100}, {0, 64, 90}, {96, 60, 0}, {96, 64, 0}};
    c0.pitch_bends = {{10, 0, 64}};
    c0.controllers[0] = {{5, 10}, {6, 20}};
    c0.controllers[6] = {{7, 127}};
    SongChannel &c3 = s.channels[3];
    c3.programs = {{0, 1}};
    c3.notes = {{50, 40, 127}, {400, 40, 0}};
    s.globals_block.assign(23, 7);
    s.patches.resize(3);
    s.patches[1].mods = {{0, 127, 37}, {7, 127, 59}};
    s.speech_texts = {"hello", "world"};
    return s;
}

std::vector<std::uint8_t> written(const SongDescription &s) {
    std::vector<std::uint8_t> image;
    std::string error;
    EXPECT_TRUE(song_write_image(s, &image, &error)) << error;
    return image;
}

TEST(SongImage, WrittenSongParsesWithItsSectionsInPlace) {
    const std::vector<std::uint8_t> image = written(rich_song());
    SongLayout l;
    ASSERT_TRUE(parse_song_image(&l, image.data(), image.size()));
    const std::uint8_t *base = image.data();
    EXPECT_EQ(l.ticks_per_beat, 96);
    EXPECT_EQ(l.tick_divisor, 960000u);
    EXPECT_EQ(l.end_tick, 400);
    EXPECT_EQ(l.global_count, 2);
    EXPECT_EQ(l.global_track, base + 12);
    // Channel 0 follows the 20 bytes of global track: count, 4 notes x 5, then its other streams.
    EXPECT_EQ(l.channels[0].note_count, 4);
    EXPECT_EQ(l.channels[0].streams[STREAM_NOTE].start, base + 12 + 20 + 4);
    EXPECT_EQ(l.channels[0].streams[STREAM_PROGRAM].count, 1);
    EXPECT_EQ(l.channels[0].streams[STREAM_PROGRAM].start, base + 36 + 20 + 4);
    EXPECT_EQ(l.channels[0].streams[STREAM_PITCH_BEND].count, 1);
    EXPECT_EQ(l.channels[0].streams[STREAM_CONTROLLER_1].count, 2);
    EXPECT_EQ(l.channels[0].streams[STREAM_CONTROLLER_1 + 6].count, 1);
    EXPECT_EQ(l.channels[1].note_count, 0);
    EXPECT_EQ(l.channels[3].note_count, 2);
    EXPECT_EQ(l.globals_size, 23);
    EXPECT_EQ(l.globals[22], 7);
    EXPECT_GT(l.globals, base);
    EXPECT_LT(l.globals, base + image.size());
    EXPECT_EQ(l.patch_map, l.globals + 23 + 4);
    EXPECT_EQ(l.patch_map_size, 3 * 4 + 3 * 90 + 6);
    EXPECT_EQ(read_u32le(l.patch_map), 12u);
    EXPECT_EQ(l.speech, l.patch_map + l.patch_map_size + 4);
    EXPECT_EQ(l.speech_count, 2);
    EXPECT_STREQ(reinterpret_cast<const char *>(l.speech_table[0]), "hello");
    EXPECT_STREQ(reinterpret_cast<const char *>(l.speech_table[1]), "world");
    EXPECT_EQ(l.speech_table[2], nullptr);
    EXPECT_EQ(l.parsed_end, base + image.size());
}

TEST(SongImage, SectionSizeLimits) {
    struct Case {
        std::int32_t globals, patch;
        bool accepted;
    } cases[] = {
        {16384, 0, true},   {16385, 0, false},   {-1, 0, false}, {INT32_MIN, 0, false},
        {0, 1048576, true}, {0, 1048577, false}, {0, -1, false}, {0, 0, true},
    };
    for (const Case &c : cases) {
        const std::size_t gb = c.globals > 0 ? static_cast<std::size_t>(c.globals) : 0;
        const std::size_t pb = c.patch > 0 ? static_cast<std::size_t>(c.patch) : 0;
        const auto image = sectioned_image(c.globals, gb, c.patch, pb, 0, {});
        SongLayout l;
        EXPECT_EQ(parse_exact(image, image.size(), &l), c.accepted) << c.globals << " " << c.patch;
    }
}

TEST(SongImage, SpeechSizeDecidesWhetherThereIsASection) {
    // 8191 bytes: one text at offset 8, filling the section.
    std::vector<std::uint8_t> speech;
    put32(&speech, 1);
    put32(&speech, 8);
    speech.insert(speech.end(), 8191 - 8 - 1, 'a');
    speech.push_back(0);
    ASSERT_EQ(speech.size(), 8191u);
    SongLayout l;
    auto image = sectioned_image(0, 0, 0, 0, 8191, speech);
    ASSERT_TRUE(parse_exact(image, image.size(), &l));
    EXPECT_EQ(l.speech_count, 1);
    EXPECT_NE(l.speech_table[0], nullptr);

    // 8192: no texts, and nothing past the size field is looked at.
    image = sectioned_image(0, 0, 0, 0, 8192, {});
    ASSERT_TRUE(parse_exact(image, image.size(), &l));
    EXPECT_EQ(l.speech, nullptr);
    for (const auto *t : l.speech_table) EXPECT_EQ(t, nullptr);

    for (std::int32_t none : {0, -1, INT32_MIN, INT32_MAX}) {
        image = sectioned_image(0, 0, 0, 0, none, {});
        ASSERT_TRUE(parse_exact(image, image.size(), &l)) << none;
        EXPECT_EQ(l.speech_count, 0);
        EXPECT_EQ(l.speech_table[0], nullptr);
    }
}

TEST(SongImage, EmptyChannelsAndEmptyGlobalTrackTakeFourBytesAndNone) {
    const auto image = sectioned_image(0, 0, 0, 0, 0, {});
    ASSERT_EQ(image.size(), 12u + 16 * 4 + 12);
    SongLayout l;
    ASSERT_TRUE(parse_exact(image, image.size(), &l));
    EXPECT_EQ(l.global_count, 0);
    EXPECT_EQ(l.globals, l.globals_padded); // an empty block reads as 22 zero bytes
    for (std::uint8_t b : l.globals_padded) EXPECT_EQ(b, 0);
    EXPECT_EQ(l.parsed_end - l.image, static_cast<std::ptrdiff_t>(image.size()));

    // G = 0: channel 0's block starts at offset 12, its notes at 16.
    SongDescription s;
    s.channels[0].notes = {{0, 60, 1}};
    const auto one = written(s);
    ASSERT_TRUE(parse_song_image(&l, one.data(), one.size()));
    EXPECT_EQ(read_i32le(one.data() + 12), 1);
    EXPECT_EQ(l.channels[0].streams[STREAM_NOTE].start, one.data() + 16);
}

TEST(SongImage, OneSpeechTextFillsOnlyEntryZero) {
    SongDescription s;
    s.speech_texts = {"a"};
    const auto image = written(s);
    SongLayout l;
    ASSERT_TRUE(parse_exact(image, image.size(), &l));
    EXPECT_EQ(l.speech_count, 1);
    EXPECT_EQ(l.speech_table[0], l.speech + 8);
    for (int j = 1; j < SONG_SPEECH_TABLE_SIZE; ++j) EXPECT_EQ(l.speech_table[j], nullptr) << j;
}

TEST(SongImage, ShortGlobalsBlockIsPaddedWithZeros) {
    const auto image = sectioned_image(5, 5, 0, 0, 0, {});
    SongLayout l;
    ASSERT_TRUE(parse_exact(image, image.size(), &l));
    EXPECT_EQ(l.globals, l.globals_padded);
    for (int i = 0; i < GLOBALS_BLOCK_READ; ++i) EXPECT_EQ(l.globals[i], i < 5 ? 0x11 : 0) << i;
}

// Every truncation of a valid image reaches past its end somewhere and must be rejected; the exact-size
// heap copies let the address sanitizer catch any read beyond the given length.
TEST(SongImage, EveryTruncationIsRejectedWithoutReadingOutside) {
    const auto image = written(rich_song());
    SongLayout l;
    for (std::size_t n = 0; n < image.size(); ++n) {
        const char *reason = nullptr;
        EXPECT_FALSE(parse_exact(image, n, &l, &reason)) << n;
        EXPECT_NE(reason, nullptr) << n;
    }
    EXPECT_TRUE(parse_exact(image, image.size(), &l));
}

TEST(SongImage, LyingFieldsAreRejected) {
    const auto base = written(rich_song());
    SongLayout good;
    ASSERT_TRUE(parse_song_image(&good, base.data(), base.size()));
    const std::size_t note_count_at = 12 + 20;
    const std::size_t program_count_at = note_count_at + 4 + 20;
    const std::size_t speech_at = static_cast<std::size_t>(good.speech - base.data());
    struct Case {
        const char *what;
        std::size_t at;
        std::int32_t value;
    } cases[] = {
        {"ticks per beat 0", 0, 0},
        {"negative ticks per beat", 0, -128},
        {"ticks per beat whose divisor wraps", 0, 429497},
        {"huge global count", 8, INT32_MAX},
        {"negative global count", 8, -1},
        {"huge note count", note_count_at, 0x3fffffff},
        {"negative note count", note_count_at, -2},
        {"program count past the end", program_count_at, static_cast<std::int32_t>(base.size())},
        {"negative program count", program_count_at, -1},
        {"257 speech texts", speech_at, 257},
        {"speech table past the end", speech_at, 200},
        {"speech offset past the end", speech_at + 4, static_cast<std::int32_t>(base.size())},
        {"speech offset below the section", speech_at + 4, -4},
    };
    for (const Case &c : cases) {
        std::vector<std::uint8_t> image = base;
        for (int b = 0; b < 4; ++b)
            image[c.at + b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(c.value) >> (8 * b));
        SongLayout l;
        const char *reason = nullptr;
        EXPECT_FALSE(parse_exact(image, image.size(), &l, &reason)) << c.what;
        EXPECT_NE(reason, nullptr) << c.what;
    }
}

TEST(SongImage, SpeechTextWithoutItsZeroInsideTheImageIsRejected) {
    SongDescription s;
    s.speech_texts = {"abc"};
    auto image = written(s);
    SongLayout l;
    ASSERT_TRUE(parse_exact(image, image.size(), &l));
    image.back() = 'd'; // the terminating zero was the image's last byte
    EXPECT_FALSE(parse_exact(image, image.size(), &l));
}

TEST(SongImage, TwoHundredFiftySixTextsFitTheTable) {
    SongDescription s;
    s.speech_texts.assign(256, "x");
    const auto image = written(s);
    SongLayout l;
    ASSERT_TRUE(parse_exact(image, image.size(), &l));
    EXPECT_EQ(l.speech_count, 256);
    EXPECT_STREQ(reinterpret_cast<const char *>(l.speech_table[255]), "x");
}

} // namespace
