// The speech voice inside the synthesizer: initialisation and the MIDI events of channel 15.
#include "patch_builder.h"
#include "synth/global_effects.h"
#include "synth/midi.h"
#include "synth/render.h"
#include "synth/speech.h"
#include "synth/synth_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

class SpeechWiringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        synth_init(s.get(), nullptr, 0, 44100);
        // "!m_n": waits for a note-on, then a note-off.
        speech_set_texts(&s->speech, table, text + sizeof text);
    }
    void midi(std::vector<std::uint8_t> bytes) {
        bytes.push_back(0xFD);
        synth_process_midi(s.get(), bytes.data());
    }

    std::unique_ptr<SynthState> s = std::make_unique<SynthState>();
    const std::uint8_t text[5] = {'!', 'm', '_', 'n', 0};
    const std::uint8_t *table[SPEECH_TABLE_SIZE] = {text};
};

TEST_F(SpeechWiringTest, InitStartsTheVoiceOnTheEmptyText) {
    synth_init(s.get(), nullptr, 0, 48000);
    EXPECT_EQ(s->speech.frame_ticks, 3);
    EXPECT_EQ(s->speech.formant_scale, 1.0f);
    EXPECT_EQ(s->speech.texts[0], nullptr) << "texts are not kept across an initialisation";
    ASSERT_NE(s->speech.text_position, nullptr);
    EXPECT_EQ(*s->speech.text_position, 0);
    EXPECT_NEAR(speech_shared().two_pi_over_rate, 6.283185307179586 / 48000, 1e-10);
}

TEST_F(SpeechWiringTest, NoteEventsOfChannel15EndTheWaits) {
    speech_tick(&s->speech);
    ASSERT_EQ(s->speech.wait_note_on, 1);
    midi({0x9E, 60, 100}); // channel 14: not the speech channel
    EXPECT_EQ(s->speech.wait_note_on, 1);
    midi({0x8F, 60, 0}); // a note-off on channel 15 does not end a note-on wait
    EXPECT_EQ(s->speech.wait_note_on, 1);
    midi({0x9F, 60, 100});
    EXPECT_EQ(s->speech.wait_note_on, 0);

    const struct {
        const char *what;
        std::vector<std::uint8_t> bytes;
    } releases[] = {{"note off", {0x8F, 60, 64}},
                    {"note on with velocity 0", {0x9F, 60, 0}},
                    {"controller 123", {0xBF, 123, 0}},
                    {"controller 127", {0xBF, 127, 0}}};
    for (const auto &r : releases) {
        SCOPED_TRACE(r.what);
        s->speech.wait_note_off = 1;
        midi({0xBE, 123, 0}); // channel 14
        EXPECT_EQ(s->speech.wait_note_off, 1);
        midi(r.bytes);
        EXPECT_EQ(s->speech.wait_note_off, 0);
    }
}

TEST_F(SpeechWiringTest, ControllersOfChannel15ReachTheVoice) {
    midi({0xBE, 4, 127, 5, 0}); // channel 14
    EXPECT_EQ(s->speech.frame_ticks, 3);
    EXPECT_EQ(s->speech.formant_scale, 1.0f);
    midi({0xBF, 4, 127, 5, 0});
    EXPECT_EQ(s->speech.frame_ticks, 64);
    EXPECT_NEAR(s->speech.formant_scale, 0.70710678f, 1e-6f);
    EXPECT_EQ(s->channel_controls[15][4], 127);
    midi({0xBF, 4, 1}); // slot 1 is empty: the empty text
    ASSERT_NE(s->speech.text_position, nullptr);
    EXPECT_EQ(*s->speech.text_position, 0);
    midi({0xBF, 4, 0});
    EXPECT_EQ(s->speech.text_position, text);
}

// Globals that pass the channels through: no reverb, no delay, no compressor, high cut off.
constexpr std::uint8_t PLAIN_GLOBALS[GLOBALS_BLOCK_SIZE] = {114, 0,   70, 0, 64, 64, 0,  0,  0,  0,  64,
                                                            0,   127, 0,  0, 0,  0,  64, 32, 20, 64, 64};

// Renders one hard-left note on `channel` for `frames` frames; the speech voice speaks "ah".
std::vector<float> render_hard_left_note(int channel, int frames, SpeechVoice *speech_after = nullptr) {
    TestPatch p = audible_patch();
    p.voice[0] = 0;     // voice hard left
    p.channel[0] = 100; // channel volume
    p.channel[13] = 64; // chorus passes the signal unchanged
    const std::vector<std::uint8_t> map = build_patch_map({p});
    auto s = std::make_unique<SynthState>();
    synth_init(s.get(), map.data(), static_cast<std::uint32_t>(map.size()), 44100);
    synth_set_globals(s.get(), PLAIN_GLOBALS);
    static const std::uint8_t text[3] = {'a', 'h', 0};
    const std::uint8_t *table[SPEECH_TABLE_SIZE] = {text};
    speech_set_texts(&s->speech, table, text + sizeof text);
    std::vector<std::uint8_t> on = {static_cast<std::uint8_t>(0x90 | channel), 57, 100, 0xFD};
    synth_process_midi(s.get(), on.data());
    std::vector<float> out(2 * 128 * frames);
    synth_render(s.get(), out.data(), 128 * frames, nullptr, 0);
    if (speech_after != nullptr) *speech_after = s->speech;
    return out;
}

TEST(SpeechRender, Channel15IsSpokenOnBothSides) {
    const int frames = 40;
    const std::vector<float> plain = render_hard_left_note(14, frames);
    const std::vector<float> spoken = render_hard_left_note(15, frames);
    double plain_left = 0, plain_right = 0, spoken_left = 0;
    for (int k = 0; k < 128 * frames; ++k) {
        plain_left += plain[2 * k] * plain[2 * k];
        plain_right += plain[2 * k + 1] * plain[2 * k + 1];
        spoken_left += spoken[2 * k] * spoken[2 * k];
        ASSERT_EQ(spoken[2 * k], spoken[2 * k + 1]) << "sample " << k;
    }
    EXPECT_GT(plain_left, 1.0);
    EXPECT_LT(plain_right, 1e-6 * plain_left) << "the voice alone is hard left";
    EXPECT_GT(spoken_left, 1e-3) << "the filtered voice comes out";
}

TEST(SpeechRender, TextWalksOncePerFrameWithoutVoices) {
    SpeechVoice after{};
    render_hard_left_note(14, 5, &after); // channel 15 stays silent
    // "ah" is phoneme 60 for 6 frames of 3 ticks: five ticks leave 4 frames and 1 tick.
    EXPECT_EQ(after.current_phoneme, 60);
    EXPECT_EQ(after.frames_left, 4);
    EXPECT_EQ(after.tick_countdown, 1);
}

} // namespace
