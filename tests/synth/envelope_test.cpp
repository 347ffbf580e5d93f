#include "synth/envelope.h"

#include "synth/numeric.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

struct EnvParams {
    float attack, decay, sustain, sustainTime, release, amplify;
};

EnvelopeState make_env(const EnvParams &p) {
    EnvelopeState e{};
    const float params[ENV_PARAM_COUNT] = {p.attack, p.decay, p.sustain, p.sustainTime, p.release, p.amplify};
    env_set(&e, params);
    env_reset(&e);
    return e;
}

TEST(EnvelopeSet, ParameterScaling) {
    struct Case {
        float p;
        float attackInc, decayMul, sustainMul, amplify;
    };
    // Sustain-time factors at 0 and 128 are 2^(-/+64 * 0.0019375) by the formula.
    const Case cases[] = {
        {0.0f, 128.0f, 0.0f, 0.91764f, 0.0f},
        {64.0f, 2.0f, 1.0f - static_cast<float>(std::exp2(-5.5)), 1.0f, 0.5f},
        {128.0f, 0x1p-5f, 1.0f - 0x1p-11f, 1.0898f, 1.0f},
    };
    for (const Case &c : cases) {
        EnvelopeState e = make_env({c.p, c.p, c.p, c.p, c.p, c.p});
        EXPECT_FLOAT_EQ(e.attackInc, c.attackInc) << "p=" << c.p;
        EXPECT_FLOAT_EQ(e.decayMul, c.decayMul) << "p=" << c.p;
        EXPECT_FLOAT_EQ(e.releaseMul, c.decayMul) << "p=" << c.p;
        EXPECT_NEAR(e.sustainMul, c.sustainMul, 1e-4) << "p=" << c.p;
        EXPECT_EQ(e.sustainLevel, c.p);
        EXPECT_EQ(e.amplify, c.amplify);
    }
    // Sustain time 64 holds the level exactly; attack 0 is a single frame to full level.
    EnvelopeState held = make_env({0, 0, 0, 64, 0, 0});
    EXPECT_EQ(held.sustainMul, 1.0f);
    EXPECT_EQ(held.attackInc, 128.0f);
    EXPECT_EQ(held.decayMul, 0.0f);
}

TEST(EnvelopeTick, ShortestEnvelopeStepSequence) {
    EnvelopeState e = make_env({0, 0, 64, 64, 0, 128});
    const float held[] = {128.0f, 64.0f, 64.0f, 64.0f};
    const std::int32_t states[] = {ENV_STAGE_DECAY, ENV_STAGE_SUSTAIN, ENV_STAGE_SUSTAIN, ENV_STAGE_SUSTAIN};
    for (int i = 0; i < 4; ++i) {
        env_tick(&e, 1);
        EXPECT_EQ(e.output, held[i]) << "tick " << i;
        EXPECT_EQ(e.state, states[i]) << "tick " << i;
    }
    env_tick(&e, 0);
    EXPECT_EQ(e.output, 0.0f);
    EXPECT_EQ(e.level, 0.0f);
    EXPECT_EQ(e.state, ENV_STAGE_OFF);
}

TEST(EnvelopeTick, SlowestAttackTakes4096Frames) {
    EnvelopeState e = make_env({128, 0, 64, 64, 0, 128});
    for (int i = 0; i < 4095; ++i) env_tick(&e, 1);
    EXPECT_EQ(e.state, ENV_STAGE_ATTACK);
    EXPECT_EQ(e.level, 128.0f - 0x1p-5f);
    env_tick(&e, 1);
    EXPECT_EQ(e.level, 128.0f);
    EXPECT_EQ(e.state, ENV_STAGE_DECAY);
}

// Runs a held envelope until it switches off; returns the number of ticks, or -1 after `limit`.
int ticks_until_off(EnvelopeState *e, int limit) {
    for (int i = 1; i <= limit; ++i) {
        const float before = e->level;
        env_tick(e, 1);
        if (e->state == ENV_STAGE_OFF) {
            EXPECT_GT(before, ENV_OFF_LEVEL);
            EXPECT_EQ(e->level, 0.0f);
            return i;
        }
    }
    return -1;
}

