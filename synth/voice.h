// One voice: three oscillators summed into a mono buffer, two filters (single, serial or parallel),
// distortion, DC filter, and an output stage that ramps envelope 1's level per sample and pans the
// result into the channel's stereo buffer. The LFOs and envelope 2 only feed modulation entries.
#pragma once
#include <cstdint>

#include "synth/distortion.h"
#include "synth/envelope.h"
#include "synth/filter.h"
#include "synth/lfo.h"
#include "synth/oscillator.h"

constexpr int VOICE_PARAM_COUNT = 59;

// Filter routing (voice parameter 26): 0 single, 2 parallel, anything else serial.
enum FilterRouting : std::int32_t {
    ROUTING_SINGLE = 0,
    ROUTING_SERIAL = 1,
    ROUTING_PARALLEL = 2,
};

// Key synchronisation at note start (voice parameter 58): 0 free, 2 restart, other nonzero values
// restart the oscillator phases only.
enum KeySync : std::int32_t {
    KEY_SYNC_FREE = 0,
    KEY_SYNC_PHASE = 1,
    KEY_SYNC_RESTART = 2,
};

struct VoiceState {
    std::int32_t note;    // MIDI note number of the current note
    float velocity;       // velocity of the note start, 0..127
    std::int32_t gate;    // 1 while the key is held, 0 after release
    float amp;            // current output amplitude (ramp value), 0..1
    float ampStep;        // amplitude change per sample in the current frame
    float transpose;      // semitones, -64..64
    std::int32_t routing; // FilterRouting value (any integer)
    float gainLeft;       // pan gains, equal power
    float gainRight;
    float filter1Gain; // balance gains, used by the parallel routing only
    float filter2Gain;
    std::int32_t keySync; // KeySync value (any integer)
    OscillatorState osc1, osc2, osc3;
    FilterState filter1, filter2;
    EnvelopeState env1, env2; // env1 is the amplitude envelope
    LfoState lfo1, lfo2;
    DistortionState distortion;
    DcFilterState dcFilter; // left-side fields only
};

// Resets every unit (oscillators with their indexes 0..2); note, velocity, gate, amp and the
// settings are kept.
void voice_reset(VoiceState *v);

// Turns the 59 voice parameters (floats 0..128 after modulation) into unit settings; once per frame
// and at note start.
void voice_set(VoiceState *v, const float *params);

// Advances both envelopes and LFOs by one frame and sets the amplitude ramp of this frame.
void voice_tick(VoiceState *v);

// Renders n = frame_length (<= 280) samples and adds them, panned, to `channel_buffer` (stereo
// interleaved, n frames). voice_buffer and second_buffer are mono scratch of n samples; aux_a and
// aux_b are the stereo aux buses the aux oscillator modes read.
void voice_render(VoiceState *v, std::int32_t n, float *voice_buffer, float *second_buffer,
                  float *channel_buffer, const float *aux_a, const float *aux_b);

// Starts a note (0..127) with velocity 1..127 on a voice that has just been refreshed.
// Voices rendered together, at most this many.
constexpr int VOICE_GROUP = 4;

// Renders count (1..VOICE_GROUP) voices of one channel, with exactly the samples and states of
// voice_render on each in turn: oscillators, filters (one four-lane pass where the voices' routings
// and filter modes agree), distortion and DC filter per voice, then each voice added to
// channel_buffer in the order given. buffers and second_buffers: VOICE_GROUP distinct mono scratch
// buffers of n samples each, whatever count is.
void voice_render_group(VoiceState *const voices[], int count, std::int32_t n,
                        float *const buffers[VOICE_GROUP], float *const second_buffers[VOICE_GROUP],
                        float *channel_buffer, const float *aux_a, const float *aux_b);

void voice_note_start(VoiceState *v, std::int32_t note, std::int32_t velocity);

// Gate off; the envelopes enter their release at their next tick.
void voice_release(VoiceState *v);
