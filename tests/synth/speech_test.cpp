#include "synth/numeric.h"
#include "synth/speech.h"
#include "synth/speech_tables.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int RATE = 44100;

// A speech voice as the synthesizer starts it, with texts laid out like a song image.
class SpeechTest : public ::testing::Test {
  protected:
    void SetUp() override {
        speech_set_rate(RATE);
        voice = SpeechVoice{};
        speech_init(&voice);
    }

    // Lays the texts out back to back, each followed by its zero, then trailing bytes that a walker
    // overrunning a text would read as "b". With terminated = false the image ends right after the
    // last text's characters.
    void set_texts(const std::vector<std::string> &texts, bool terminated = true) {
        image.clear();
        std::vector<std::size_t> offsets;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            offsets.push_back(image.size());
            image.insert(image.end(), texts[i].begin(), texts[i].end());
            if (terminated || i + 1 < texts.size()) image.push_back(0);
        }
        if (terminated) image.insert(image.end(), {'b', 'b', 0});
        for (auto &t : table) t = nullptr;
        for (std::size_t i = 0; i < texts.size(); ++i) table[i] = image.data() + offsets[i];
        speech_set_texts(&voice, table, image.data() + image.size());
    }

    void set_text(const std::string &text, bool terminated = true) {
        set_texts(std::vector<std::string>{text}, terminated);
    }

    SpeechVoice voice{};
    std::vector<std::uint8_t> image;
    const std::uint8_t *table[SPEECH_TABLE_SIZE]{};
};

// Runs the walker and lists what it plays: "PxF" for phoneme P lasting F phoneme frames, "!" and "_"
// for waits, each ended at once by the matching note event. Use with frame_ticks 1, where a phoneme
// starts exactly when frames_left does not decrease.
std::string walk(SpeechVoice *v, std::size_t entries) {
    std::vector<std::string> out;
    int phoneme = -1, frames = 0, last_left = 0;
    auto flush = [&] {
        if (phoneme >= 0) out.push_back(std::to_string(phoneme) + "x" + std::to_string(frames));
        phoneme = -1;
    };
    for (int guard = 0; out.size() < entries && guard < 100000; ++guard) {
        speech_tick(v);
        if (v->wait_note_on != 0) {
            flush();
            out.push_back("!");
            speech_note_on(v);
            continue;
        }
        if (v->wait_note_off != 0) {
            flush();
            out.push_back("_");
            speech_note_off(v);
            continue;
        }
        if (phoneme < 0 || v->frames_left >= last_left) {
            flush();
            phoneme = v->current_phoneme;
            frames = 0;
        }
        ++frames;
        last_left = v->frames_left;
    }
    out.resize(std::min(out.size(), entries));
    std::string joined;
    for (const auto &s : out) joined += (joined.empty() ? "" : " ") + s;
    return joined;
}

std::size_t count_entries(const std::string &s) {
    std::istringstream in(s);
    std::size_t n = 0;
    for (std::string w; in >> w;) ++n;
    return n;
}

struct TextCase {
    const char *what;
    std::string text;
    bool terminated;
    std::string expected; // the first entries the walker plays
};

