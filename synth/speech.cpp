#include "synth/speech.h"

#include "synth/numeric.h"
#include "synth/rate.h"
#include "synth/speech_tables.h"

#include <cmath>
#include <cstdint>

namespace {

SpeechShared g_shared;

// Stands in for a null text slot.
const std::uint8_t EMPTY_TEXT[1] = {0};

// Level to linear gain: level 70 is unity, 6 steps per octave. 0x1.555556p-3f is 0.16666667 (0x3E2AAAAB).
constexpr float LEVEL_STEP = 0x1.555556p-3f;
// Coefficient of the two one-pole high-passes: 0.012 (0x3C449BA6).
constexpr float HIGHPASS_COEFFICIENT = 0x1.89374cp-7f;

constexpr float OUTPUT_FREQUENCY = 12000.0f; // Hz
constexpr float OUTPUT_BANDWIDTH = 4000.0f;  // Hz
constexpr float OUTPUT_GAIN = 2.0f;

// Fixed frequency and bandwidth of resonators 4, 5 and 6 (Hz), and the nasal bandwidth.
constexpr float NASAL_BANDWIDTH = 100.0f;
constexpr float FIXED_FREQUENCY[3] = {3200.0f, 4000.0f, 6000.0f};
constexpr float FIXED_BANDWIDTH[3] = {200.0f, 500.0f, 800.0f};

float level_gain(float level) {
    return power(2.0f, (level - 70.0f) * LEVEL_STEP);
}

// The frame of phoneme cur gliding towards src: every table value is cur + (src - cur) * t.
void compute_frame(const SpeechVoice *v, int cur, int src, float t, FormantFrame *out) {
    const float *c = PhonemeTable[cur];
    const float *s = PhonemeTable[src];
    auto at = [&](int col) { return c[col] + (s[col] - c[col]) * t; };
    const float scale = v->formant_scale;
    float *f = out->values;

    speech_resonator_coefficients(at(PH_FN) * scale, NASAL_BANDWIDTH, level_gain(at(PH_AN)), f + 0);
    speech_resonator_coefficients(at(PH_F1) * scale, at(PH_B1), level_gain(at(PH_A1)), f + 3);
    speech_resonator_coefficients(at(PH_F2) * scale, at(PH_B2), level_gain(at(PH_A2)), f + 6);
    speech_resonator_coefficients(at(PH_F3) * scale, at(PH_B3), level_gain(at(PH_A3)), f + 9);
    const float fixed_level[3] = {at(PH_A4), at(PH_A5), at(PH_A5)};
    for (int i = 0; i < 3; ++i) {
        speech_resonator_coefficients(FIXED_FREQUENCY[i] * scale, FIXED_BANDWIDTH[i],
                                      level_gain(fixed_level[i]), f + 12 + 3 * i);
    }
    f[FRAME_VOICING_GAIN] = level_gain(at(PH_AV));
    f[FRAME_ASPIRATION_GAIN] = level_gain(at(PH_AH));
    f[FRAME_FRICATION_GAIN] = level_gain(at(PH_AF));
    f[FRAME_BYPASS_GAIN] = level_gain(at(PH_AB));
}

// The character at p, or 0 at and beyond the end of the current text's memory.
std::uint8_t text_char(const SpeechVoice *v, const std::uint8_t *p) {
    if (v->text_end == nullptr || p >= v->text_end) return 0;
    return *p;
}

// Starts text `text`; a null slot is replaced by the empty text.
void select_text(SpeechVoice *v, const std::uint8_t *text) {
    if (text == nullptr) {
        v->text_start = EMPTY_TEXT;
        v->text_end = EMPTY_TEXT + 1;
    } else {
        v->text_start = text;
        v->text_end = v->texts_end;
    }
    v->text_position = v->text_start;
}

bool is_digit(std::uint8_t c) {
    const auto s = static_cast<std::int8_t>(c); // bytes 128..255 are no digits
    return s >= '0' && s <= '9';
}

// Reads the name at the text position: the first entry 0..50 whose letters all match (case ignored),
// else the pause entry. Advances past the name, or by one character for a pause. A pause never
// consumes the terminating zero, so a text ending in digits does not run past its end.
void read_name(SpeechVoice *v) {
    const std::uint8_t *p = v->text_position;
    for (int e = 0; e < PAUSE_NAME_ENTRY; ++e) {
        const char *name = PhonemeNames[e].name;
        int len = 0;
        while (name[len] != 0 &&
               (text_char(v, p + len) | 0x20) == (static_cast<std::uint8_t>(name[len]) | 0x20))
            ++len;
        if (name[len] == 0) {
            v->name_entry = e;
            v->sequence_position = 0;
            v->text_position = p + len;
            return;
        }
    }
    v->name_entry = PAUSE_NAME_ENTRY;
    v->sequence_position = 0;
    if (text_char(v, p) != 0) v->text_position = p + 1;
}

// Steps 4 to 6 of the walker: finds the next phoneme to play. Returns false when the text now waits.
bool next_item(SpeechVoice *v) {
    v->sequence_position += 1;
    if (v->sequence_position < 4 && v->sequence_position < PhonemeNames[v->name_entry].phoneme_count)
        return true;

    std::uint8_t c = text_char(v, v->text_position);
    if (c == '!' || c == '_') {
        if (c == '!')
            v->wait_note_on = 1;
        else
            v->wait_note_off = 1;
        v->text_position += 1;
        v->frames_left = 0;
        v->tick_countdown = 0;
        return false;
    }
    if (c == 0) { // end of text: start over, with one pause unless the text begins with a name
        v->duration_multiplier = 1;
        v->tick_countdown = 1;
        v->name_entry = PAUSE_NAME_ENTRY;
        v->sequence_position = 0;
        v->text_position = v->text_start;
    }

    c = text_char(v, v->text_position);
    if (c == 0 || c == '!' || c == '_') return true;

    // Digits wrap modulo 2^32 like the 32-bit counter they are read into.
    std::uint32_t multiplier = 0;
    while (is_digit(c)) {
        multiplier = multiplier * 10u + static_cast<std::uint32_t>(c - '0');
        v->text_position += 1;
        c = text_char(v, v->text_position);
    }
    v->duration_multiplier = static_cast<std::int32_t>(multiplier);
    if (v->duration_multiplier == 0) v->duration_multiplier = 1;
    read_name(v);
    return true;
}

// Step 7: starts the phoneme at the sequence position of the name entry.
void start_phoneme(SpeechVoice *v) {
    v->previous_phoneme = v->current_phoneme;
    v->current_phoneme = PhonemeNames[v->name_entry].phonemes[v->sequence_position];
    const float frames =
        static_cast<float>(v->duration_multiplier) * PhonemeTable[v->current_phoneme][PH_DUR];
    std::int32_t n = float_to_int32(frames);
    // DUR 0 still lasts one frame; a multiplier that wrapped negative (or out of range) too.
    if (n <= 0) n = 1;
    v->frames_left = n;
    v->step = 1.0f / static_cast<float>(static_cast<std::int64_t>(n) * v->frame_ticks);
}

} // namespace

