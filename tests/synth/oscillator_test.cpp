#include "synth/numeric.h"
#include "synth/oscillator.h"
#include "synth/rate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int N = 128;

struct OscParams {
    float mode, ring, transpose, detune, colour, volume;
};

OscillatorState make_osc(OscParams p, float note, int index = 0) {
    OscillatorState o;
    std::memset(&o, 0, sizeof o);
    osc_reset(&o, index);
    o.note = note;
    const float params[OSC_PARAM_COUNT] = {p.mode, p.ring, p.transpose, p.detune, p.colour, p.volume};
    osc_set(&o, params);
    return o;
}

std::vector<float> render(OscillatorState *o, int frames, float fill = 0.0f) {
    std::vector<float> out;
    float buf[N];
    for (int f = 0; f < frames; f++) {
        for (float &v : buf) v = fill;
        osc_render(o, buf, N, nullptr, nullptr);
        out.insert(out.end(), buf, buf + N);
    }
    return out;
}

// Antiderivative of the ideal periodic waveform, continued over whole cycles.
double tri_saw_integral(double t, double c, double vol) {
    double k = std::floor(t), u = t - k;
    if (u < c) return -vol * u + vol * u * u / c;
    double w = u - c;
    return vol * w - vol * w * w / (1.0 - c); // F(1) = 0: the triangle has no mean
}
double pulse_integral(double t, double c, double vol) {
    double k = std::floor(t), u = t - k;
    double per_cycle = vol * (2.0 * c - 1.0);
    double f = u < c ? vol * u : vol * c - vol * (u - c);
    return k * per_cycle + f;
}

// Each band-limited sample is the mean of the ideal waveform over the last sample interval.
void expect_band_limited(float mode, float colour, float note) {
    OscillatorState o = make_osc({mode, 0, 64, 64, colour, 96}, note);
    const double vol = o.volume;
    const double df = phase_to_unit(static_cast<std::uint32_t>(o.increment));
    const double c = phase_to_unit(o.colourThreshold);
    ASSERT_GT(df, 0.0);
    std::uint32_t phase = o.phase;
    std::vector<float> out = render(&o, 8);
    const double tolerance = 2e-3;
    int checked = 0;
    for (std::size_t i = 0; i < out.size(); i++, phase += static_cast<std::uint32_t>(o.increment)) {
        double x = phase_to_unit(phase);
        double expected = mode == 1.0f ? (tri_saw_integral(x, c, vol) - tri_saw_integral(x - df, c, vol)) / df
                                       : (pulse_integral(x, c, vol) - pulse_integral(x - df, c, vol)) / df;
        ASSERT_NEAR(out[i], expected, tolerance)
            << "first mismatch at sample " << i << " (mode " << mode << ", colour " << colour << ")";
        checked++;
    }
    EXPECT_EQ(checked, 8 * N);
}

TEST(Oscillator, BandLimitedShapesAreMeansOfTheIdealWave) {
    const float colours[] = {0, 1, 32, 64, 100, 127};
    const float notes[] = {60, 96, 110};
    for (float mode : {1.0f, 2.0f})
        for (float colour : colours)
            for (float note : notes) expect_band_limited(mode, colour, note);
}

TEST(Oscillator, PitchFromNoteTransposeAndDetune) {
    EXPECT_EQ(make_osc({3, 0, 64, 64, 0, 128}, 60).increment, 12740060); // middle_c_increment
    EXPECT_EQ(make_osc({3, 0, 64, 64, 0, 128}, 72).increment, 2 * 12740060);
    EXPECT_EQ(make_osc({3, 0, 76, 64, 0, 128}, 60).increment, 2 * 12740060); // transpose +12
    EXPECT_EQ(make_osc({3, 0, 64, 64, 0, 128}, 48).increment, 12740060 / 2);
    OscillatorState detuned = make_osc({3, 0, 64, 96, 0, 128}, 60); // +0.25 semitone
    EXPECT_FLOAT_EQ(detuned.pitchOffset, 0.25f);
    EXPECT_GT(detuned.increment, 12740060);
    // A product of 2^31 or more converts to 0x80000000 (half the sample rate).
    EXPECT_EQ(static_cast<std::uint32_t>(make_osc({3, 0, 128, 128, 0, 128}, 127).increment), 0x80000000u);
    // Noise filter frequency: pitch offsets -64..+64 map to 2^-10..1.
    EXPECT_EQ(make_osc({4, 0, 0, 64, 0, 128}, 60).noiseFreq, 0x1p-10f);
    EXPECT_EQ(make_osc({4, 0, 64, 64, 0, 128}, 60).noiseFreq, 0x1p-5f);
}