TEST_F(SpeechTest, TextReadsAsPhonemesAndWaits) {
    const std::string song = "!DHAX_ !kwIH_k !br4AH_UHn !fAA_ks !jAH_mps !OW!vER_ !DHAX_ !lEY!zIY_ !dAA_g ";
    const TextCase cases[] = {
        {"song text, then a pause and the wait at its start again", song, true,
         "! 12x4 51x1 13x4 0x4 _ 18x5 ! 31x8 32x1 33x4 63x8 25x6 _ 31x8 32x1 33x4 18x5 "
         "! 6x12 7x1 8x1 52x11 60x24 _ 42x4 37x8 18x5 ! 20x12 4x15 _ 31x8 32x1 33x4 54x12 18x5 "
         "! 29x4 30x3 51x1 30x3 60x6 _ 36x8 47x8 48x1 49x2 54x12 18x5 ! 40x6 46x6 ! 62x4 51x1 62x4 19x16 _ "
         "18x5 "
         "! 12x4 51x1 13x4 0x4 _ 18x5 ! 34x8 2x6 25x6 ! 66x4 51x1 68x4 17x7 _ 18x5 "
         "! 11x8 14x1 15x1 4x15 _ 21x12 22x1 23x2 18x5 18x5 ! 12x4"},
        {"sh is one name", "sh", true, "55x12 55x12 55x12"},
        {"SH upper case", "SH", true, "55x12 55x12"},
        {"Sh mixed case", "Sh", true, "55x12 55x12"},
        {"sH mixed case", "sH", true, "55x12 55x12"},
        {"s space h", "s h", true, "54x12 18x5 24x5 54x12"},
        {"no such name is a pause", "?m", true, "18x5 36x8 18x5 36x8"},
        {"byte above 127 is a pause", "\xC8m", true, "18x5 36x8 18x5"},
        {"exclamation mark after digits is a pause", "3!m", true, "18x15 36x8 18x15 36x8"},
        {"digit 4 before ah", "br4AH", true, "6x12 7x1 8x1 52x11 60x24 6x12"},
        {"digit 0 before ah", "0ah", true, "60x6 60x6"},
        {"several digits", "12ah", true, "60x72 60x72"},
        {"multiplier applies to every phoneme of the item", "2b", true, "6x24 7x2 8x1 6x24"},
        {"DUR 0 lasts one frame", "qb", true, "51x1 6x12 7x1 8x1 51x1"},
        {"empty text pauses forever", "", true, "18x5 18x5 18x5 18x5 18x5 18x5"},
        {"text starting with _ gets the pause after its end", "_m", true, "_ 36x8 18x5 _ 36x8"},
        {"digits at the end do not run past the zero", "m5", true, "36x8 18x25 36x8 18x25 36x8"},
        {"text without its zero ends at the image end", "mn", false, "36x8 37x8 36x8 37x8"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        set_text(c.text, c.terminated);
        speech_control(&voice, 4, 64); // one tick per phoneme frame
        EXPECT_EQ(walk(&voice, count_entries(c.expected)), c.expected);
    }
}

// Ticks spent on each run of equal phonemes, for the first `runs` runs.
std::vector<int> ticks_per_phoneme(SpeechVoice *v, std::size_t runs) {
    std::vector<int> out;
    int phoneme = -1;
    for (int guard = 0; guard < 10000 && out.size() <= runs; ++guard) {
        speech_tick(v);
        if (v->current_phoneme != phoneme) {
            out.push_back(0);
            phoneme = v->current_phoneme;
        }
        ++out.back();
    }
    out.resize(runs);
    return out;
}

TEST_F(SpeechTest, FirstFrameAfterTextEndHasOneTick) {
    set_text("mn"); // 36 and 37, 8 frames each, 3 ticks per frame by default
    EXPECT_EQ(ticks_per_phoneme(&voice, 4), (std::vector<int>{24, 24, 1 + 7 * 3, 24}));
}

TEST_F(SpeechTest, Controller4SetsTicksPerPhonemeFrame) {
    const struct {
        int value;
        int ticks;
    } cases[] = {{64, 1}, {65, 2}, {127, 64}, {63, 1} /* 0 ticks per frame is kept at 1 */};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        SetUp();
        set_text("mn");
        speech_control(&voice, 4, c.value);
        EXPECT_EQ(voice.frame_ticks, c.ticks);
        EXPECT_EQ(ticks_per_phoneme(&voice, 1)[0], 8 * c.ticks);
    }
}

TEST_F(SpeechTest, Controller4SwitchesTextAfterTheRunningPhonemeFrames) {
    set_texts({"m", "ns"});
    for (int i = 0; i < 3; ++i) speech_tick(&voice); // "m": 8 frames of 3 ticks, one frame used
    ASSERT_EQ(voice.current_phoneme, 36);
    speech_control(&voice, 4, 1);
    // The 7 frames left are played on the pause phoneme, then text 1 starts.
    for (int i = 0; i < 7 * 3; ++i) {
        speech_tick(&voice);
        ASSERT_EQ(voice.current_phoneme, PAUSE_PHONEME) << i;
    }
    speech_tick(&voice);
    EXPECT_EQ(voice.current_phoneme, 37);
}

