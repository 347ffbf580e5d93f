#include "synth/midi.h"

#include "synth/numeric.h"
#include "synth/patch_builder.h"
#include "synth/rate.h"

#include <cfenv>
#include <cmath>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace {

class MidiTest : public ::testing::Test {
  protected:
    void init(const std::vector<TestPatch> &patches) {
        map = build_patch_map(patches);
        synth_init(s.get(), map.data(), static_cast<std::uint32_t>(map.size()), 44100);
    }
    void SetUp() override { init({TestPatch{}, TestPatch{}}); }

    void midi(std::vector<std::uint8_t> bytes) {
        bytes.push_back(0xFD);
        synth_process_midi(s.get(), bytes.data());
    }
    int owned(int ch) const {
        int n = 0;
        for (int v = 0; v < VOICE_COUNT; ++v) n += s->voice_channel[v] == ch;
        return n;
    }
    int voice_of(int ch, int note) const {
        for (int v = 0; v < VOICE_COUNT; ++v)
            if (s->voice_channel[v] == ch && s->voices[v].note == note) return v;
        return -1;
    }

    std::unique_ptr<SynthState> s = std::make_unique<SynthState>();
    std::vector<std::uint8_t> map;
};

TEST_F(MidiTest, InitialState) {
    EXPECT_EQ(frame_length, 128);
    EXPECT_EQ(s->sample_rate, 44100);
    EXPECT_EQ(s->running_status, 0);
    EXPECT_EQ(s->age_counter, 0u);
    for (int ch = 0; ch < CHANNEL_COUNT; ++ch) {
        EXPECT_EQ(s->channel_controls[ch][0], 0) << ch;
        for (int k = 1; k <= 6; ++k) EXPECT_EQ(s->channel_controls[ch][k], 0) << ch;
        EXPECT_EQ(s->channel_controls[ch][7], 127) << ch;
    }
    for (int v = 0; v < VOICE_COUNT; ++v) EXPECT_EQ(s->voice_channel[v], -1) << v;
}

TEST_F(MidiTest, DataBytesBeforeAnyStatusEndTheBuffer) {
    midi({0x3C, 0x64, 0x90, 0x3C, 0x64});
    EXPECT_EQ(owned(0), 0);
    EXPECT_EQ(s->running_status, 0);
}

TEST_F(MidiTest, RunningStatusStartsSecondNote) {
    midi({0x90, 0x3C, 0x64, 0x40, 0x64});
    EXPECT_EQ(owned(0), 2);
    EXPECT_EQ(s->voices[0].note, 0x3C);
    EXPECT_EQ(s->voices[1].note, 0x40);
    EXPECT_EQ(s->voices[1].velocity, 100.0f);
    EXPECT_EQ(s->voice_age[1], 1u);
    EXPECT_EQ(s->age_counter, 2u);
    EXPECT_EQ(s->channel_last_voice[0], 1);
    // Running status survives into the next buffer.
    midi({0x43, 0x50});
    EXPECT_EQ(owned(0), 3);
}

TEST_F(MidiTest, ReleaseTakesOnlyTheLowestHeldVoiceOfThatNote) {
    midi({0x92, 60, 100, 60, 90, 0x93, 60, 100});
    ASSERT_EQ(owned(2), 2);
    // Note on with velocity 0 releases exactly like note off.
    midi({0x92, 60, 0});
    EXPECT_EQ(s->voices[0].gate, 0);
    EXPECT_EQ(s->voices[1].gate, 1);
    EXPECT_EQ(s->voices[2].gate, 1); // channel 3 untouched
    midi({0x82, 60, 0});
    EXPECT_EQ(s->voices[1].gate, 0);
    midi({0x82, 60, 0}); // no held match left: nothing happens
    EXPECT_EQ(s->voices[2].gate, 1);
    EXPECT_EQ(owned(2), 2); // released voices stay owned until their envelope ends
}

TEST_F(MidiTest, FullChannelTakesItsOwnVoice) {
    TestPatch mono;
    mono.polyphony = 1;
    init({mono});
    midi({0x90, 60, 100});
    midi({0x91, 50, 100}); // another channel's voice: index 1
    midi({0x90, 62, 100});
    EXPECT_EQ(owned(0), 1);
    EXPECT_EQ(s->voice_channel[0], 0);
    EXPECT_EQ(s->voices[0].note, 62);
    EXPECT_EQ(s->voice_age[0], 2u);
    EXPECT_EQ(s->voices[1].note, 50);
}

