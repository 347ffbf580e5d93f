#include "synth/lfo.h"

#include "platform/clock.h"
#include "synth/numeric.h"

#include <gtest/gtest.h>

namespace {

struct LfoParams {
    float mode, keySync, envMode, rate, phase, polarity, amplify;
};

LfoState make_lfo(const LfoParams &p) {
    LfoState l{};
    lfo_reset(&l);
    const float params[LFO_PARAM_COUNT] = {p.mode,  p.keySync,  p.envMode, p.rate,
                                           p.phase, p.polarity, p.amplify};
    lfo_set(&l, params);
    return l;
}

constexpr float TOP = 0.99999988079071044921875f; // phase_to_unit(0xFFFFFFFF)

TEST(LfoSet, RateAndStartPhase) {
    struct Case {
        float p;
        std::uint32_t increment;
        std::uint32_t startPhase;
    };
    const Case cases[] = {
        {0.0f, 1u << 20, 0u},
        {64.0f, 1u << 25, 0x80000000u},
        {128.0f, 1u << 30, 0u},         // phase 128 wraps to 0, like phase 0
        {32.0f, 5931642u, 0x40000000u}, // 2^22.5 rounded
    };
    for (const Case &c : cases) {
        LfoState l = make_lfo({0, 0, 0, c.p, c.p, 0, 1});
        EXPECT_EQ(l.increment, c.increment) << "p=" << c.p;
        EXPECT_EQ(l.startPhase, c.startPhase) << "p=" << c.p;
    }
}

TEST(LfoTick, WaveSequencesAtRate128) {
    struct Case {
        const char *name;
        LfoParams params;
        float expected[5];
    };
    const Case cases[] = {
        {"saw positive", {0, 0, 0, 128, 0, 0, 64}, {0.0f, 16.0f, 32.0f, 48.0f, 0.0f}},
        {"saw negative", {0, 0, 0, 128, 0, 1, 64}, {0.0f, -16.0f, -32.0f, -48.0f, 0.0f}},
        {"saw polarity 3 acts positive", {0, 0, 0, 128, 0, 3, 64}, {0.0f, 16.0f, 32.0f, 48.0f, 0.0f}},
        {"mode 5 acts as saw", {5, 0, 0, 128, 0, 0, 64}, {0.0f, 16.0f, 32.0f, 48.0f, 0.0f}},
        {"mode 9 is triangle",
         {9, 0, 0, 128, 0, 0, 64},
         {0.0f, 32.0f, TOP * 64.0f, 32.0f - 64.0f * 0x1p-23f, 0.0f}},
        {"pulse bipolar", {2, 0, 0, 128, 0, 2, 64}, {-32.0f, -32.0f, 31.9999924f, 31.9999924f, -32.0f}},
    };
    for (const Case &c : cases) {
        LfoState l = make_lfo(c.params);
        for (int i = 0; i < 5; ++i) {
            lfo_tick(&l);
            EXPECT_FLOAT_EQ(l.output, c.expected[i]) << c.name << " tick " << i;
        }
    }
    // Sine at phase 0: exactly half the amplify value; then up first.
    LfoState sine = make_lfo({3, 0, 0, 128, 0, 0, 64});
    lfo_tick(&sine);
    EXPECT_EQ(sine.output, 32.0f);
    lfo_tick(&sine);
    EXPECT_NEAR(sine.output, 64.0f, 1e-3);
    lfo_tick(&sine);
    EXPECT_NEAR(sine.output, 32.0f, 1e-3);
    lfo_tick(&sine);
    EXPECT_NEAR(sine.output, 0.0f, 1e-3);
}

TEST(LfoTick, EnvelopeModeRunsOneCycleFromStartPhaseThenHolds) {
    LfoState l = make_lfo({0, 1, 1, 128, 64, 0, 100});
    for (int note = 0; note < 2; ++note) {
        lfo_note_start(&l);
        const float expected[] = {50.0f, 75.0f, TOP * 100.0f, TOP * 100.0f, TOP * 100.0f, TOP * 100.0f};
        for (float v : expected) {
            lfo_tick(&l);
            EXPECT_FLOAT_EQ(l.output, v) << "note " << note;
        }
        EXPECT_EQ(l.phase, 0xFFFFFFFFu);
    }
}

TEST(LfoTick, KeySyncOffRunsOnAcrossNotes) {
    LfoState l = make_lfo({0, 0, 0, 128, 64, 0, 64});
    lfo_tick(&l);
    lfo_note_start(&l);
    lfo_tick(&l);
    EXPECT_EQ(l.output, 16.0f);
}

TEST(LfoTick, SampleHoldDrawsOncePerCycle) {
    clock_fix(0x123456789ABCDEF0ull);
    LfoState l = make_lfo({4, 0, 0, 128, 0, 0, 128});
    clock_release_fixed();
    EXPECT_EQ(l.randomState, 0x9ABCDEF0u);
    // Without key sync the value seeded at reset holds until the phase first wraps.
    for (int i = 0; i < 4; ++i) {
        lfo_tick(&l);
        EXPECT_EQ(l.output, phase_to_unit(0x9ABCDEF0u) * 128.0f) << i;
    }
    const std::uint32_t next = next_random(0x9ABCDEF0u);
    for (int i = 0; i < 4; ++i) {
        lfo_tick(&l);
        EXPECT_EQ(l.output, phase_to_unit(next) * 128.0f) << i;
    }
    // A key-synced note start draws a new value at the next tick, even mid-cycle.
    LfoState synced = make_lfo({4, 1, 0, 0, 0, 0, 128});
    synced.randomState = 7;
    lfo_tick(&synced);
    EXPECT_EQ(synced.output, phase_to_unit(7) * 128.0f);
    lfo_note_start(&synced);
    lfo_tick(&synced);
    EXPECT_EQ(synced.output, phase_to_unit(next_random(7)) * 128.0f);
}

TEST(LfoReset, ClearsPhasesKeepsSettings) {
    LfoState l = make_lfo({0, 1, 0, 100, 30, 2, 50});
    lfo_tick(&l);
    lfo_tick(&l);
    const LfoState before = l;
    lfo_reset(&l);
    EXPECT_EQ(l.phase, 0u);
    EXPECT_EQ(l.lastPhase, 0u);
    EXPECT_EQ(l.increment, before.increment);
    EXPECT_EQ(l.amplitude, before.amplitude);
    EXPECT_EQ(l.offset, before.offset);
    EXPECT_EQ(l.output, before.output);
}

} // namespace
