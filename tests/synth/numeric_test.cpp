#include "synth/numeric.h"
#include "synth/rate.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace {

std::uint32_t bits_of(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

TEST(NumericConstants, HaveExactBitPatterns) {
    EXPECT_EQ(bits_of(ANTI_DENORMAL), 0x36800000u);
    EXPECT_EQ(bits_of(ENV_OFF_LEVEL), 0x39000000u);
    EXPECT_EQ(bits_of(PARAM_MAX), 0x43000000u);
    EXPECT_EQ(bits_of(INV_128), 0x3C000000u);
    EXPECT_EQ(bits_of(INV_12), 0x3DAAAAABu);
    EXPECT_EQ(INV_12, 1.0f / 12.0f);
}

TEST(PhaseToUnit, EdgeValues) {
    EXPECT_EQ(phase_to_unit(0), 0.0f);
    EXPECT_EQ(phase_to_unit(0xFFFFFFFFu), 1.0f - 0x1p-23f);
    EXPECT_EQ(phase_to_unit(0x80000000u), 0.5f);
    EXPECT_EQ(phase_to_unit(511), 0.0f); // below one step of 2^-23
    EXPECT_EQ(phase_to_unit(512), 0x1p-23f);
    EXPECT_EQ(phase_to_one_two(0x40000000u), 1.25f);
}

TEST(Random, GeneratorAndBipolarConversion) {
    EXPECT_EQ(next_random(0), 907633515u);
    EXPECT_EQ(next_random(1), 196314165u + 907633515u);
    EXPECT_EQ(next_random(0xFFFFFFFFu), 907633515u - 196314165u); // wraps modulo 2^32
    EXPECT_EQ(random_to_bipolar(0), -1.0f);
    EXPECT_EQ(random_to_bipolar(0xFFFFFFFFu), 1.0f - 0x1p-22f);
    EXPECT_EQ(random_to_bipolar(0x80000000u), 0.0f);
}

TEST(FastSin, DocumentedValues) {
    struct Case {
        float x, expected, tolerance;
    };
    const Case cases[] = {
        {1.5707963705062866f, 0.9999935f, 5e-7f}, // pi/2
        {4.71238899230957f, -0.9999935f, 5e-7f},  // 3pi/2
        {-3.0f, -0.1150f, 5e-5f},                 // unfolded negative argument
        {-6.2831854820251465f + 0.001f, 25.3f, 0.05f},
        {0.0f, 0.0f, 0.0f},
        {3.1415927410125732f, 0.0f, 1e-6f},
        {6.2831854820251465f + 1.0f, 0.8414f, 2e-4f}, // folded back by the remainder
    };
    for (const Case &c : cases) EXPECT_NEAR(fast_sin(c.x), c.expected, c.tolerance) << "x = " << c.x;
}

TEST(FastAtan, DocumentedValuesAndOddness) {
    EXPECT_NEAR(fast_atan(1.0f), 0.78540f, 1e-5f);
    EXPECT_NEAR(fast_atan(3.0f), 1.2490f, 1e-4f);
    EXPECT_NEAR(fast_atan(1e6f), 1.5708f, 1e-4f);
    EXPECT_EQ(fast_atan(0.0f), 0.0f);
    // Just below 1 uses the small form, 1 the large one: both near pi/4.
    EXPECT_NEAR(fast_atan(std::nextafter(1.0f, 0.0f)), 0.78540f, 1e-5f);
    const float xs[] = {1e-6f, 0.25f, 0.5f, 0.999f, 1.0f, 2.0f, 3.0f, 100.0f, 1e6f};
    for (float x : xs) {
        EXPECT_EQ(fast_atan(-x), -fast_atan(x)) << x;
        EXPECT_NEAR(fast_atan(x), std::atan(x), 2e-3f) << x;
    }
}

TEST(FloatToInt32, RoundsHalfEvenAndMapsOutOfRangeToMin) {
    struct Case {
        float x;
        std::int32_t expected;
    };
    const Case cases[] = {
        {0.5f, 0},
        {1.5f, 2},
        {2.5f, 2},
        {-0.5f, 0},
        {-1.5f, -2},
        {-2.5f, -2},
        {0.49999997f, 0},
        {2.7f, 3},
        {-2.7f, -3},
        {8388607.5f, 8388608},
        {2147483520.0f, 2147483520},
        {2147483648.0f, INT32_MIN}, // 2^31: not saturated to INT32_MAX
        {4e9f, INT32_MIN},
        {-2147483648.0f, INT32_MIN},
        {-3e9f, INT32_MIN},
        {INFINITY, INT32_MIN},
        {-INFINITY, INT32_MIN},
        {NAN, INT32_MIN},
    };
    for (const Case &c : cases) EXPECT_EQ(float_to_int32(c.x), c.expected) << "x = " << c.x;
}

TEST(FloatToInt32, IgnoresCallersRoundingMode) {
    std::fenv_t env;
    std::fegetenv(&env);
    std::fesetround(FE_UPWARD);
    volatile float x = 2.5f;
    EXPECT_EQ(float_to_int32(x), 2);
    EXPECT_EQ(float_to_int32(-x), -2);
    std::fesetenv(&env);
}

TEST(Exponentials, CurvesAndPower) {
    EXPECT_EQ(exp2(0.0f), 1.0f);
    EXPECT_EQ(exp2(-10.0f), 0x1p-10f);
    EXPECT_EQ(exp2(7.0f), 128.0f);
    EXPECT_EQ(exp2(0.5f), static_cast<float>(std::sqrt(2.0)));
    EXPECT_EQ(exp2(-0.5f), static_cast<float>(std::sqrt(0.5)));
    EXPECT_EQ(exp_curve10(0.0f), 0x1p-10f);
    EXPECT_EQ(exp_curve10(1.0f), 1.0f);
    EXPECT_EQ(exp_curve10(0.5f), 0x1p-5f);
    EXPECT_EQ(exp_curve11(0.0f), 0x1p-11f);
    EXPECT_EQ(exp_curve11(1.0f), 1.0f);
    EXPECT_EQ(power(2.0f, 10.0f), 1024.0f);
    EXPECT_EQ(power(9.0f, 0.5f), 3.0f);
    EXPECT_EQ(power(0.5f, 3.0f), 0.125f);
}

// 2^x must be the correctly rounded float. These are all the inputs of the normal range at which 2^x
// lies within a few double ulps of a midpoint between two floats (the closest 3e-11 float ulps from
// it); the expected values were checked against an 80-digit evaluation. Rounding a double 2^x gets
// the two marked ones wrong.
TEST(Exponentials, Exp2RoundsCorrectlyNextToMidpoints) {
    struct Case {
        float x, expected;
    };
    const Case cases[] = {
        {0x1.715476p-24f, 0x1.000002p+0f},
        {0x1.0f39eep-18f, 0x1.00003p+0f},
        {0x1.0f0af8p-11f, 0x1.00177cp+0f},
        {0x1.853a6ep-9f, 0x1.00870ap+0f}, // double rounding gives 0x1.008708p+0
        {0x1.05535ap-7f, 0x1.016b46p+0f},
        {-0x1.5a3f34p-21f, 0x1.fffffp-1f},
        {-0x1.a7a04cp-14f, 0x1.fff6d2p-1f},
        {-0x1.d8568p-10f, 0x1.ff5c68p-1f},
        {-0x1.e7526ep-6f, 0x1.f58d62p-1f}, // double rounding gives 0x1.f58d6p-1
        {-0x1.3e53bcp-3f, 0x1.cbb4acp-1f},
    };
    for (const Case &c : cases) EXPECT_EQ(exp2(c.x), c.expected) << std::hexfloat << "x = " << c.x;
}

// power and the exact arctangent must round correctly too: power(2, y) has exp2's near-midpoint
// inputs, and atan has one input (of eight as close) that a double evaluation rounds wrong. Checked
// against an 80-digit evaluation.
TEST(Exponentials, PowerAndArctangentRoundCorrectlyNextToMidpoints) {
    EXPECT_EQ(power(2.0f, 0x1.853a6ep-9f), 0x1.00870ap+0f);
    EXPECT_EQ(power(2.0f, -0x1.e7526ep-6f), 0x1.f58d62p-1f);
    EXPECT_EQ(power(2.0f, 0x1.05535ap-7f), 0x1.016b46p+0f);
    EXPECT_EQ(exact_atan(0x1.1ad646p-4f), 0x1.1a6386p-4f); // double rounding gives 0x1.1a6384p-4
    EXPECT_EQ(exact_atan(-0x1.1ad646p-4f), -0x1.1a6386p-4f);
    EXPECT_EQ(exact_atan(0x1.6afe3ap+1f), 0x1.3b5652p+0f);
    EXPECT_EQ(exact_atan(0.0f), 0.0f);
}

// The exact product / sum of a float and a double, rounded once. A long double holds these exact
// products and sums when the double has few significant bits, so its conversion is the reference.
TEST(MixedPrecision, RoundsExactResultOnce) {
    // (1 + 2^-24) is halfway between 1 and 1 + 2^-23; a value just above it must round up, although
    // its double rounding lands on the midpoint and a plain conversion would round to even (1.0).
    const double just_above = 0x1p-24 + 0x1p-60;
    EXPECT_EQ(add_float_double(1.0f, just_above), 1.0f + 0x1p-23f);
    // Just below the midpoint between 1 + 2^-23 (odd) and 1 + 2^-22 (even): rounds down, not to even.
    EXPECT_EQ(add_float_double(1.0f, 0x1p-23 + 0x1p-24 - 0x1p-60), 1.0f + 0x1p-23f);
    EXPECT_EQ(add_float_double(1.0f, 0x1p-24), 1.0f); // a true tie goes to even
    const double c = std::nextafter((1.0 + 0x1p-24) / 3.0, 1.0);
    ASSERT_GT(3.0L * static_cast<long double>(c), 1.0L + 0x1p-24L);
    EXPECT_EQ(mul_float_double(3.0f, c), 1.0f + 0x1p-23f);

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> xs(-4.0f, 4.0f);
    std::uniform_real_distribution<double> cs(-1.0, 1.0);
    for (int i = 0; i < 20000; i++) {
        float x = xs(rng);
        double k = std::ldexp(std::round(std::ldexp(cs(rng), 38)), -38); // at most 39 significant bits
        long double exact_product = static_cast<long double>(x) * k;
        ASSERT_EQ(mul_float_double(x, k), static_cast<float>(exact_product)) << x << " * " << k;
        long double exact_sum = static_cast<long double>(x) + k;
        ASSERT_EQ(add_float_double(x, k), static_cast<float>(exact_sum)) << x << " + " << k;
    }
}

TEST(NumericEnvGuard, SetsNearestAndRestoresCaller) {
    std::fenv_t outer;
    std::fegetenv(&outer);
    std::fesetround(FE_TOWARDZERO);
    {
        NumericEnvGuard guard;
        EXPECT_EQ(std::fegetround(), FE_TONEAREST);
        volatile float a = 1.0f, b = 0x1.8p-24f; // 1 + 1.5 ulp/2 rounds up only to nearest
        EXPECT_EQ(a + b, 1.0f + 0x1p-23f);
    }
    EXPECT_EQ(std::fegetround(), FE_TOWARDZERO);
    std::fenv_t saved;
    std::fesetround(FE_DOWNWARD);
    numeric_env_enter(&saved);
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
    numeric_env_leave(&saved);
    EXPECT_EQ(std::fegetround(), FE_DOWNWARD);
    std::fesetenv(&outer);
}

TEST(RateConstants, At44100) {
    rate_set(48000); // computed afresh, not the 44100 values the globals start with
    rate_set(44100);
    EXPECT_EQ(middle_c_increment, 12740060.0f);
    EXPECT_EQ(rate_correction, 1.0f);
    // Exact: each printed value names one float. An angle 2pi * 150 / sr rounded to single precision
    // before the sine would land one step higher (0.0213697534).
    EXPECT_EQ(boost_sin, 0.0213697515f);
    EXPECT_EQ(boost_cos, 0.9997716546f);
    EXPECT_EQ(dc_coefficient, 0.9971428514f);
    EXPECT_EQ(frame_length, 128); // 128.5 rounds to even
    EXPECT_EQ(inverse_frame_length, 0.0078125f);
    EXPECT_EQ(rate_sample_rate(), 44100);
}

TEST(RateConstants, OtherRatesAndClamping) {
    struct Case {
        std::int32_t rate, expected_rate, frame;
    };
    const Case cases[] = {
        {48000, 48000, 140},     {96000, 96000, 279}, {22050, 22050, 64},
        {192000, RATE_MAX, 279}, {0, RATE_MIN, 24},   {-5, RATE_MIN, 24},
    };
    for (const Case &c : cases) {
        rate_set(c.rate);
        EXPECT_EQ(rate_sample_rate(), c.expected_rate) << c.rate;
        EXPECT_EQ(frame_length, c.frame) << c.rate;
        EXPECT_LE(frame_length, RATE_MAX_FRAME_LENGTH);
        EXPECT_EQ(inverse_frame_length, static_cast<float>(1.0 / c.frame));
        EXPECT_FLOAT_EQ(rate_correction, 44100.0f / static_cast<float>(c.expected_rate));
    }
    rate_set(48000);
    EXPECT_FLOAT_EQ(dc_coefficient, 1.0f - 126.0f / 48000.0f);
    EXPECT_FLOAT_EQ(middle_c_increment, 261.6255798339844f * 2147483648.0f / 48000.0f);
    rate_set(44100);
}

} // namespace