TEST_F(MidiTest, FullChannelPrefersItsOldestReleasingVoice) {
    TestPatch three;
    three.polyphony = 3;
    init({three});
    midi({0x90, 60, 100, 61, 100, 62, 100, 0x80, 62, 0, 61, 0});
    // Voices 1 (age 1) and 2 (age 2) are releasing, voice 0 (age 0) is held: voice 1 is taken.
    midi({0x90, 70, 100});
    EXPECT_EQ(s->voices[1].note, 70);
    EXPECT_EQ(s->voices[1].gate, 1);
    EXPECT_EQ(s->voices[0].note, 60);
    EXPECT_EQ(s->voices[2].note, 62);
    // The remaining releasing voice 2 goes next; then, all held, the oldest (voice 0).
    midi({0x90, 71, 100, 72, 100});
    EXPECT_EQ(s->voices[2].note, 71);
    EXPECT_EQ(s->voices[0].note, 72);
}

TEST_F(MidiTest, NoFreeVoiceStealsOldestReleasingOfAnyChannelFirst) {
    TestPatch wide;
    wide.polyphony = 64;
    init({wide});
    for (int v = 0; v < VOICE_COUNT; ++v)
        midi({static_cast<std::uint8_t>(0x90 | (v % 3)), static_cast<std::uint8_t>(v), 100});
    // Release voices 10 and 20 (channels 1 and 2), leaving all others held.
    midi({0x81, 10, 0, 0x82, 20, 0});
    midi({0x90, 100, 100});
    EXPECT_EQ(s->voice_channel[10], 0);
    EXPECT_EQ(s->voices[10].note, 100);
    midi({0x90, 101, 100});
    EXPECT_EQ(s->voices[20].note, 101);
    // None releasing: the oldest of all, voice 0.
    midi({0x90, 102, 100});
    EXPECT_EQ(s->voices[0].note, 102);
}

TEST_F(MidiTest, PolyphonyZeroIgnoresTheNote) {
    TestPatch none;
    none.polyphony = 0;
    init({none});
    midi({0x90, 60, 100});
    EXPECT_EQ(owned(0), 0);
    EXPECT_EQ(s->age_counter, 0u);
}

TEST_F(MidiTest, ProgramChange) {
    midi({0x90, 60, 100, 0xB0, 1, 50, 2, 51, 6, 52, 7, 90});
    midi({0xC0, 0}); // the current program
    EXPECT_EQ(s->voice_channel[0], 0);
    EXPECT_EQ(s->channel_controls[0][1], 0);
    EXPECT_EQ(s->channel_controls[0][2], 0);
    EXPECT_EQ(s->channel_controls[0][6], 0);
    EXPECT_EQ(s->channel_controls[0][7], 90);

    midi({0xB0, 3, 40, 0xC0, 1});
    EXPECT_EQ(s->channel_controls[0][0], 1);
    EXPECT_EQ(s->channel_controls[0][3], 0);
    EXPECT_EQ(s->voice_channel[0], -1);
    EXPECT_EQ(s->voices[0].gate, 1); // freed without release
}

TEST_F(MidiTest, PressureAndPitchBendAreConsumedWithoutEffect) {
    midi({0xE0, 0x10, 0x20, 0x90, 60, 100, 0xD0, 0x30, 0x90, 62, 100, 0xA0, 60, 5, 0x90, 64, 100});
    EXPECT_EQ(owned(0), 3);
    EXPECT_EQ(s->voices[0].velocity, 100.0f);
    EXPECT_EQ(s->voices[0].gate, 1);
    EXPECT_EQ(s->voices[2].note, 64);
}

TEST_F(MidiTest, AllNotesOffAndAllSoundOff) {
    midi({0x90, 60, 100, 61, 100, 0x91, 62, 100});
    midi({0xB0, 123, 0});
    EXPECT_EQ(s->voices[0].gate, 0);
    EXPECT_EQ(s->voices[1].gate, 0);
    EXPECT_EQ(s->voice_channel[0], 0);
    EXPECT_EQ(s->voices[2].gate, 1);
    midi({0xB1, 127, 0}); // 123 and above
    EXPECT_EQ(s->voices[2].gate, 0);

    s->voices[0].env1.state = ENV_STAGE_SUSTAIN;
    midi({0xB0, 120, 0});
    EXPECT_EQ(s->voice_channel[0], -1);
    EXPECT_EQ(s->voice_channel[1], -1);
    EXPECT_EQ(s->voice_channel[2], 1);
    EXPECT_EQ(s->voices[0].env1.state, ENV_STAGE_OFF); // reset
    // Controllers 0, 8..119, 121 and 122 do nothing.
    midi({0x91, 63, 100, 0xB1, 0, 5, 8, 5, 119, 5, 121, 5, 122, 5});
    EXPECT_EQ(owned(1), 2);
    EXPECT_EQ(s->voices[0].gate, 1);
}