TEST_F(SpeechTest, NullTextSlots) {
    set_texts({"m"});
    table[0] = nullptr;
    speech_set_texts(&voice, table, image.data() + image.size());
    const FormantFrame before = voice.target;
    for (int i = 0; i < 50; ++i) speech_tick(&voice);
    EXPECT_EQ(voice.text_position, nullptr);
    EXPECT_EQ(voice.frames_left, 0) << "a null text 0 keeps the walker still";
    EXPECT_EQ(std::memcmp(&before, &voice.target, sizeof before), 0);

    speech_control(&voice, 4, 5); // an empty slot selects the empty text: pauses forever
    speech_control(&voice, 4, 64);
    EXPECT_EQ(walk(&voice, 4), "18x5 18x5 18x5 18x5");
}

TEST_F(SpeechTest, WaitsEndOnlyByTheMatchingNoteEvent) {
    set_text("!m_n");
    speech_tick(&voice);
    ASSERT_EQ(voice.wait_note_on, 1);
    const FormantFrame waiting = voice.target;
    speech_note_off(&voice);
    for (int i = 0; i < 200; ++i) speech_tick(&voice);
    EXPECT_EQ(voice.wait_note_on, 1) << "a wait does not end by itself nor by a note-off";
    EXPECT_EQ(std::memcmp(&waiting, &voice.target, sizeof waiting), 0);

    speech_note_on(&voice);
    speech_tick(&voice);
    EXPECT_EQ(voice.current_phoneme, 36);
    for (int i = 0; i < 24; ++i) speech_tick(&voice);
    ASSERT_EQ(voice.wait_note_off, 1);
    speech_note_on(&voice);
    for (int i = 0; i < 200; ++i) speech_tick(&voice);
    EXPECT_EQ(voice.wait_note_off, 1);
    speech_note_off(&voice);
    speech_tick(&voice);
    EXPECT_EQ(voice.current_phoneme, 37);
}

// Target frames of every tick of the first `ticks` ticks.
std::vector<FormantFrame> targets(SpeechVoice *v, int ticks) {
    std::vector<FormantFrame> out;
    for (int i = 0; i < ticks; ++i) {
        speech_tick(v);
        out.push_back(v->target);
    }
    return out;
}

