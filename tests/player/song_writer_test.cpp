// Song writer: descriptions the format cannot hold are refused with a reason.
#include "player/song_writer.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(SongWriter, RefusesWhatTheFormatCannotHold) {
    struct Case {
        const char *what;
        std::function<void(SongDescription &)> change;
    } cases[] = {
        {"notes out of order",
         [](SongDescription &s) {
             s.channels[0].notes = {{10, 60, 1}, {9, 60, 0}};
         }},
        {"negative tick",
         [](SongDescription &s) {
             s.channels[0].notes = {{-1, 60, 1}};
         }},
        {"delta above 24 bits",
         [](SongDescription &s) {
             s.channels[2].notes = {{16777216, 60, 1}};
         }},
        {"program without notes",
         [](SongDescription &s) {
             s.channels[3].programs = {{0, 1}};
         }},
        {"controller without notes",
         [](SongDescription &s) {
             s.channels[4].controllers[6] = {{0, 1}};
         }},
        {"global events out of order",
         [](SongDescription &s) {
             s.globals = {{5, 1}, {4, 1}};
         }},
        {"ticks per beat 0", [](SongDescription &s) { s.ticks_per_beat = 0; }},
        {"globals block too large", [](SongDescription &s) { s.globals_block.assign(16385, 0); }},
        {"257 speech texts", [](SongDescription &s) { s.speech_texts.assign(257, "a"); }},
        {"speech section too large", [](SongDescription &s) { s.speech_texts = {std::string(8200, 'a')}; }},
        {"zero byte in a text", [](SongDescription &s) { s.speech_texts = {std::string("a\0b", 3)}; }},
        // Streams that emit one event per call never return to tick 0 for a second event there.
        {"two program changes at tick 0",
         [](SongDescription &s) {
             s.channels[0].notes = {{0, 60, 1}};
             s.channels[0].programs = {{0, 1}, {0, 2}};
         }},
        {"two pitch bends at tick 0",
         [](SongDescription &s) {
             s.channels[1].notes = {{5, 60, 1}};
             s.channels[1].pitch_bends = {{0, 0, 64}, {0, 0, 65}};
         }},
        {"two controller events at tick 0",
         [](SongDescription &s) {
             s.channels[2].notes = {{5, 60, 1}};
             s.channels[2].controllers[3] = {{0, 1}, {0, 2}, {7, 3}};
         }},
        {"two global events at tick 0",
         [](SongDescription &s) {
             s.globals = {{0, 400000}, {0, 300000}};
         }},
        {"256 modulation entries",
         [](SongDescription &s) { s.patches.resize(1), s.patches[0].mods.resize(256); }},
    };
    for (const Case &c : cases) {
        SongDescription s;
        c.change(s);
        std::vector<std::uint8_t> image;
        std::string error;
        EXPECT_FALSE(song_write_image(s, &image, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
    // Accepted: the largest delta; a chord at tick 0; repeated program changes at a later tick.
    SongDescription s;
    s.channels[2].notes = {{16777215, 60, 1}};
    s.channels[3].notes = {{0, 60, 1}, {0, 64, 1}, {0, 67, 1}};
    s.channels[3].programs = {{0, 1}, {9, 2}, {9, 3}};
    s.globals = {{0, 400000}, {9, 300000}, {9, 200000}};
    std::vector<std::uint8_t> image;
    std::string error;
    EXPECT_TRUE(song_write_image(s, &image, &error)) << error;
}

} // namespace