TEST(EnvelopeTick, HeldNoteCanEndWithoutRelease) {
    // Sustain 0: decay runs down to 2^-13 and the envelope goes Off with the key still held.
    EnvelopeState decaying = make_env({0, 64, 0, 64, 0, 128});
    env_tick(&decaying, 1); // attack to 128
    const float m = decaying.decayMul;
    const int n = ticks_until_off(&decaying, 1000);
    // 128 * m^k <= 2^-13  =>  k >= 20 / -log2(m)
    const int expected = static_cast<int>(std::ceil(20.0 / -std::log2(static_cast<double>(m))));
    EXPECT_NEAR(n, expected, 1);

    // Sustain time 0: the held level fades by ~0.91764 per frame from the sustain level.
    EnvelopeState fading = make_env({0, 0, 100, 0, 0, 128});
    env_tick(&fading, 1); // attack
    env_tick(&fading, 1); // decay drops straight to the sustain level
    EXPECT_EQ(fading.level, 100.0f);
    EXPECT_EQ(fading.state, ENV_STAGE_SUSTAIN);
    env_tick(&fading, 1);
    EXPECT_NEAR(fading.level, 91.764f, 1e-3);
    EXPECT_GT(ticks_until_off(&fading, 1000), 0);
}

TEST(EnvelopeTick, SustainAbove64RisesAndClamps) {
    EnvelopeState e = make_env({0, 0, 100, 128, 0, 128});
    env_tick(&e, 1);
    env_tick(&e, 1);
    for (int i = 0; i < 10; ++i) env_tick(&e, 1);
    EXPECT_EQ(e.level, 128.0f);
    EXPECT_EQ(e.state, ENV_STAGE_SUSTAIN);
}

TEST(EnvelopeTick, ReleaseDuringAttackAppliesReleaseAtOnce) {
    EnvelopeState e = make_env({100, 0, 64, 64, 64, 128});
    env_tick(&e, 1);
    env_tick(&e, 1);
    const float level = e.level;
    ASSERT_EQ(e.state, ENV_STAGE_ATTACK);
    env_tick(&e, 0);
    EXPECT_EQ(e.state, ENV_STAGE_RELEASE);
    EXPECT_EQ(e.level, level * e.releaseMul); // no attack increment in this tick
}

TEST(EnvelopeTick, GateDuringReleaseRestartsAttackFromCurrentLevel) {
    EnvelopeState e = make_env({64, 0, 64, 64, 100, 128});
    for (int i = 0; i < 5; ++i) env_tick(&e, 1);
    env_tick(&e, 0);
    env_tick(&e, 0);
    ASSERT_EQ(e.state, ENV_STAGE_RELEASE);
    const float level = e.level;
    ASSERT_GT(level, 0.0f);
    env_tick(&e, 1);
    EXPECT_EQ(e.state, ENV_STAGE_ATTACK);
    EXPECT_EQ(e.level, level + e.attackInc);
}

TEST(EnvelopeTick, AmplifyZeroSilencesButKeepsStages) {
    EnvelopeState loud = make_env({10, 70, 30, 40, 50, 128});
    EnvelopeState mute = make_env({10, 70, 30, 40, 50, 0});
    for (int i = 0; i < 400; ++i) {
        const std::int32_t gate = i < 200 ? 1 : 0;
        env_tick(&loud, gate);
        env_tick(&mute, gate);
        ASSERT_EQ(mute.output, 0.0f);
        ASSERT_EQ(mute.state, loud.state) << "tick " << i;
        ASSERT_EQ(mute.level, loud.level) << "tick " << i;
        ASSERT_EQ(loud.output, loud.level);
    }
}

TEST(EnvelopeTick, OffWithoutGateClearsLevelAndResetKeepsIt) {
    EnvelopeState e = make_env({0, 0, 64, 64, 0, 128});
    env_tick(&e, 1);
    env_tick(&e, 1);
    env_reset(&e);
    EXPECT_EQ(e.state, ENV_STAGE_OFF);
    EXPECT_EQ(e.level, 64.0f);
    env_tick(&e, 0);
    EXPECT_EQ(e.level, 0.0f);
    EXPECT_EQ(e.output, 0.0f);
}

TEST(EnvelopeTick, EnvelopeOffWhileHeldRestartsAttack) {
    // The cycle envelope 2 repeats while the key is held: Off with gate starts a new attack from 0.
    EnvelopeState e = make_env({0, 0, 0, 64, 0, 128});
    env_tick(&e, 1); // 128, Decay
    env_tick(&e, 1); // decay to 0 -> Sustain at 0
    env_tick(&e, 1); // sustain at 0 -> Off
    EXPECT_EQ(e.state, ENV_STAGE_OFF);
    env_tick(&e, 1);
    EXPECT_EQ(e.state, ENV_STAGE_DECAY);
    EXPECT_EQ(e.output, 128.0f);
}

} // namespace
