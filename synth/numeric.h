// Numeric primitives and constants shared by every synthesizer unit.
//
// All synthesis arithmetic is single precision, round to nearest (ties to even), all floating-point
// exceptions masked. The entry points that render audio or take MIDI data establish that environment
// with NumericEnvGuard. Do not include <math.h> next to this header: its `using std::exp2` clashes
// with exp2(float) below (<cmath> is fine).
#pragma once
#include <bit>
#include <cfenv>
#include <cmath> // must precede the declarations below (exp2 overload)
#include <cstdint>

// Named constants; each has exactly the bit pattern noted (checked by tests).
constexpr float ANTI_DENORMAL = 0x1p-18f; // 0x36800000; added at fixed points so states never go denormal
constexpr float ENV_OFF_LEVEL = 0x1p-13f; // 0x39000000; envelope level at which an envelope switches off
constexpr float PARAM_MAX = 128.0f;       // 0x43000000; top of the parameter and envelope-level scale
constexpr float INV_128 = 0x1p-7f;        // 0x3C000000; 0..128 parameter to 0..1
constexpr float INV_12 = 0x1.555556p-4f;  // 0x3DAAAAAB; single-precision 1/12, semitones to octaves

// Float to signed 32-bit integer: round to nearest, ties to even. NaN and values outside the int32
// range give INT32_MIN (0x80000000), never a saturated INT32_MAX. Independent of the rounding mode.
inline std::int32_t float_to_int32(float x) {
    if (!(x >= -2147483648.0f && x < 2147483648.0f)) return INT32_MIN;
    std::int32_t t = static_cast<std::int32_t>(x); // toward zero
    float frac = x - static_cast<float>(t);        // exact
    if (frac > 0.5f) return t + 1;
    if (frac < -0.5f) return t - 1;
    if (frac == 0.5f) return t + (t & 1);
    if (frac == -0.5f) return t - (t & 1);
    return t;
}

// 2^x for any finite x, correctly rounded to single precision (control rate only).
float exp2(float x);
// 2^(y * log2 x) = x^y for x > 0, rounded to single precision (control rate only).
float power(float x, float y);
// exp2(10 * (x - 1)): 2^-10 at x = 0, 1 at x = 1.
float exp_curve10(float x);
// exp2(11 * (x - 1)): 2^-11 at x = 0, 1 at x = 1.
float exp_curve11(float x);

// Top 23 bits of a 32-bit phase as a fraction: floor(u / 512) / 2^23, in [0, 1 - 2^-23].
inline float phase_to_unit(std::uint32_t u) {
    union {
        std::uint32_t i;
        float f;
    } v;
    v.i = 0x3F800000u | (u >> 9); // a float in [1, 2)
    return v.f - 1.0f;
}

// 1 + phase_to_unit(u), formed directly from the phase bits: a float in [1, 2).
inline float phase_to_one_two(std::uint32_t u) {
    union {
        std::uint32_t i;
        float f;
    } v;
    v.i = 0x3F800000u | (u >> 9);
    return v.f;
}

// Linear congruential generator: s * 196314165 + 907633515 modulo 2^32.
inline std::uint32_t next_random(std::uint32_t s) {
    return s * 0x0BB38435u + 0x3619636Bu;
}

// Top 23 bits of a random state as a bipolar value: floor(s / 512) / 2^22 - 1, in [-1, 1).
inline float random_to_bipolar(std::uint32_t s) {
    union {
        std::uint32_t i;
        float f;
    } v;
    v.i = 0x40000000u | (s >> 9); // a float in [2, 4)
    return v.f - 3.0f;
}

// Exactly rounded mixed-precision operations: the exact result of a float and a double, rounded once
// to single precision (no double rounding through a double intermediate).
inline float mul_float_double(float x, double c);
inline float add_float_double(float x, double c);

// Sine polynomial t * (1 + t^2 * (A3 + t^2 * (A5 + A7 * t^2))), double coefficients, accurate for t in
// [-pi/2, pi/2]. Used directly by the oscillator sine, which folds its own phase.
inline float sine_poly(float t);
// Sine approximation for radians; folds positive arguments into [-pi/2, pi/2], leaves negative ones
// unfolded (the polynomial then runs outside its accurate range, e.g. about 25 near -2pi).
float fast_sin(float x);
// Arctangent approximation, odd in x, approaching +-pi/2 for large |x|.
inline float fast_atan(float x);

