#include "synth/envelope.h"

#include "synth/numeric.h"

namespace {

constexpr float FULL_LEVEL = 128.0f;
// Sustain-time exponent per parameter step (bits 0x3AFDF3B6).
constexpr float SUSTAIN_TIME_FACTOR = 0x1.fbe76cp-10f;

void attack_step(EnvelopeState *e) {
    e->level = e->level + e->attackInc;
    if (e->level >= FULL_LEVEL) {
        e->level = FULL_LEVEL;
        e->state = ENV_STAGE_DECAY;
    }
}

void release_step(EnvelopeState *e) {
    e->level = e->level * e->releaseMul;
    if (e->level <= ENV_OFF_LEVEL) {
        e->level = 0.0f;
        e->state = ENV_STAGE_OFF;
    }
}

} // namespace

void env_set(EnvelopeState *e, const float *p) {
    e->attackInc = exp2(7.0f - 0.09375f * p[0]);
    e->decayMul = 1.0f - exp_curve11(1.0f - p[1] * INV_128);
    e->sustainLevel = p[2];
    e->sustainMul = exp2((p[3] - 64.0f) * SUSTAIN_TIME_FACTOR);
    e->releaseMul = 1.0f - exp_curve11(1.0f - p[4] * INV_128);
    e->amplify = p[5] * INV_128;
}

void env_tick(EnvelopeState *e, std::int32_t gate) {
    // A stage left because of the gate performs the new stage's step in the same tick.
    switch (e->state) {
    case ENV_STAGE_OFF:
        if (gate) {
            e->state = ENV_STAGE_ATTACK;
            attack_step(e);
        } else {
            e->level = 0.0f;
        }
        break;
    case ENV_STAGE_ATTACK:
        if (gate) {
            attack_step(e);
        } else {
            e->state = ENV_STAGE_RELEASE;
            release_step(e);
        }
        break;
    case ENV_STAGE_DECAY:
        if (gate) {
            e->level = e->level * e->decayMul;
            if (e->sustainLevel >= e->level) {
                e->level = e->sustainLevel;
                e->state = ENV_STAGE_SUSTAIN;
            } else if (e->level <= ENV_OFF_LEVEL) {
                e->level = 0.0f;
                e->state = ENV_STAGE_OFF;
            }
        } else {
            e->state = ENV_STAGE_RELEASE;
            release_step(e);
        }
        break;
    case ENV_STAGE_SUSTAIN:
        if (gate) {
            e->level = e->level * e->sustainMul;
            if (e->level <= ENV_OFF_LEVEL) {
                e->level = 0.0f;
                e->state = ENV_STAGE_OFF;
            } else if (e->level >= FULL_LEVEL) {
                e->level = FULL_LEVEL;
            }
        } else {
            e->state = ENV_STAGE_RELEASE;
            release_step(e);
        }
        break;
    case ENV_STAGE_RELEASE:
        if (gate) {
            // The attack restarts from the current level.
            e->state = ENV_STAGE_ATTACK;
            attack_step(e);
        } else {
            release_step(e);
        }
        break;
    default:
        break;
    }
    e->output = e->level * e->amplify;
}

void env_reset(EnvelopeState *e) {
    e->state = ENV_STAGE_OFF;
}
