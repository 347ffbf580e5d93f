// Channel effects: per channel an input DC filter, compressor, bass boost,
// distortion, output DC filter and chorus over the channel's stereo block, then
// the sends to the reverb, delay and aux buses and the mix into the main bus at
// the channel volume. Also the bass boost unit, used only here.
#pragma once
#include "synth/compressor.h"
#include "synth/distortion.h"
#include "synth/moddelay.h"

#include <cstdint>

constexpr int CHANNEL_PARAM_COUNT = 29;
constexpr std::int32_t CHORUS_MASK = 2047; // chorus lines of 2048 samples

// Low-shelf biquad at 150 Hz, slope 1, low-frequency gain 2^(2 x c8 / 128): 1
// at c8 = 0, about 3.96
// (+11.9 dB) at c8 = 127.
struct BassBoost {
    std::int32_t enabled;             // c8 rounded; 0 = off (coefficients and history are kept)
    float a1, a2, b0, b1, b2;         // normalised by a0
    float x1[2], x2[2], y1[2], y2[2]; // history per side: [0] left, [1] right
};

// c8: 0..128. At 0 the unit switches off and keeps its previous coefficients.
void boost_set(BassBoost *b, float c8);
// In place over n interleaved stereo frames; nothing while off.
void boost_process(BassBoost *b, float *block, int n);

struct ChannelFx {
    float volume;          // c0/128 x 0.6
    float reverb_send;     // c5/128 x 0.6 x volume (post-fader)
    float delay_send;      // c6/128 x 0.6 x volume (post-fader)
    float aux_a_send;      // c3/128 x 0.6 (pre-fader)
    float aux_b_send;      // c4/128 x 0.6 (pre-fader)
    float aux_a_receive;   // c1/128
    float aux_b_receive;   // c2/128
    std::int32_t fx_order; // 0: distortion before chorus; otherwise chorus first
    DcFilterState input_dc;
    BassBoost bass_boost;
    DistortionState distortion;
    DcFilterState output_dc;
    ModDelay chorus;
    Compressor compressor;
};

// The buses one channel step reads and writes, each with room for the frame
// (stereo ones interleaved).
struct ChannelBuses {
    float *main_bus;     // stereo
    float *reverb_bus;   // mono
    float *delay_bus;    // mono
    float *aux_bus_a;    // stereo
    float *aux_bus_b;    // stereo
    float *level_buffer; // stereo scratch for the compressor
};

// Unit-level operations on one channel record.
// Initial state: the chorus lines (already attached) cleared, distortion and DC
// filters reset, compressor mode 2; every other field is expected to be zero
// already.
void channel_fx_init(ChannelFx *c);
// params: c0..c28, each 0..128.
void channel_fx_set(ChannelFx *c, const float params[CHANNEL_PARAM_COUNT]);
// The channel step over the channel's n-frame stereo block, in place, then the
// sends and the mix.
void channel_fx_process(ChannelFx *c, float *block, const ChannelBuses *buses, int n);

struct SynthState;

// The same steps on channel ch (0..15) of the synthesizer.
void channel_init(SynthState *s, int ch);
// Rebuilds the channel's 29 parameters from its patch and modulation, then
// channel_set.
void channel_prepare(SynthState *s, int ch);
void channel_set(SynthState *s, int ch);
// On channel_buffer, after the channel's voices have been summed into it.
void channel_process(SynthState *s, int ch, int n);