const SpeechShared &speech_shared() {
    return g_shared;
}

void speech_set_rate(std::int32_t sample_rate) {
    // Taken as unsigned and kept inside the range the other rate constants support.
    std::uint32_t sr = static_cast<std::uint32_t>(sample_rate);
    if (sr < static_cast<std::uint32_t>(RATE_MIN)) sr = RATE_MIN;
    if (sr > static_cast<std::uint32_t>(RATE_MAX)) sr = RATE_MAX;
    const double pi = 4.0 * std::atan(1.0);
    const double rate = static_cast<double>(sr);
    g_shared.two_pi_over_rate = static_cast<float>(2.0 * pi / rate);
    g_shared.minus_pi_over_rate = -0.5f * g_shared.two_pi_over_rate;
}

void speech_resonator_coefficients(float f, float w, float g, float out[3]) {
    // The transcendental functions are evaluated in double and rounded once to single precision.
    const float r = static_cast<float>(std::exp(static_cast<double>(w * g_shared.minus_pi_over_rate)));
    const float c = -(r * r);
    const float b =
        2.0f * r * static_cast<float>(std::cos(static_cast<double>(f * g_shared.two_pi_over_rate)));
    out[0] = (1.0f - b - c) * g;
    out[1] = b;
    out[2] = c;
}

void speech_init(SpeechVoice *v) {
    // The phoneme table is stored expanded; nothing to build.
    speech_reset(v);
    v->formant_scale = 1.0f;
    v->frame_ticks = 3;
    select_text(v, v->texts[0]);
    v->previous_voiced = 0.0f;
    speech_resonator_coefficients(OUTPUT_FREQUENCY, OUTPUT_BANDWIDTH, OUTPUT_GAIN,
                                  g_shared.output_coefficients);
}

void speech_reset(SpeechVoice *v) {
    compute_frame(v, PAUSE_PHONEME, PAUSE_PHONEME, 0.0f, &v->current);
    compute_frame(v, PAUSE_PHONEME, PAUSE_PHONEME, 0.0f, &v->target);
    v->previous_phoneme = PAUSE_PHONEME;
    v->current_phoneme = PAUSE_PHONEME;
    v->sequence_position = 4;
}

