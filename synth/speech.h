// The speech voice: a formant filter bank steered by a phoneme text that reshapes the sound of
// channel 15. The summed voices of the channel are the voiced excitation, a noise generator adds
// aspiration and frication, and seven resonators tuned to the current phoneme filter them.
//
// Timing: one synthesizer frame (frame_length samples) is a "tick"; a phoneme frame is frame_ticks
// ticks; a phoneme lasts its DUR times the item's duration multiplier in phoneme frames.
//
// Text syntax (8-bit characters, ended by a zero byte, repeated forever):
//   "!"            wait for a note-on on channel 15
//   "_"            wait for a note-off on channel 15 (or controller 123 and above)
//   [digits]name   a phoneme name of PhonemeNames (case ignored), optionally preceded by a duration
//                  multiplier; any character that starts no name is a pause.
#pragma once

#include <cstdint>

constexpr int SPEECH_RESONATOR_COUNT = 7; // 0 nasal, 1..3 formants, 4..6 fixed high resonators
constexpr int SPEECH_TEXT_SLOTS = 64;     // texts the voice can select (controller 4, 0..62)
constexpr int SPEECH_TABLE_SIZE = 256;    // entries of a song's speech table

// Indices into FormantFrame::values.
constexpr int FRAME_VOICING_GAIN = 21;    // gain of the channel's sound in the voiced source
constexpr int FRAME_ASPIRATION_GAIN = 22; // gain of noise in the voiced source
constexpr int FRAME_FRICATION_GAIN = 23;  // gain of noise in the frication source
constexpr int FRAME_BYPASS_GAIN = 24;     // gain of the frication source around the resonators
constexpr int FRAME_VALUE_COUNT = 25;

// Coefficient triples (A, B, C) of resonators 0..6 at values[3i..3i+2], then the four gains.
struct FormantFrame {
    float values[FRAME_VALUE_COUNT];
};

// History of one two-pole resonator: y = (C * y2 + B * y1) + A * x.
struct SpeechResonator {
    float y1;
    float y2;
};

// All fields are valid when zeroed (the owner clears the record before speech_init).
struct SpeechVoice {
    FormantFrame current; // coefficients the resonators use, glided towards target per sample
    FormantFrame target;  // computed once per tick
    SpeechResonator resonators[SPEECH_RESONATOR_COUNT]; // resonator i uses triple i of current
    float previous_voiced;                              // previous voiced source sample

    const std::uint8_t *texts[SPEECH_TEXT_SLOTS]; // null = empty slot
    const std::uint8_t *texts_end;                // reads at or beyond this give the end of text

    float formant_scale;      // factor on every resonator frequency; 0.7071..1.4066 from controller 5
    std::int32_t frame_ticks; // ticks per phoneme frame, 1..64

    std::uint32_t noise_seed; // never reseeded
    float noise_state;

    std::int32_t tick_countdown;      // ticks left of the running phoneme frame
    std::int32_t sequence_position;   // position in the name entry's phoneme sequence, 0..4
    std::int32_t frames_left;         // phoneme frames left of the running phoneme
    std::int32_t name_entry;          // PhonemeNames entry of the running item, 0..51
    std::int32_t duration_multiplier; // of the running item, >= 1 once an item was read

    float step; // 1 / (phoneme frames x frame_ticks) of the running phoneme

    const std::uint8_t *text_start;    // first character of the current text; null = walker stopped
    const std::uint8_t *text_position; // next character to read
    const std::uint8_t *text_end;      // reads at or beyond this give the end of text

    std::int32_t previous_phoneme; // 0..68
    std::int32_t current_phoneme;  // 0..68

    std::int32_t wait_note_on;  // 1 while the text waits at "!"
    std::int32_t wait_note_off; // 1 while the text waits at "_"

    float highpass1; // states of the two one-pole high-passes after the resonators
    float highpass2;

    SpeechResonator output; // output resonator, bound to the shared output coefficients
};

// Rate-dependent constants shared by every speech voice of the process.
struct SpeechShared {
    float two_pi_over_rate;       // 2 pi / sample rate
    float minus_pi_over_rate;     // -pi / sample rate
    float output_coefficients[3]; // A, B, C of the output resonator: 12000 Hz, 4000 Hz wide, gain 2
};

// Shared constants as last set by speech_set_rate and speech_init.
const SpeechShared &speech_shared();

// Computes the rate constants for sample_rate (samples per second, taken as unsigned and clamped to
// RATE_MIN..RATE_MAX like the other rate constants).
void speech_set_rate(std::int32_t sample_rate);

// Resonator coefficients {A, B, C} for frequency f (Hz), bandwidth w (Hz) and linear gain g at the rate
// of the last speech_set_rate. Unity gain at 0 Hz for g = 1.
void speech_resonator_coefficients(float f, float w, float g, float out[3]);

// Starts the voice on a zeroed record: pause frames, formant_scale 1, frame_ticks 3, text slot 0 (or
// the empty text), output resonator coefficients. Call after speech_set_rate.
void speech_init(SpeechVoice *v);

// Returns both frames to the pause phoneme at the current formant_scale and makes the next tick read
// a new item from the text. Histories, noise, countdowns and wait flags are kept.
void speech_reset(SpeechVoice *v);

// Installs a song's speech table (SPEECH_TABLE_SIZE entries, of which the first SPEECH_TEXT_SLOTS are
// used; null entries are empty slots) and starts text 0. Texts are read only up to image_end (one
// past the last byte of the song image; null reads nothing): a text without its zero inside the image
// ends there. A null text 0 keeps the walker still until controller 4 selects a text. texts may be
// null (no texts).
void speech_set_texts(SpeechVoice *v, const std::uint8_t *const texts[SPEECH_TABLE_SIZE],
                      const std::uint8_t *image_end);

// Advances the text walker by one tick (one synthesizer frame) and computes the target frame.
void speech_tick(SpeechVoice *v);

// Filters n stereo frames (interleaved left, right; n >= 0) of channel 15 in place: the left side is
// the excitation, the right side is ignored, and both sides receive the result. The current frame
// glides linearly to the target frame over the block.
void speech_process(SpeechVoice *v, float *block, std::int32_t n);

// One sample of the filtered noise source, in (-1, 1).
float speech_noise(SpeechVoice *v);

// Note events on channel 15: they end a wait at "!" (note-on) or "_" (note-off).
void speech_note_on(SpeechVoice *v);
void speech_note_off(SpeechVoice *v);

// Controller `controller` (1..7) of channel 15 set to value (0..127). Controller 4: 0..62 selects text
// slot `value` (the empty text if that slot is null), 63..127 sets frame_ticks = value - 63 (value 63
// gives 1, like 64). Controller 5: formant_scale = 2^((value - 64) / 128). Others: nothing.
void speech_control(SpeechVoice *v, int controller, int value);