TEST_F(MidiTest, SystemMessages) {
    midi({0x90, 60, 100, 0xC1, 1, 0xB1, 7, 20});
    // Data bytes after 0xF0..0xFE are skipped up to the next status byte.
    midi({0xF0, 1, 2, 3, 0x90, 61, 100, 0xF8, 62, 100});
    EXPECT_EQ(owned(0), 2);
    EXPECT_EQ(s->running_status, 0xF8);
    // System reset: everything back to its initial value, the patch map kept.
    midi({0xFF});
    EXPECT_EQ(owned(0), 0);
    EXPECT_EQ(s->channel_controls[1][0], 0);
    EXPECT_EQ(s->channel_controls[1][7], 127);
    EXPECT_EQ(s->running_status, 0);
    EXPECT_EQ(s->patch_map, map.data());
    midi({0x90, 60, 100});
    EXPECT_EQ(owned(0), 1);
}

// The sequencer forms data bytes modulo 256, so they may have the top bit set; they stay data, and
// only a message's first byte can be a status byte or the end marker.
TEST_F(MidiTest, DataBytesWithTheTopBitSetAreData) {
    struct Case {
        const char *name;
        std::vector<std::uint8_t> bytes;
        int status, program, controller1, voices, note, velocity;
    };
    const Case cases[] = {
        {"program 0x82 is program 2", {0xC0, 0x82}, 0xC0, 2, 0, 0, -1, -1},
        {"velocity 0xFD is not the end", {0x90, 60, 0xFD, 62, 100}, 0x90, 0, 0, 2, 60, 253},
        {"note 0x90 is a note", {0x90, 0x90, 100}, 0x90, 0, 0, 1, 144, 100},
        {"controller value 200", {0xB0, 1, 0xC8}, 0xB0, 0, 200, 0, -1, -1},
        {"pitch bend 0x80 0xFF, then a note", {0xE0, 0x80, 0xFF, 0x90, 60, 100}, 0x90, 0, 0, 1, 60, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        init({TestPatch{}, TestPatch{}, TestPatch{}});
        midi(c.bytes);
        EXPECT_EQ(s->running_status, c.status);
        EXPECT_EQ(s->channel_controls[0][0], c.program);
        EXPECT_EQ(s->channel_controls[0][1], c.controller1);
        EXPECT_EQ(owned(0), c.voices);
        if (c.voices == 0) continue;
        EXPECT_EQ(s->voices[0].note, c.note);
        EXPECT_EQ(s->voices[0].velocity, static_cast<float>(c.velocity));
    }
}

TEST_F(MidiTest, RestoresCallersRoundingMode) {
    const int before = std::fegetround();
    std::fesetround(FE_UPWARD);
    midi({0x90, 60, 100});
    EXPECT_EQ(std::fegetround(), FE_UPWARD);
    std::fesetround(before);
}

// --- Patch map, refresh and modulation ---

TEST_F(MidiTest, ModulationSumsAreClampedPerEntry) {
    TestPatch p;
    p.voice[3] = 10;
    p.voice[5] = 127;
    p.voice[6] = 10;
    // Source 12: (note - 48) * 2 = 26 for note 61; amount 32 = factor -0.5, 96 = +0.5.
    p.entries = {{12, 32, 3}, {12, 96, 5}, {12, 32, 6}, {12, 20, 6}, {12, 96, 6}};
    init({p});
    midi({0x90, 61, 100});
    synth_refresh_voice(s.get(), 0);
    EXPECT_EQ(s->voice_params[0][3], 0.0f);   // 10 - 13 = -3
    EXPECT_EQ(s->voice_params[0][5], 128.0f); // 127 + 13 = 140
    // -3 -> 0, then 0 - 17.875 -> 0, then + 13: each sum is clamped before the next entry.
    EXPECT_EQ(s->voice_params[0][6], 13.0f);
    EXPECT_FALSE(std::signbit(s->voice_params[0][3]));
}

TEST_F(MidiTest, RefreshAtNoteStartSeesThePreviousNote) {
    TestPatch p;
    p.entries = {{0, 127, 20}, {12, 96, 21}};
    init({p});
    midi({0x90, 60, 100});
    EXPECT_EQ(s->voice_params[0][20], 0.0f); // velocity of the unused voice: 0
    EXPECT_EQ(s->voice_params[0][21], 0.0f); // (0 - 48) * 2 * 0.5 clamps to 0
    synth_refresh_voice(s.get(), 0);
    EXPECT_EQ(s->voice_params[0][20], 100.0f * 0.984375f);
    EXPECT_EQ(s->voice_params[0][21], 12.0f);
}

TEST_F(MidiTest, SourcesAndDestinationsSplitBetweenVoiceAndChannel) {
    TestPatch p;
    p.voice[30] = 40;
    p.channel[0] = 5;
    p.channel[28] = 100;
    p.entries = {{7, 127, 59}, {1, 0, 87}, {3, 96, 30}, {0, 96, 88}, {0, 96, 255}, {8, 96, 60}};
    init({p});
    midi({0xB0, 1, 20, 3, 30, 7, 90, 0x90, 60, 100});
    synth_refresh_voice(s.get(), 0);
    EXPECT_EQ(s->voice_params[0][30], 55.0f); // 40 + 30 * 0.5
    for (int i = 0; i < VOICE_PARAM_COUNT; ++i) {
        if (i == 30) continue;
        EXPECT_EQ(s->voice_params[0][i], 0.0f) << i;
    }

    s->voices[0].env1.output = 64.0f;
    float out[CHANNEL_PARAM_COUNT];
    synth_refresh_channel_params(s.get(), 0, out);
    EXPECT_EQ(out[0], 5.0f + 90.0f * 0.984375f);
    EXPECT_EQ(out[1], 32.0f); // envelope 1 of the channel's last voice
    EXPECT_EQ(out[28], 80.0f);
    for (int k = 2; k < 28; ++k) EXPECT_EQ(out[k], 0.0f) << k;
}

// Patch bytes above 128 come only from a foreign song; they are held at the top of the scale, where
// every unit stays finite (pan 255 would take the square root of -0.99).
TEST_F(MidiTest, PatchBytesAbove128AreHeldAt128) {
    TestPatch p;
    p.voice[0] = 255;
    p.voice[1] = 127;
    p.voice[21] = 200;
    p.voice[22] = 128;
    p.channel[0] = 129;
    p.channel[1] = 128;
    init({p});
    midi({0x90, 60, 100});
    struct Case {
        int index;
        float expected;
    };
    for (const Case &c : {Case{0, 128.0f}, Case{1, 127.0f}, Case{21, 128.0f}, Case{22, 128.0f}})
        EXPECT_EQ(s->voice_params[0][c.index], c.expected) << "voice parameter " << c.index;
    EXPECT_EQ(s->voices[0].gainLeft, 0.0f);
    EXPECT_EQ(s->voices[0].gainRight, 1.0f);
    float out[CHANNEL_PARAM_COUNT];
    synth_refresh_channel_params(s.get(), 0, out);
    EXPECT_EQ(out[0], 128.0f);
    EXPECT_EQ(out[1], 128.0f);
}

TEST_F(MidiTest, ProgramsWithoutAPatchInsideTheMapAreSilent) {
    TestPatch p;
    p.channel[0] = 100;
    p.entries = {{0, 127, 10}};
    std::vector<std::uint8_t> bytes = build_patch_map({p, p, p, p});
    // Program 1 points beyond the section; program 2's entries run past its end (truncated map).
    bytes[4] = 0xFF;
    bytes[5] = 0xFF;
    const std::uint32_t truncated = static_cast<std::uint32_t>(bytes.size()) - 1;
    bytes[8] = bytes[12];
    bytes[9] = bytes[13];
    map = bytes;
    synth_init(s.get(), map.data(), truncated, 44100);
    // Program 2 now shares program 3's offset, the last patch, whose last entry byte is cut off.

    struct Case {
        std::uint8_t program;
        bool has_patch;
    };
    const Case cases[] = {{0, true}, {1, false}, {2, false}, {3, false}, {100, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.program));
        EXPECT_EQ(synth_find_patch(s.get(), c.program) != nullptr, c.has_patch);
        midi({0xC4, c.program, 0x94, 60, 100});
        EXPECT_EQ(owned(4), c.has_patch ? 1 : 0);
        float out[CHANNEL_PARAM_COUNT];
        synth_refresh_channel_params(s.get(), 4, out);
        EXPECT_EQ(out[0], c.has_patch ? 100.0f : 0.0f);
        midi({0xB4, 120, 0});
    }

    synth_init(s.get(), nullptr, 0, 44100);
    EXPECT_EQ(synth_find_patch(s.get(), 0), nullptr);
    midi({0x90, 60, 100});
    EXPECT_EQ(owned(0), 0);
}

} // namespace
