#include "synth/distortion.h"
#include "synth/numeric.h"
#include "synth/rate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int N = 128;

DistortionState make_dist(float mode, float gain, float p1, float p2) {
    DistortionState d;
    std::memset(&d, 0, sizeof d);
    dist_reset(&d);
    const float p[DIST_PARAM_COUNT] = {mode, gain, p1, p2};
    dist_set(&d, p);
    return d;
}

float shape(DistortionState *d, float x) {
    float v = x;
    dist_render_mono(d, &v, &v, 1);
    return v;
}

TEST(Distortion, InputGain) {
    EXPECT_EQ(make_dist(0, 0, 0, 0).gain, 0.25f);
    EXPECT_EQ(make_dist(0, 32, 0, 0).gain, 1.0f);
    EXPECT_EQ(make_dist(0, 128, 0, 0).gain, 64.0f);
}

TEST(Distortion, OverdriveLevelsAndLimit) {
    DistortionState d = make_dist(DIST_OVERDRIVE, 32, 128, 64);
    EXPECT_EQ(d.bias, 0.0f);
    EXPECT_NEAR(shape(&d, 1.0f), 1.0f, 1e-4f); // atan(1) / atan(1)
    EXPECT_NEAR(shape(&d, -1.0f), -1.0f, 1e-4f);
    EXPECT_NEAR(shape(&d, 1e6f), 2.0f, 1e-4f); // (pi/2) / atan(1)
    EXPECT_NEAR(shape(&d, -1e6f), -2.0f, 1e-4f);
    // With parameter 1 = 128 and no bias, +-1 maps to +-1 whatever the gain.
    for (float gain : {0.0f, 50.0f, 128.0f}) {
        DistortionState g = make_dist(DIST_OVERDRIVE, gain, 128, 64);
        EXPECT_NEAR(shape(&g, 1.0f), 1.0f, 1e-4f) << gain;
    }
    DistortionState half = make_dist(DIST_OVERDRIVE, 32, 64, 64);
    EXPECT_NEAR(shape(&half, 1.0f), 0.5f, 1e-4f);
}

TEST(Distortion, ClipWithBiasIsAsymmetric) {
    DistortionState d = make_dist(DIST_CLIP, 32, 128, 96); // bias 0.5, output scale 1
    EXPECT_EQ(d.bias, 0.5f);
    struct Case {
        float in, out;
    };
    const Case cases[] = {{0.0f, 0.5f},     {0.5f, 1.0f},   {0.75f, 1.0f}, {-0.5f, 0.0f},
                          {-1.25f, -0.75f}, {-1.5f, -1.0f}, {-3.0f, -1.0f}};
    for (const Case &c : cases) EXPECT_EQ(shape(&d, c.in), c.out) << c.in;
    DistortionState quiet = make_dist(DIST_CLIP, 32, 32, 64);
    EXPECT_EQ(shape(&quiet, 5.0f), 0.25f);
    EXPECT_EQ(shape(&quiet, -5.0f), -0.25f);
}

TEST(Distortion, BitCrusherValues) {
    DistortionState d = make_dist(DIST_BIT_CRUSHER, 32, 0, 0);
    EXPECT_EQ(d.crushMul, 1);
    EXPECT_EQ(d.crushPreScale, 32768.0f);
    struct Case {
        float in, out;
    };
    const Case plain[] = {
        {0.5f, 0.5f},
        {1.0f, 32767.0f * 0x1p-15f},   // clamped
        {-1.0f, -32767.0f * 0x1p-15f}, // symmetric: -32768 is not produced
        {0x1p-16f, 0.0f},              // half a step rounds to even
        {3.0f * 0x1p-16f, 2.0f * 0x1p-15f},
        {1e6f, -32767.0f * 0x1p-15f}, // beyond int32: converts to INT32_MIN, then clamps low
    };
    for (const Case &c : plain) EXPECT_EQ(shape(&d, c.in), c.out) << c.in;

    DistortionState coarse = make_dist(DIST_BIT_CRUSHER, 32, 1, 0); // step 257
    EXPECT_EQ(coarse.crushMul, 257);
    EXPECT_EQ(shape(&coarse, 0.5f), 64.0f * 257.0f * 0x1p-15f);
    DistortionState flipped = make_dist(DIST_BIT_CRUSHER, 32, 0, 1); // mask 1 << 9
    EXPECT_EQ(flipped.crushMask, 512);
    EXPECT_EQ(shape(&flipped, 0.5f), static_cast<float>(16384 ^ 512) * 0x1p-15f);
    EXPECT_EQ(shape(&flipped, -0.5f), static_cast<float>(-16384 ^ 512) * 0x1p-15f);
}

