// Envelope generator: linear attack, exponential decay / sustain drift / release, stepped once per
// control frame (frame_length samples). Envelope 1 of a voice is its amplitude; envelope 2 only
// modulates. Levels live on the 0..128 parameter scale.
#pragma once
#include <cstdint>

// Stage of an envelope (EnvelopeState::state).
enum EnvStage : std::int32_t {
    ENV_STAGE_OFF = 0,
    ENV_STAGE_ATTACK = 1,
    ENV_STAGE_DECAY = 2,
    ENV_STAGE_SUSTAIN = 3,
    ENV_STAGE_RELEASE = 4,
};

constexpr int ENV_PARAM_COUNT = 6;

struct EnvelopeState {
    float output;       // level * amplify after the last tick, 0..128
    std::int32_t state; // EnvStage
    float level;        // current level, 0..128
    float attackInc;    // added to level per frame in Attack, 2^-5..128
    float decayMul;     // level multiplier per frame in Decay, 0..1-2^-11
    float sustainLevel; // level at which Decay ends, 0..128
    float sustainMul;   // level multiplier per frame in Sustain, ~0.918..~1.090 (1 at parameter 64)
    float releaseMul;   // level multiplier per frame in Release, 0..1-2^-11
    float amplify;      // output scale, 0..1
};

// p: attack, decay, sustain, sustain time, release, amplify; each a float 0..128 after modulation.
// Derives the working fields; called once per frame before env_tick.
void env_set(EnvelopeState *e, const float *p);

// One control-frame step. gate: nonzero while the key is held.
void env_tick(EnvelopeState *e, std::int32_t gate);

// state = Off; the level is kept (the next tick without gate clears it).
void env_reset(EnvelopeState *e);