void speech_set_texts(SpeechVoice *v, const std::uint8_t *const texts[SPEECH_TABLE_SIZE],
                      const std::uint8_t *image_end) {
    for (int i = 0; i < SPEECH_TEXT_SLOTS; ++i) v->texts[i] = texts != nullptr ? texts[i] : nullptr;
    v->texts_end = image_end;
    // Unlike a controller selection, a null text 0 stays null and stops the walker.
    v->text_start = v->texts[0];
    v->text_position = v->texts[0];
    v->text_end = image_end;
}

void speech_tick(SpeechVoice *v) {
    if (v->wait_note_off != 0 || v->wait_note_on != 0 || v->text_position == nullptr) return;

    if (v->tick_countdown <= 0) {
        v->tick_countdown = v->frame_ticks;
        if (v->frames_left <= 0) {
            if (!next_item(v)) return;
            start_phoneme(v);
        }
        v->frames_left -= 1;
    }
    v->tick_countdown -= 1;

    // Remaining fraction of the phoneme: just below 1 at its first tick, exactly 0 at its last.
    const std::int64_t ticks_left =
        static_cast<std::int64_t>(v->frames_left) * v->frame_ticks + v->tick_countdown;
    const float r = static_cast<float>(ticks_left) * v->step;
    const float rank_previous = PhonemeTable[v->previous_phoneme][PH_RANK];
    const float rank_current = PhonemeTable[v->current_phoneme][PH_RANK];
    const float t = r == 0.0f ? 0.0f : power(r, rank_previous / rank_current);
    // Phonemes of distant ranks do not glide: the target jumps to the current phoneme.
    const int source =
        std::fabs(rank_current - rank_previous) <= 8.0f ? v->previous_phoneme : v->current_phoneme;
    compute_frame(v, v->current_phoneme, source, t, &v->target);
}

float speech_noise(SpeechVoice *v) {
    v->noise_seed = next_random(v->noise_seed);
    v->noise_state = random_to_bipolar(v->noise_seed) + 0.75f * v->noise_state;
    return 0.25f * v->noise_state;
}

namespace {

inline float resonate(const float *abc, SpeechResonator *h, float x) {
    const float y = (abc[2] * h->y2 + abc[1] * h->y1) + abc[0] * x;
    h->y2 = h->y1;
    h->y1 = y;
    return y;
}

} // namespace

void speech_process(SpeechVoice *v, float *block, std::int32_t n) {
    if (n <= 0) return;
    float *cur = v->current.values;
    const float *target = v->target.values;
    const float inv_n = 1.0f / static_cast<float>(n);
    float delta[FRAME_VALUE_COUNT];
    for (int j = 0; j < FRAME_VALUE_COUNT; ++j) delta[j] = (target[j] - cur[j]) * inv_n;

    const float *out_abc = g_shared.output_coefficients;
    SpeechResonator *res = v->resonators;
    float previous_voiced = v->previous_voiced;
    float hp1 = v->highpass1;
    float hp2 = v->highpass2;

    for (std::int32_t k = 0; k < n; ++k) {
        for (int j = 0; j < FRAME_VALUE_COUNT; ++j) cur[j] += delta[j];
        const float s = block[2 * k]; // the right side is not read

        const float voiced = speech_noise(v) * cur[FRAME_ASPIRATION_GAIN] + cur[FRAME_VOICING_GAIN] * s;
        float m = resonate(cur + 3, &res[1], voiced) + resonate(cur + 0, &res[0], voiced);
        const float u = speech_noise(v) * cur[FRAME_FRICATION_GAIN] + voiced - previous_voiced;
        previous_voiced = voiced;
        for (int i = 2; i < SPEECH_RESONATOR_COUNT; ++i) m = resonate(cur + 3 * i, &res[i], u) - m;

        const float h1 = cur[FRAME_BYPASS_GAIN] * u - m - hp1;
        hp1 += HIGHPASS_COEFFICIENT * h1;
        const float h2 = h1 - hp2;
        hp2 += HIGHPASS_COEFFICIENT * h2;
        const float out = resonate(out_abc, &v->output, h2) - h2;

        block[2 * k] = out;
        block[2 * k + 1] = out;
    }

    v->previous_voiced = previous_voiced;
    v->highpass1 = hp1;
    v->highpass2 = hp2;
}

void speech_note_on(SpeechVoice *v) {
    v->wait_note_on = 0;
}

void speech_note_off(SpeechVoice *v) {
    v->wait_note_off = 0;
}

void speech_control(SpeechVoice *v, int controller, int value) {
    if (value < 0) return;
    if (controller == 4) {
        if (value <= 62) {
            // The running phoneme's frames are still counted down, now on the pause phoneme.
            speech_reset(v);
            select_text(v, v->texts[value]);
        } else {
            const int ticks = value - 63;
            v->frame_ticks = ticks > 0 ? ticks : 1; // 0 ticks per frame would stall the glide
        }
    } else if (controller == 5) {
        v->formant_scale = power(2.0f, static_cast<float>(value - 64) * 0.0078125f);
    }
}