TEST(Distortion, DecimatorStaircase) {
    DistortionState d = make_dist(DIST_DECIMATOR, 32, 0, 0);
    EXPECT_EQ(d.decimIncrement, 1u << 22);
    std::vector<float> in(4096), out(4096);
    for (int i = 0; i < 4096; i++) in[i] = static_cast<float>(i + 1);
    for (int f = 0; f < 4096 / N; f++) dist_render_mono(&d, &in[f * N], &out[f * N], N);
    // The phase wraps on every 1024th sample, which takes that sample and holds it.
    for (int i = 0; i < 4096; i++) {
        float expected = i < 1023 ? 0.0f : static_cast<float>(((i + 1) / 1024) * 1024);
        ASSERT_EQ(out[i], expected) << "first mismatch at " << i;
    }
    EXPECT_NEAR(static_cast<double>(make_dist(DIST_DECIMATOR, 32, 127, 0).decimIncrement) / 4294967296.0,
                0.9473, 1e-4);
    DistortionState frozen = make_dist(DIST_DECIMATOR, 32, 128, 0);
    EXPECT_EQ(frozen.decimIncrement, 0u);
    frozen.heldLeft = 0.75f;
    EXPECT_EQ(shape(&frozen, 0.1f), 0.75f);
}

TEST(Distortion, StereoDecimatorStepsOncePerFrame) {
    DistortionState d = make_dist(DIST_DECIMATOR, 32, 0, 0);
    std::vector<float> buf(2 * 2048);
    for (int i = 0; i < 2048; i++)
        buf[2 * i] = static_cast<float>(i + 1), buf[2 * i + 1] = -static_cast<float>(i + 1);
    for (int f = 0; f < 2048 / N; f++) dist_render_stereo(&d, &buf[2 * f * N], &buf[2 * f * N], N);
    EXPECT_EQ(buf[2 * 1022], 0.0f);
    EXPECT_EQ(buf[2 * 1023], 1024.0f);
    EXPECT_EQ(buf[2 * 1023 + 1], -1024.0f);
    EXPECT_EQ(buf[2 * 2047 + 1], -2048.0f);
}

TEST(Distortion, StereoFilterModesSeparateOrShareTheState) {
    float in[2 * N];
    for (int i = 0; i < N; i++) in[2 * i] = (i % 20 < 10) ? 0.9f : -0.9f, in[2 * i + 1] = 0.0f;

    // Mode 6 (band-pass): left and right through their own filters.
    DistortionState six = make_dist(6, 32, 80, 40);
    float st[2 * N];
    std::memcpy(st, in, sizeof st);
    dist_render_stereo(&six, st, st, N);
    FilterState left;
    std::memset(&left, 0, sizeof left);
    filter_reset(&left);
    const float fp[3] = {2, 80, 40};
    filter_set(&left, fp);
    FilterState right = left;
    float l[N], r[N];
    for (int i = 0; i < N; i++) l[i] = in[2 * i], r[i] = in[2 * i + 1];
    filter_render(&left, l, l, N);
    filter_render(&right, r, r, N);
    for (int i = 0; i < N; i++) {
        ASSERT_EQ(st[2 * i], l[i]) << i;
        ASSERT_EQ(st[2 * i + 1], r[i]) << i;
    }

    // Mode 10 (ladder low-pass): one ladder sees left, right, left, ... as a single stream.
    DistortionState ten = make_dist(10, 32, 80, 40);
    std::memcpy(st, in, sizeof st);
    dist_render_stereo(&ten, st, st, N);
    FilterState one;
    std::memset(&one, 0, sizeof one);
    filter_reset(&one);
    const float lp[3] = {6, 80, 40};
    filter_set(&one, lp);
    float stream[2 * N];
    std::memcpy(stream, in, sizeof stream);
    filter_render(&one, stream, stream, 2 * N);
    for (int i = 0; i < 2 * N; i++) ASSERT_EQ(st[i], stream[i]) << i;
    EXPECT_NE(st[1], 0.0f); // the silent right side carries the left side's state

    // Mono use of a filter mode runs filter 1 with stride 1.
    DistortionState mono = make_dist(6, 32, 80, 40);
    float m[N];
    for (int i = 0; i < N; i++) m[i] = in[2 * i];
    dist_render_mono(&mono, m, m, N);
    for (int i = 0; i < N; i++) ASSERT_EQ(m[i], l[i]) << i;
}

