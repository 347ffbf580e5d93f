// The global chain after the channels: reverb fed by reverb_bus, stereo delay fed by delay_bus, a DC
// filter, low and high cut, and the main compressor, all on main_bus; plus the frame mix that runs
// the channels into the buses, and the song's globals block that configures the chain.
#pragma once
#include <cstdint>

constexpr int GLOBALS_BLOCK_SIZE = 22;
constexpr std::uint8_t GLOBALS_BYTE_MAX = 127;    // top of the song format; larger bytes are held here
constexpr std::int32_t GLOBAL_DELAY_MASK = 32767; // global delay lines of 32768 samples

// Line lengths in samples, not scaled by the sample rate: left combs 1..4, left all-passes 1, 2,
// right combs 1..4, right all-passes 1, 2.
constexpr int REVERB_LINE_LENGTHS[12] = {1309, 1635, 1811, 1926, 220, 74, 1327, 1631, 1833, 1901, 205, 77};
constexpr int REVERB_LINE_TOTAL = 13949;

struct Reverb {
    float gain[6];                  // combs 1..4, all-passes 1, 2
    float input_gain;               // 0..1
    float damping;                  // 0..1 (x rate_correction); larger is brighter
    float low_cut;                  // one-pole coefficient of the output low cut; 0 = off
    std::int32_t position[12];      // per line, in the order of REVERB_LINE_LENGTHS
    float comb_state[8];            // damping states: left combs 1..4, right combs 1..4
    float low_cut_state[2];         // left, right
    float lines[REVERB_LINE_TOTAL]; // the twelve lines back to back, in the order of REVERB_LINE_LENGTHS
};

struct CutFilter {
    float low_cut;       // coefficient, ((p11 + 1)/128)^2
    float low_state[2];  // left, right
    float high_cut;      // coefficient, ((p12 + 1)/128)^2; exactly 1.0 switches the high cut off
    float high_state[2]; // left, right
};

// p0 decay time, p1 high damping, p2 output low cut, p3 input volume; each 0..127.
// Sets gains and coefficients only; lines and states are left alone.
void reverb_set(Reverb *r, float p0, float p1, float p2, float p3);
// Adds the reverb of the mono `send` bus (n samples) into the interleaved stereo `out`. If any
// operation of the block underflowed, the lines and states are cleared afterwards.
void reverb_process(Reverb *r, const float *send, float *out, int n);
// Positions, damping states, low cut states and lines to zero; gains and coefficients remain.
void reverb_clear(Reverb *r);

// In place over n interleaved stereo frames.
void cut_process(CutFilter *f, float *block, int n);

struct SynthState;

// Initialisation inside synth_init, on a zeroed state: reverb cleared, global delay lines attached
// and cleared, main compressor mode 2, main DC filter reset; the cut filters stay zero, so the chain
// is silent until synth_set_globals.
void global_effects_init(SynthState *s);

// globals_block: the song's 22 parameter bytes (0..127; larger bytes are taken as 127). Applies
// reverb, global delay, main compressor and cut filters; called once per song start, right after
// synth_init.
void synth_set_globals(SynthState *s, const std::uint8_t *globals_block);

// Renders one frame of frame_length samples into main_bus: every channel that holds a voice, the
// channel steps, then the global chain.
void mix_frame(SynthState *s);