TEST(Oscillator, TriangleAndSawShapes) {
    // Colour 64, low note: symmetric triangle between -volume and +volume.
    OscillatorState tri = make_osc({1, 0, 64, 64, 64, 128}, 36);
    std::vector<float> t = render(&tri, 40);
    float lo = 1e9f, hi = -1e9f;
    for (float v : t) lo = std::min(lo, v), hi = std::max(hi, v);
    EXPECT_NEAR(hi, 1.0f, 2e-3f);
    EXPECT_NEAR(lo, -1.0f, 2e-3f);
    // Colour 0: a falling saw; every non-wrap step goes down.
    OscillatorState saw = make_osc({1, 0, 64, 64, 0, 128}, 36);
    std::vector<float> s = render(&saw, 40);
    int rises = 0;
    for (std::size_t i = 1; i < s.size(); i++) rises += s[i] > s[i - 1];
    int wraps = static_cast<int>(40.0 * N * phase_to_unit(static_cast<std::uint32_t>(saw.increment))) + 1;
    EXPECT_LE(rises, 2 * wraps); // each wrap: the band-limited jump sample, then the top
    EXPECT_GT(s[1], 0.99f);      // starts near +volume, falling
    // Colour 128 is the same as colour 0, bit for bit.
    OscillatorState saw128 = make_osc({1, 0, 64, 64, 128, 128}, 36);
    EXPECT_EQ(saw128.colourThreshold, 0u);
    EXPECT_EQ(render(&saw128, 40), s);
}

TEST(Oscillator, PulseEdgesTakeIntermediateValues) {
    OscillatorState sq = make_osc({2, 0, 64, 64, 64, 128}, 72);
    const float df = phase_to_unit(static_cast<std::uint32_t>(sq.increment));
    std::vector<float> out = render(&sq, 4);
    int highs = 0, lows = 0, edges = 0;
    std::uint32_t phase = 0;
    for (std::size_t i = 0; i < out.size(); i++, phase += static_cast<std::uint32_t>(sq.increment)) {
        if (out[i] == 1.0f)
            highs++;
        else if (out[i] == -1.0f)
            lows++;
        else {
            edges++;
            // A falling edge: the fraction of the interval still high sets the level.
            if (phase >= 0x80000000u && phase - sq.increment < 0x80000000u) {
                float high_part = (0.5f - (phase_to_unit(phase) - df)) / df;
                EXPECT_NEAR(out[i], 2.0f * high_part - 1.0f, 1e-3f) << i;
            }
        }
    }
    EXPECT_GT(edges, 0);
    EXPECT_NEAR(highs, lows, 2 * edges);
}

TEST(Oscillator, TinyIncrementGivesTheIdealWaveform) {
    // Increment below 512: the fraction df is 0; the samples are the ideal wave at the phase.
    OscillatorState saw = make_osc({1, 0, 0, 64, 0, 128}, -64);
    ASSERT_LT(saw.increment, 512);
    ASSERT_GT(saw.increment, 0);
    saw.phase = 0x40000000u;
    std::vector<float> s = render(&saw, 1);
    EXPECT_FLOAT_EQ(s[0], 0.5f); // falling saw at a quarter cycle
    OscillatorState pulse = make_osc({2, 0, 0, 64, 64, 128}, -64);
    pulse.phase = 0x7FFFFFF0u;
    std::vector<float> p = render(&pulse, 1);
    EXPECT_EQ(p[0], 1.0f);
    EXPECT_EQ(p[N - 1], -1.0f); // crossed the threshold within the frame
    OscillatorState tri = make_osc({1, 0, 0, 64, 64, 128}, -64);
    tri.phase = 0x20000000u; // an eighth: halfway up the rising part
    EXPECT_FLOAT_EQ(render(&tri, 1)[0], -0.5f);
}

TEST(Oscillator, TinyNonzeroColourIsAFallingSaw) {
    // A colour that rounds to a threshold below one fraction step must not reach the infinite slope.
    OscillatorState o = make_osc({1, 0, 64, 64, 1e-5f, 128}, 60);
    ASSERT_NE(o.colourThreshold, 0u);
    o.phase = 0;
    std::vector<float> out = render(&o, 4);
    for (float v : out) ASSERT_TRUE(std::isfinite(v));
}

TEST(Oscillator, SineStartsAtZeroAndFollowsSine) {
    OscillatorState o = make_osc({3, 0, 64, 64, 0, 64}, 60);
    std::vector<float> out = render(&o, 2);
    EXPECT_EQ(out[0], 0.0f);
    std::uint32_t phase = 0;
    for (std::size_t i = 0; i < out.size(); i++, phase += static_cast<std::uint32_t>(o.increment))
        ASSERT_NEAR(out[i], 0.5 * std::sin(2.0 * M_PI * phase / 4294967296.0), 5e-6) << i;
    OscillatorState q = make_osc({3, 0, 64, 64, 0, 128}, 60);
    // The peaks are the sine polynomial's, 0.9999935, not a library sine's 1.0.
    q.phase = 0x40000000u;
    EXPECT_NEAR(render(&q, 1)[0], 0.9999935f, 5e-7f);
    q.phase = 0xC0000000u;
    EXPECT_NEAR(render(&q, 1)[0], -0.9999935f, 5e-7f);
}

