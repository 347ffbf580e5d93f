#include "synth/filter.h"

#include "synth/rate.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

constexpr int N = 128;
constexpr int FRAMES = 6;

// A filter with both coefficient sets filled (state-variable and ladder), then given `mode`, so a
// pass in either kind does real work. resonance drives the ladder past its divergence limit when high.
FilterState make_filter(int mode, float cutoff, float resonance) {
    FilterState f{};
    filter_reset(&f);
    const float ladder[FILTER_PARAM_COUNT] = {6.0f, cutoff, resonance};
    const float svf[FILTER_PARAM_COUNT] = {1.0f, cutoff + 10.0f, resonance};
    filter_set(&f, ladder);
    filter_set(&f, svf);
    f.mode = mode;
    return f;
}

// Edgy input: a stepped saw of amplitude `gain` with an offset, different in every frame.
float input_sample(int k, float gain) {
    return gain * static_cast<float>((k * 7) % 61 - 30) / 30.0f + 0.25f;
}
void fill_input(float *buffer, int frame, float gain) {
    for (int i = 0; i < N; i++) buffer[i] = input_sample(frame * N + i, gain);
}

// First index where two float arrays differ bitwise, or -1.
int first_difference(const float *a, const float *b, int n) {
    for (int i = 0; i < n; i++)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return i;
    return -1;
}

struct Setting {
    float cutoff, resonance, gain;
};
// Moderate settings, and a loud input into a fully open, fully resonant ladder, which diverges and
// restarts.
constexpr Setting SETTINGS[] = {{64.0f, 30.0f, 1.7f}, {128.0f, 128.0f, 4.0f}};

// The one-pass pair renderers must give exactly the samples and states of two block passes, for every
// pair of modes (including Off and the ladder restart).
TEST(FilterPair, SerialMatchesTwoBlockPasses) {
    rate_set(44100);
    for (const Setting &s : SETTINGS) {
        for (int m1 = 0; m1 < 8; m1++) {
            for (int m2 = 0; m2 < 8; m2++) {
                SCOPED_TRACE(::testing::Message()
                             << "modes " << m1 << ", " << m2 << " resonance " << s.resonance);
                FilterState a1 = make_filter(m1, s.cutoff, s.resonance);
                FilterState a2 = make_filter(m2, s.cutoff - 20.0f, s.resonance);
                FilterState b1 = a1, b2 = a2;
                for (int frame = 0; frame < FRAMES; frame++) {
                    float expected[N], actual[N];
                    fill_input(expected, frame, s.gain);
                    fill_input(actual, frame, s.gain);
                    filter_render(&a1, expected, expected, N);
                    filter_render(&a2, expected, expected, N);
                    filter_render_serial(&b1, &b2, actual, N);
                    ASSERT_EQ(first_difference(expected, actual, N), -1) << "frame " << frame;
                    ASSERT_EQ(std::memcmp(&a1, &b1, sizeof a1), 0) << "frame " << frame;
                    ASSERT_EQ(std::memcmp(&a2, &b2, sizeof a2), 0) << "frame " << frame;
                }
            }
        }
    }
}

TEST(FilterPair, ParallelMatchesTwoBlockPasses) {
    rate_set(44100);
    for (const Setting &s : SETTINGS) {
        for (int m1 = 0; m1 < 8; m1++) {
            for (int m2 = 0; m2 < 8; m2++) {
                SCOPED_TRACE(::testing::Message()
                             << "modes " << m1 << ", " << m2 << " resonance " << s.resonance);
                FilterState a1 = make_filter(m1, s.cutoff, s.resonance);
                FilterState a2 = make_filter(m2, s.cutoff - 20.0f, s.resonance);
                FilterState b1 = a1, b2 = a2;
                for (int frame = 0; frame < FRAMES; frame++) {
                    float expected[N], expected_second[N], actual[N], actual_second[N];
                    fill_input(expected, frame, s.gain);
                    fill_input(actual, frame, s.gain);
                    filter_render(&a2, expected, expected_second, N);
                    filter_render(&a1, expected, expected, N);
                    filter_render_parallel(&b1, &b2, actual, actual_second, N);
                    ASSERT_EQ(first_difference(expected, actual, N), -1) << "frame " << frame;
                    ASSERT_EQ(first_difference(expected_second, actual_second, N), -1) << "frame " << frame;
                    ASSERT_EQ(std::memcmp(&a1, &b1, sizeof a1), 0) << "frame " << frame;
                    ASSERT_EQ(std::memcmp(&a2, &b2, sizeof a2), 0) << "frame " << frame;
                }
            }
        }
    }
}

// The loud setting must really restart the ladder, or the cases above prove less. Sample by sample, a
// restart in the second pass leaves the ladder input and last stage at 0.
TEST(FilterPair, LoudSettingRestartsTheLadder) {
    rate_set(44100);
    const Setting &s = SETTINGS[1];
    FilterState f = make_filter(FILTER_LADDER_LOW, s.cutoff, s.resonance);
    int restarts = 0;
    for (int k = 0; k < FRAMES * N; k++) {
        float y = input_sample(k, s.gain);
        filter_render(&f, &y, &y, 1);
        if (f.ladderIn == 0.0f && f.ladderY4 == 0.0f) restarts++;
    }
    EXPECT_GT(restarts, 0);
}

} // namespace