TEST(Distortion, OffAndOutOfRangeModesPassThrough) {
    for (float mode : {0.0f, 16.0f, 17.0f, 31.0f}) {
        DistortionState d = make_dist(mode, 100, 100, 100);
        float in[2 * N], out[2 * N];
        for (int i = 0; i < 2 * N; i++) in[i] = std::sin(0.1f * i) * 3.0f;
        dist_render_stereo(&d, in, out, N);
        for (int i = 0; i < 2 * N; i++) ASSERT_EQ(out[i], in[i]) << mode;
        dist_render_mono(&d, in, out, N);
        for (int i = 0; i < N; i++) ASSERT_EQ(out[i], in[i]) << mode;
    }
}

TEST(Distortion, ModeChangesKeepStatesAndResetClearsThem) {
    DistortionState d = make_dist(DIST_DECIMATOR, 32, 60, 0);
    float buf[N];
    for (int i = 0; i < N; i++) buf[i] = 0.5f;
    dist_render_mono(&d, buf, buf, N);
    const std::uint32_t phase = d.decimPhase;
    const float held = d.heldLeft;
    const float clip[4] = {DIST_CLIP, 32, 128, 64};
    dist_set(&d, clip);
    EXPECT_EQ(d.decimPhase, phase);
    EXPECT_EQ(d.heldLeft, held);
    EXPECT_EQ(d.decimIncrement, make_dist(DIST_DECIMATOR, 32, 60, 0).decimIncrement); // kept
    d.filter1.svfLow = 0.25f;
    d.filter2.stride = 2;
    dist_reset(&d);
    EXPECT_EQ(d.decimPhase, 0u);
    EXPECT_EQ(d.heldLeft, 0.0f);
    EXPECT_EQ(d.filter1.svfLow, 0.0f);
    EXPECT_EQ(d.filter2.stride, 1);
    EXPECT_EQ(d.outScale, 1.0f); // settings survive a reset
}

TEST(DcFilter, StepDecaysByTheCoefficient) {
    rate_set(44100);
    DcFilterState dc;
    dc_reset(&dc);
    float buf[N];
    for (float &v : buf) v = 1.0f;
    dc_filter_mono(&dc, buf, buf, N);
    EXPECT_EQ(buf[0], 1.0f);
    for (int i = 1; i < N; i++) ASSERT_NEAR(buf[i] / buf[i - 1], 0.99714286f, 2e-6f) << i;
}

TEST(DcFilter, SilenceSettlesToATinyConstantNeverDenormal) {
    rate_set(44100);
    DcFilterState dc;
    dc_reset(&dc);
    float buf[N];
    for (float &v : buf) v = 1.0f;
    dc_filter_mono(&dc, buf, buf, N);
    float last = 0.0f;
    for (int k = 0; k < 200; k++) { // 25600 samples: long past the point where it stops moving
        std::memset(buf, 0, sizeof buf);
        dc_filter_mono(&dc, buf, buf, N);
        for (float v : buf) ASSERT_NE(std::fpclassify(v), FP_SUBNORMAL);
        last = buf[N - 1];
    }
    // The +g -g rounding stops the decay on a grid of 2^-41 / 2^-42: a tiny normal constant, not 0.
    EXPECT_NEAR(last, -3.96e-11f, 0.01e-11f);
    EXPECT_EQ(std::fpclassify(last), FP_NORMAL);
    std::memset(buf, 0, sizeof buf);
    dc_filter_mono(&dc, buf, buf, N);
    for (float v : buf) ASSERT_EQ(v, last);
}

TEST(DcFilter, StereoSidesAreIndependent) {
    DcFilterState stereo, mono;
    dc_reset(&stereo);
    dc_reset(&mono);
    float st[2 * N], m[N];
    for (int i = 0; i < N; i++) st[2 * i] = m[i] = 0.3f + 0.01f * i, st[2 * i + 1] = -0.7f;
    dc_filter_stereo(&stereo, st, st, N);
    dc_filter_mono(&mono, m, m, N);
    for (int i = 0; i < N; i++) ASSERT_EQ(st[2 * i], m[i]) << i;
    EXPECT_EQ(st[1], -0.7f);
    EXPECT_EQ(stereo.lastInRight, -0.7f);
    EXPECT_EQ(stereo.lastOutLeft, mono.lastOutLeft);
}

} // namespace