// Correctly rounded single-precision results of library functions, for control-rate settings.
float exact_atan(float x);
float exact_sqrt(float x);

// Saves the caller's floating-point environment, sets round to nearest with all exceptions masked
// (and no flush-to-zero), and restores the caller's environment when it goes out of scope.
struct NumericEnvGuard {
    std::fenv_t saved;
    NumericEnvGuard();
    ~NumericEnvGuard();
    NumericEnvGuard(const NumericEnvGuard &) = delete;
    NumericEnvGuard &operator=(const NumericEnvGuard &) = delete;
};

// The same as free functions, for callers that cannot use a scope.
void numeric_env_enter(std::fenv_t *saved);
void numeric_env_leave(const std::fenv_t *saved);

// Inline definitions of the per-sample primitives above: they run in the innermost loops, where a
// call per sample costs more than the arithmetic.
namespace numeric_detail {

// Sine polynomial coefficients, kept as doubles: they enter each product and sum at full value.
constexpr double SINE_A3 = -0.16666;
constexpr double SINE_A5 = 0.0083143;
constexpr double SINE_A7 = -0.00018542;

// Arctangent coefficients, doubles like the sine's. The two numerator constants differ in their
// digits on purpose: each form uses its own.
constexpr double ATAN_SMALL_NUM = 0.43157974;
constexpr double ATAN_LARGE_NUM = 0.431597974;
constexpr double ATAN_DEN_A2 = 0.76443945;
constexpr double ATAN_DEN_A0 = 0.05831938;
constexpr double HALF_PI_DOUBLE = 1.5707963267948966;

// The general paths, out of line: the exact result split into a double and its error term, rounded once.
float mul_float_double_exact(float x, double c);
float add_float_double_exact(float x, double c);

// True when a double result could lie exactly halfway between two floats (low 28 significand bits clear).
inline bool maybe_float_midpoint(double d) {
    return (std::bit_cast<std::uint64_t>(d) & 0x0FFFFFFFu) == 0;
}

} // namespace numeric_detail

// Fast paths: the double result is the exact one rounded once, as in the general paths; unless it
// could be a midpoint between two floats, converting it to float already gives the correctly rounded
// result, because one rounding to double never carries a value across a float midpoint.
inline float mul_float_double(float x, double c) {
    const double p = static_cast<double>(x) * c;
    if (!numeric_detail::maybe_float_midpoint(p)) return static_cast<float>(p);
    return numeric_detail::mul_float_double_exact(x, c);
}

inline float add_float_double(float x, double c) {
    const double s = static_cast<double>(x) + c;
    if (!numeric_detail::maybe_float_midpoint(s)) return static_cast<float>(s);
    return numeric_detail::add_float_double_exact(x, c);
}

inline float sine_poly(float t) {
    using namespace numeric_detail;
    float t2 = t * t;
    float a = mul_float_double(t2, SINE_A7);
    float b = add_float_double(a, SINE_A5);
    float c = add_float_double(t2 * b, SINE_A3);
    float d = 1.0f + t2 * c;
    return t * d;
}

inline float fast_atan(float x) {
    using namespace numeric_detail;
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
    float s = (bits & 0x80000000u) ? -1.0f : 1.0f;
    float a = std::fabs(x);
    float a2 = a * a;
    if (((bits >> 23) & 0xFFu) < 127u) {
        float num = a * (1.0f + mul_float_double(a2, ATAN_SMALL_NUM));
        float den = a2 * add_float_double(mul_float_double(a2, ATAN_DEN_A0), ATAN_DEN_A2) + 1.0f;
        return s * num / den;
    }
    float num = a * add_float_double(a2, ATAN_LARGE_NUM);
    float den = add_float_double(a2 * add_float_double(a2, ATAN_DEN_A2), ATAN_DEN_A0);
    float q = num / den;
    return s * add_float_double(-q, HALF_PI_DOUBLE);
}