TEST(Oscillator, NoiseSeedsPerIndex) {
    OscillatorState a = make_osc({4, 0, 64, 64, 0, 128}, 60, 0);
    OscillatorState b = make_osc({4, 0, 64, 64, 0, 128}, 60, 0);
    OscillatorState c = make_osc({4, 0, 64, 64, 0, 128}, 60, 1);
    EXPECT_EQ(a.noiseSeed, 0xDEADBEEFu);
    EXPECT_EQ(c.noiseSeed, 0xBAADF00Du);
    EXPECT_EQ(make_osc({4, 0, 64, 64, 0, 128}, 60, 2).noiseSeed, 0xD3ADC0DEu);
    std::vector<float> ra = render(&a, 4), rb = render(&b, 4), rc = render(&c, 4);
    EXPECT_EQ(ra, rb);
    EXPECT_NE(ra, rc);
    EXPECT_EQ(a.phase, 0u); // noise neither uses nor advances the phase
    // First sample by hand: damping 1 (colour 0), filter states from rest.
    OscillatorState d = make_osc({4, 0, 64, 64, 0, 128}, 60, 0);
    float r = random_to_bipolar(next_random(0xDEADBEEFu));
    float high = r - 1.0f * 0.0f - 0.0f;
    float band = 0.0f + d.noiseFreq * high;
    EXPECT_EQ(render(&d, 1)[0], 1.0f * ((high + 0.0f) * 1.0f + band));
}

TEST(Oscillator, FmReplacesAndRingMultiplies) {
    OscillatorState mod = make_osc({3, 0, 64, 64, 0, 64}, 60);
    float m[N] = {};
    osc_render(&mod, m, N, nullptr, nullptr);

    OscillatorState car = make_osc({5, 0, 76, 64, 0, 128}, 60);
    float buf[N];
    std::memcpy(buf, m, sizeof buf);
    std::uint32_t phase = car.phase;
    osc_render(&car, buf, N, nullptr, nullptr);
    for (int i = 0; i < N; i++, phase += static_cast<std::uint32_t>(car.increment)) {
        float expected = 1.0f * fast_sin(6.2831854820251465f * (2.0f * m[i] + (1.0f + phase_to_unit(phase))));
        ASSERT_EQ(buf[i], expected) << i;
    }
    OscillatorState ringed = make_osc({5, 1, 76, 64, 0, 128}, 60);
    float rbuf[N];
    std::memcpy(rbuf, m, sizeof rbuf);
    osc_render(&ringed, rbuf, N, nullptr, nullptr);
    for (int i = 0; i < N; i++) ASSERT_EQ(rbuf[i], m[i] * buf[i]) << i;
}

TEST(Oscillator, OffModeAndLowBitsOfModeAndRing) {
    for (float mode : {0.0f, 8.0f}) {
        OscillatorState off = make_osc({mode, 0, 64, 64, 0, 128}, 60);
        off.phase = 12345;
        std::vector<float> out = render(&off, 1, 0.25f);
        for (float v : out) ASSERT_EQ(v, 0.25f);
        EXPECT_EQ(off.phase, 12345u);
    }
    // Ring after an Off first oscillator multiplies the zero buffer: silence.
    OscillatorState ring = make_osc({3, 1, 64, 64, 0, 128}, 60);
    for (float v : render(&ring, 2)) ASSERT_EQ(v, 0.0f);
    // Ring 2 has bit 0 clear: adds.
    OscillatorState plain = make_osc({3, 2, 64, 64, 0, 128}, 60);
    OscillatorState added = make_osc({3, 0, 64, 64, 0, 128}, 60);
    EXPECT_EQ(render(&plain, 2, 0.125f), render(&added, 2, 0.125f));
    // Mode 11 has low bits 3: a sine.
    OscillatorState eleven = make_osc({11, 0, 64, 64, 0, 128}, 60);
    OscillatorState sine = make_osc({3, 0, 64, 64, 0, 128}, 60);
    EXPECT_EQ(render(&eleven, 2), render(&sine, 2));
}

TEST(Oscillator, AuxSumsTheBusSides) {
    float bus_a[2 * N], bus_b[2 * N];
    for (int i = 0; i < N; i++) {
        bus_a[2 * i] = 0.25f * i, bus_a[2 * i + 1] = -0.125f;
        bus_b[2 * i] = 1.0f, bus_b[2 * i + 1] = 2.0f;
    }
    OscillatorState a = make_osc({6, 0, 64, 64, 0, 64}, 60);
    OscillatorState b = make_osc({7, 1, 64, 64, 0, 64}, 60);
    float buf[N];
    for (float &v : buf) v = 3.0f;
    osc_render(&a, buf, N, bus_a, bus_b);
    for (int i = 0; i < N; i++)
        ASSERT_EQ(buf[i], (bus_a[2 * i] + bus_a[2 * i + 1]) * 0.5f * 0.6000000238418579f);
    osc_render(&b, buf, N, bus_a, bus_b);
    for (int i = 0; i < N; i++)
        ASSERT_EQ(buf[i], (bus_a[2 * i] + bus_a[2 * i + 1]) * 0.5f * 0.6000000238418579f *
                              (3.0f * 0.5f * 0.6000000238418579f));
    EXPECT_EQ(a.phase, 0u);
}

} // namespace