bool same_frame(const FormantFrame &a, const FormantFrame &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(SpeechTest, DistantRanksJumpWithoutGlide) {
    // Phoneme 36 (RANK 11) after the pause (RANK 31): a jump, the same target at every tick.
    set_text("m");
    const auto alone = targets(&voice, 24);
    for (const auto &f : alone) EXPECT_TRUE(same_frame(f, alone.back()));

    // "ah" (60, RANK 2) then "p" (47, RANK 23): a jump, so every tick of 47 has the target of its
    // last tick.
    SetUp();
    set_text("ahp");
    const auto ticks = targets(&voice, 18 + 24);
    ASSERT_EQ(voice.current_phoneme, 47);
    for (int i = 18; i < 18 + 24; ++i) EXPECT_TRUE(same_frame(ticks[i], ticks.back())) << i;
}

TEST_F(SpeechTest, CloseRanksGlideAndReachTheCurrentFrameAtTheLastTick) {
    // "b": phoneme 6 (RANK 26, A2 -16) for 12 frames, then 7 (RANK 29, A2 63) for one frame of three
    // ticks with r = 2/3, 1/3, 0 and t = r^(26/29). 6 and 7 share F2 and B2, so resonator 2's A
    // coefficient scales only with the A2 level glided from 63 towards -16.
    set_text("b");
    const auto ticks = targets(&voice, 36 + 3);
    ASSERT_EQ(voice.current_phoneme, 7);
    ASSERT_EQ(voice.previous_phoneme, 6);
    const float pure = ticks[38].values[6];
    const float expected_r[2] = {2.0f / 3.0f, 1.0f / 3.0f};
    for (int i = 0; i < 2; ++i) {
        const double t = std::pow(static_cast<double>(expected_r[i]), 26.0 / 29.0);
        const double level = 63.0 + (-16.0 - 63.0) * t;
        const double ratio = std::pow(2.0, (level - 63.0) / 6.0);
        EXPECT_NEAR(ticks[36 + i].values[6] / pure, ratio, 1e-4 * ratio) << "tick " << i;
    }

    // "p" (47, RANK 23) after the pause (RANK 31): ranks 8 apart still glide, and the last tick is
    // exactly the frame of 47 alone, as after the jump from "ah".
    SetUp();
    set_text("ahp");
    const FormantFrame alone = targets(&voice, 18 + 1).back();
    SetUp();
    set_text("p");
    const auto glide = targets(&voice, 24);
    ASSERT_EQ(voice.current_phoneme, 47);
    EXPECT_FALSE(same_frame(glide.front(), alone));
    EXPECT_TRUE(same_frame(glide.back(), alone));
}

double resonator_b(double f, double w) {
    return 2.0 * std::exp(-PI * w / RATE) * std::cos(2.0 * PI * f / RATE);
}
double resonator_c(double w) {
    return -std::exp(-2.0 * PI * w / RATE);
}

TEST_F(SpeechTest, OutputResonatorCoefficientsAt44100) {
    const SpeechShared &s = speech_shared();
    EXPECT_NEAR(s.two_pi_over_rate, 2.0 * PI / RATE, 1e-11);
    EXPECT_EQ(s.minus_pi_over_rate, -0.5f * s.two_pi_over_rate);
    EXPECT_NEAR(s.output_coefficients[0], 3.5477, 1e-4);
    EXPECT_NEAR(s.output_coefficients[1], -0.20827, 1e-5);
    EXPECT_NEAR(s.output_coefficients[2], -0.56558, 1e-5);
    // Unity gain at 0 Hz for gain 1: A + B + C = 1.
    float abc[3];
    speech_resonator_coefficients(0.0f, 90.0f, 1.0f, abc);
    EXPECT_NEAR(abc[0] + abc[1] + abc[2], 1.0f, 1e-6);
}

TEST_F(SpeechTest, InitialPauseFramesHaveFrequenciesScaledByZero) {
    // speech_init computes the pause frames before formant_scale becomes 1: cos(0) = 1, so B = 2r.
    EXPECT_NEAR(voice.current.values[3 + 1], resonator_b(0.0, 60.0), 1e-6);
    EXPECT_NEAR(voice.current.values[3 * 6 + 1], resonator_b(0.0, 800.0), 1e-6);
    EXPECT_TRUE(same_frame(voice.current, voice.target));
    EXPECT_EQ(voice.formant_scale, 1.0f);
    EXPECT_EQ(voice.frame_ticks, 3);

    set_text("");
    speech_tick(&voice); // the first tick's target uses formant_scale 1: pause F1 is 490 Hz
    EXPECT_NEAR(voice.target.values[3 + 1], resonator_b(490.0, 60.0), 1e-6);
    EXPECT_NEAR(voice.target.values[3 + 2], resonator_c(60.0), 1e-6);
}

TEST_F(SpeechTest, Controller5ScalesEveryFormantFrequency) {
    const struct {
        int value;
        float scale;
    } cases[] = {{64, 1.0f}, {0, 0.70710677f}, {127, 1.4066f}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        SetUp();
        set_text("");
        speech_control(&voice, 5, c.value);
        EXPECT_NEAR(voice.formant_scale, c.scale, 1e-4);
        if (c.value == 64) {
            EXPECT_EQ(voice.formant_scale, 1.0f);
        }
        speech_tick(&voice);
        const double s = voice.formant_scale;
        // Pause phoneme: nasal 270 Hz, F1 490, F2 1480, F3 2500, fixed 3200, 4000, 6000.
        const double f[7] = {270, 490, 1480, 2500, 3200, 4000, 6000};
        const double w[7] = {100, 60, 90, 150, 200, 500, 800};
        for (int i = 0; i < 7; ++i)
            EXPECT_NEAR(voice.target.values[3 * i + 1], resonator_b(f[i] * s, w[i]), 2e-6) << i;
    }
}

TEST_F(SpeechTest, NoiseFollowsTheRandomGenerator) {
    // Seed 0 -> 907633515 -> top 23 bits 1772721 -> 1772721 / 2^22 - 1.
    const float first = 1772721.0f / 4194304.0f - 1.0f;
    EXPECT_FLOAT_EQ(speech_noise(&voice), 0.25f * first);
    EXPECT_EQ(voice.noise_seed, 907633515u);
    const std::uint32_t seed2 = 907633515u * 196314165u + 907633515u;
    const float second = static_cast<float>(seed2 >> 9) / 4194304.0f - 1.0f;
    EXPECT_FLOAT_EQ(speech_noise(&voice), 0.25f * (second + 0.75f * first));
}

TEST_F(SpeechTest, ProcessIgnoresTheRightSideAndWritesBothSides) {
    set_text("ah");
    for (int i = 0; i < 5; ++i) speech_tick(&voice);
    SpeechVoice copy = voice;

    constexpr int N = 128;
    float a[2 * N], b[2 * N];
    for (int k = 0; k < N; ++k) {
        a[2 * k] = b[2 * k] = std::sin(0.05f * k);
        a[2 * k + 1] = 0.0f;
        b[2 * k + 1] = 0.9f * std::cos(0.31f * k);
    }
    speech_process(&voice, a, N);
    speech_process(&copy, b, N);
    double energy = 0;
    for (int k = 0; k < N; ++k) {
        ASSERT_EQ(a[2 * k], a[2 * k + 1]) << k;
        ASSERT_EQ(a[2 * k], b[2 * k]) << k;
        ASSERT_EQ(b[2 * k], b[2 * k + 1]) << k;
        energy += a[2 * k] * a[2 * k];
    }
    EXPECT_GT(energy, 1e-3) << "the voiced input comes through";
    for (int j = 0; j < FRAME_VALUE_COUNT; ++j)
        EXPECT_NEAR(voice.current.values[j], voice.target.values[j],
                    1e-5f * (1.0f + std::fabs(voice.target.values[j])))
            << "the current frame reaches the target at the end of the block, value " << j;
}

TEST_F(SpeechTest, ProcessOfNothingChangesNothing) {
    set_text("ah");
    speech_tick(&voice);
    const SpeechVoice before = voice;
    float block[2] = {1.0f, 2.0f};
    speech_process(&voice, block, 0);
    EXPECT_EQ(std::memcmp(&before, &voice, sizeof before), 0);
    EXPECT_EQ(block[0], 1.0f);
    EXPECT_EQ(block[1], 2.0f);
}

TEST_F(SpeechTest, WaitingVoiceKeepsFilteringWithTheLastTarget) {
    set_text("ah!m");
    speech_control(&voice, 4, 64);
    for (int i = 0; i < 7; ++i) speech_tick(&voice);
    ASSERT_EQ(voice.wait_note_on, 1);
    const FormantFrame last = voice.target;
    float block[2 * 64] = {};
    for (int k = 0; k < 64; ++k) block[2 * k] = (k % 8 == 0) ? 1.0f : 0.0f;
    speech_process(&voice, block, 64);
    speech_tick(&voice);
    EXPECT_TRUE(same_frame(last, voice.target));
    double energy = 0;
    for (float x : block) energy += x * x;
    EXPECT_GT(energy, 1e-3);
}

TEST_F(SpeechTest, LevelsBecomeGainsOfSixStepsPerOctave) {
    // "ah" is phoneme 60 after the pause; their ranks (2 and 31) are far apart, so every tick's target
    // is the frame of 60 alone: AV 62, AH 0, AF 0, AB -19, A1 64, AN -16.
    set_text("ah");
    speech_tick(&voice);
    ASSERT_EQ(voice.current_phoneme, 60);
    const float *f = voice.target.values;
    EXPECT_NEAR(f[FRAME_VOICING_GAIN], 0.397, 0.0005);
    EXPECT_NEAR(f[FRAME_ASPIRATION_GAIN], 0.000308, 0.0000005);
    EXPECT_EQ(f[FRAME_FRICATION_GAIN], f[FRAME_ASPIRATION_GAIN]);
    EXPECT_NEAR(f[FRAME_BYPASS_GAIN], std::pow(2.0, -89.0 / 6.0), 1e-9);
    // A resonator's A coefficient is its unity-gain value (1 - B - C) times the level's gain.
    auto gain_of = [&](int r) { return f[3 * r] / (1.0f - f[3 * r + 1] - f[3 * r + 2]); };
    EXPECT_NEAR(gain_of(1), 0.5, 1e-6);                        // A1 64
    EXPECT_NEAR(gain_of(0), 0.0000484, 5e-8);                  // AN -16
    EXPECT_NEAR(gain_of(4), std::pow(2.0, -32.0 / 6.0), 1e-6); // A4 38

    // To the bit: the exponent (level - 70) x 0.16666667 is a single-precision product, and its power of
    // two is rounded once. A step constant one unit in the last place off changes these gains.
    auto exact_gain = [](double level) {
        const double step = 0.1666666716337204; // 0x3E2AAAAB
        const float exponent = static_cast<float>((level - 70.0) * step);
        return static_cast<float>(std::pow(2.0, static_cast<double>(exponent)));
    };
    EXPECT_EQ(f[FRAME_VOICING_GAIN], exact_gain(62));
    EXPECT_EQ(f[FRAME_ASPIRATION_GAIN], exact_gain(0));
    EXPECT_EQ(f[FRAME_BYPASS_GAIN], exact_gain(-19));
}

// The per-sample steps of the speech filter written out once more, in float and in their order:
// glide, voiced source, resonators 1 + 0, frication source, resonators 2..6, two high-passes, output
// resonator.
void reference_process(SpeechVoice *v, float *block, int n) {
    float *cur = v->current.values;
    float delta[FRAME_VALUE_COUNT];
    for (int j = 0; j < FRAME_VALUE_COUNT; ++j) delta[j] = (v->target.values[j] - cur[j]) * (1.0f / n);
    auto noise = [&] {
        v->noise_seed = next_random(v->noise_seed);
        v->noise_state = random_to_bipolar(v->noise_seed) + 0.75f * v->noise_state;
        return 0.25f * v->noise_state;
    };
    auto resonator = [](const float *abc, SpeechResonator *h, float x) {
        const float y = (abc[2] * h->y2 + abc[1] * h->y1) + abc[0] * x;
        h->y2 = h->y1;
        h->y1 = y;
        return y;
    };
    const float highpass = 0.012f;
    for (int k = 0; k < n; ++k) {
        for (int j = 0; j < FRAME_VALUE_COUNT; ++j) cur[j] += delta[j];
        const float s = block[2 * k];
        const float aspiration = noise();
        const float voiced = aspiration * cur[FRAME_ASPIRATION_GAIN] + cur[FRAME_VOICING_GAIN] * s;
        const float r1 = resonator(cur + 3, &v->resonators[1], voiced);
        const float r0 = resonator(cur + 0, &v->resonators[0], voiced);
        float m = r1 + r0;
        const float frication = noise();
        const float u = frication * cur[FRAME_FRICATION_GAIN] + voiced - v->previous_voiced;
        v->previous_voiced = voiced;
        for (int i = 2; i <= 6; ++i) m = resonator(cur + 3 * i, &v->resonators[i], u) - m;
        const float h1 = cur[FRAME_BYPASS_GAIN] * u - m - v->highpass1;
        v->highpass1 += highpass * h1;
        const float h2 = h1 - v->highpass2;
        v->highpass2 += highpass * h2;
        const float out = resonator(speech_shared().output_coefficients, &v->output, h2) - h2;
        block[2 * k] = out;
        block[2 * k + 1] = out;
    }
}

TEST_F(SpeechTest, ProcessFollowsTheSampleStepsExactly) {
    // A fricative with a voiced part ("z", phoneme 66: AV 40, AH 20, AF 60) gliding from "s" (54, rank
    // 18 against 20), so that every source, every resonator and the glide carry signal; two blocks of
    // different lengths.
    set_text("sz");
    speech_control(&voice, 4, 64);
    for (int i = 0; i < 13; ++i) speech_tick(&voice);
    ASSERT_EQ(voice.current_phoneme, 66);
    SpeechVoice expected = voice;
    const int lengths[2] = {128, 77};
    for (int n : lengths) {
        SCOPED_TRACE(n);
        std::vector<float> a(2 * n), b;
        for (int k = 0; k < n; ++k) a[2 * k] = std::sin(0.07f * k) + ((k % 16) == 0 ? 0.5f : 0.0f);
        b = a;
        speech_process(&voice, a.data(), n);
        reference_process(&expected, b.data(), n);
        for (int k = 0; k < 2 * n; ++k)
            ASSERT_EQ(std::bit_cast<std::uint32_t>(a[k]), std::bit_cast<std::uint32_t>(b[k])) << k;
        EXPECT_EQ(voice.noise_seed, expected.noise_seed);
        EXPECT_EQ(voice.previous_voiced, expected.previous_voiced);
        EXPECT_EQ(voice.highpass1, expected.highpass1);
        EXPECT_EQ(voice.highpass2, expected.highpass2);
        EXPECT_EQ(std::memcmp(voice.resonators, expected.resonators, sizeof voice.resonators), 0);
        EXPECT_EQ(std::memcmp(&voice.output, &expected.output, sizeof voice.output), 0);
        speech_tick(&voice);
        speech_tick(&expected);
    }
}

TEST(SpeechConstants, BitPatterns) {
    // Levels: 70 is unity, each 6 steps an octave; the table's levels 64 and 0 give 0.5 and 0.000308.
    EXPECT_EQ(std::bit_cast<std::uint32_t>(0x1.555556p-3f), 0x3E2AAAABu);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(0x1.89374cp-7f), 0x3C449BA6u);
}

