// The speech voice inside the synthesizer: initialisation and the MIDI events of channel 15.
#include "synth/midi.h"
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

} // namespace
