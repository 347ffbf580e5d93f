// Oscillator: one of the three sound sources of a voice. Renders one control frame into the voice's
// mono buffer, adding to it, multiplying it (ring modulation) or replacing it, depending on the mode.
// Triangle/saw and pulse are band-limited by averaging the ideal waveform over each sample period.
#pragma once
#include <cstdint>

// Oscillator mode; only the low three bits of OscillatorState::mode count.
enum OscMode : std::int32_t {
    OSC_OFF = 0,     // silent, phase holds, buffer untouched
    OSC_TRI_SAW = 1, // triangle with movable peak (colour 0 falling saw, 64 triangle, ~128 rising saw)
    OSC_PULSE = 2,   // pulse, high while the phase is below the colour threshold
    OSC_SINE = 3,    // sine
    OSC_NOISE = 4,   // white noise through a state-variable filter; ignores the note
    OSC_FM_SINE = 5, // sine phase-modulated by the buffer content; replaces it
    OSC_AUX_A = 6,   // aux bus A, both sides summed; replaces the buffer
    OSC_AUX_B = 7,   // aux bus B, both sides summed; replaces the buffer
};

constexpr int OSC_PARAM_COUNT = 6;

// Noise seeds of oscillators 0, 1, 2 of a voice at reset.
constexpr std::uint32_t OSC_NOISE_SEEDS[3] = {0xDEADBEEFu, 0xBAADF00Du, 0xD3ADC0DEu};

struct OscillatorState {
    std::int32_t mode;             // OscMode in the low three bits
    std::int32_t ring;             // bit 0 set: multiply the buffer instead of adding / replacing
    std::uint32_t phase;           // 2^32 is one cycle
    std::int32_t increment;        // phase advance per sample, used as unsigned (0x80000000 = half the rate)
    std::uint32_t colourThreshold; // colour as a phase: triangle peak, end of the pulse's high part
    float noiseFreq;               // noise filter frequency coefficient, 2^-10..1 at 44100 Hz
    float noiseDamp;               // noise filter damping, 1 - sqrt(colour / 128), 0..1
    std::uint32_t noiseSeed;       // random generator state
    float volume;                  // output level, 0..1
    float noiseLow;                // noise filter low-pass state
    float noiseBand;               // noise filter band-pass state
    float note;                    // voice note number plus voice transpose, semitones
    float pitchOffset;             // oscillator transpose plus detune, semitones, -64.5..+64.5
};

// p: mode, ring, transpose, detune, colour, volume; floats 0..128 after modulation. Transpose is
// p - 64 semitones, detune (p - 64) / 128 semitones, colour and volume p / 128. Called once per frame
// after the voice has written `note`.
void osc_set(OscillatorState *o, const float *p);

// Recomputes increment and noiseFreq from note and pitchOffset (also at note start).
void osc_update_pitch(OscillatorState *o);

// phase = 0, noise filter states = 0, noiseSeed = OSC_NOISE_SEEDS[index]; index 0..2.
void osc_reset(OscillatorState *o, int index);

// Renders n samples (n = frame_length, at most 280) into buffer. aux_a and aux_b are the interleaved
// stereo aux buses (n frames each), read only in the aux modes; null reads as silence.
void osc_render(OscillatorState *o, float *buffer, int n, const float *aux_a, const float *aux_b);