TEST(SpeechTables, NamesAndTableAgree) {
    EXPECT_EQ(PhonemeTable[PAUSE_PHONEME][PH_DUR], 5.0f);
    EXPECT_EQ(PhonemeTable[60][PH_DUR], 6.0f);
    EXPECT_EQ(PhonemeTable[47][PH_RANK], 23.0f);
    EXPECT_EQ(PhonemeTable[8][PH_DUR], 0.0f);
    EXPECT_EQ(PhonemeTable[51][PH_DUR], 0.0f);
    for (int e = 0; e < PHONEME_NAME_COUNT; ++e) {
        const PhonemeName &n = PhonemeNames[e];
        ASSERT_GE(n.phoneme_count, 1);
        ASSERT_LE(n.phoneme_count, 4);
        for (int i = 0; i < n.phoneme_count; ++i) {
            EXPECT_GE(n.phonemes[i], 0);
            EXPECT_LT(n.phonemes[i], PHONEME_COUNT);
        }
        EXPECT_GE(std::strlen(n.name), 1u);
    }
    // The table is representable in the compact stored form: integer multiples of the column
    // multipliers whose running differences (never reset between columns) fit in signed 8 bits.
    const int multiplier[PHONEME_COLUMNS] = {10, 10, 20, 10, 20, 10, 10, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    int previous = 0;
    for (int c = 0; c < PHONEME_COLUMNS; ++c) {
        for (int p = 0; p < PHONEME_COUNT; ++p) {
            const float v = PhonemeTable[p][c];
            const int units = static_cast<int>(v) / multiplier[c];
            EXPECT_EQ(static_cast<float>(units * multiplier[c]), v) << p << "," << c;
            EXPECT_GE(units - previous, -128) << p << "," << c;
            EXPECT_LE(units - previous, 127) << p << "," << c;
            previous = units;
        }
    }
}

} // namespace
