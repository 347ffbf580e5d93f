#include "synth/numeric.h"

#include <cmath>
#include <cstring>

namespace {

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

constexpr float TWO_PI = 6.2831854820251465f;      // single 2pi
constexpr float PI = 3.1415927410125732f;          // single pi
constexpr float HALF_PI = 1.5707963705062866f;     // single pi/2
constexpr float THREE_HALF_PI = 4.71238899230957f; // single 3pi/2

std::uint64_t double_bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// Rounds the exact value hi + lo to single precision, where hi is that value rounded to double.
// Only when hi falls exactly halfway between two floats can a plain conversion of hi go the wrong way;
// the sign of lo then decides.
float round_pair(double hi, double lo) {
    float r = static_cast<float>(hi);
    if (lo == 0.0) return r;
    // A midpoint between two floats has at least its low 28 significand bits clear.
    if ((double_bits(hi) & 0x0FFFFFFFu) != 0) return r;
    double dr = r;
    if (dr == hi) return r;
    float other = std::nextafter(r, hi > dr ? INFINITY : -INFINITY);
    if (hi - dr != static_cast<double>(other) - hi) return r;
    return (lo > 0.0) == (other > r) ? other : r;
}

// The general paths: the exact result split into a double and its error term, rounded once.
[[gnu::noinline]] float mul_float_double_exact(float x, double c) {
    // c = hi + lo with hi on 24 bits and lo on at most 29: both partial products are exact doubles.
    double hi = static_cast<float>(c);
    double lo = c - hi;
    double p1 = static_cast<double>(x) * hi;
    double p2 = static_cast<double>(x) * lo;
    double s = p1 + p2;
    double e = p2 - (s - p1); // |p1| >= |p2|: Fast2Sum error term, exact
    return round_pair(s, e);
}

[[gnu::noinline]] float add_float_double_exact(float x, double c) {
    double a = x;
    double s = a + c;
    double bb = s - a;
    double e = (a - (s - bb)) + (c - bb); // TwoSum error term, exact
    return round_pair(s, e);
}

} // namespace

// Fast paths for the per-sample polynomials. The double result is the exact one rounded once, as in
// the general paths; unless it could be a midpoint between two floats (low 28 significand bits
// clear), converting it to float already gives the correctly rounded result, because one rounding to
// double never carries a value across a float midpoint. round_pair returns that same conversion.
float mul_float_double(float x, double c) {
    const double p = static_cast<double>(x) * c;
    if ((double_bits(p) & 0x0FFFFFFFu) != 0) return static_cast<float>(p);
    return mul_float_double_exact(x, c);
}

float add_float_double(float x, double c) {
    const double s = static_cast<double>(x) + c;
    if ((double_bits(s) & 0x0FFFFFFFu) != 0) return static_cast<float>(s);
    return add_float_double_exact(x, c);
}

namespace {

// Library results in double are within an ulp of the true value, so rounding one to float is correct
// unless it lies within a few double ulps of a midpoint between two floats (low 29 bits 0x10000000 for
// a normal float) or below the normal range. Those rare arguments are evaluated again in extended
// precision: for exp2 ten inputs of the normal range come that close (the closest about 2^-35 float
// ulps from a midpoint), for atan eight.
bool clear_of_float_midpoint(double d) {
    if (!(std::fabs(d) >= 0x1p-126)) return false;
    const std::int64_t low = static_cast<std::int64_t>(double_bits(d) & 0x1FFFFFFFu) - 0x10000000;
    return low < -4 || low > 4;
}

} // namespace

float exp2(float x) {
    const double d = std::exp2(static_cast<double>(x));
    if (clear_of_float_midpoint(d)) return static_cast<float>(d);
    return static_cast<float>(exp2l(static_cast<long double>(x)));
}

float power(float x, float y) {
    const double d = std::pow(static_cast<double>(x), static_cast<double>(y));
    if (clear_of_float_midpoint(d)) return static_cast<float>(d);
    return static_cast<float>(powl(static_cast<long double>(x), static_cast<long double>(y)));
}

float exp_curve10(float x) {
    return exp2(10.0f * (x - 1.0f));
}

float exp_curve11(float x) {
    return exp2(11.0f * (x - 1.0f));
}

float exact_atan(float x) {
    const double d = std::atan(static_cast<double>(x));
    if (clear_of_float_midpoint(d)) return static_cast<float>(d);
    return static_cast<float>(atanl(static_cast<long double>(x)));
}

float exact_sqrt(float x) {
    return std::sqrt(x);
}

float sine_poly(float t) {
    float t2 = t * t;
    float a = mul_float_double(t2, SINE_A7);
    float b = add_float_double(a, SINE_A5);
    float c = add_float_double(t2 * b, SINE_A3);
    float d = 1.0f + t2 * c;
    return t * d;
}

float fast_sin(float x) {
    float r = std::fmod(x, TWO_PI); // exact remainder, sign of x
    float t;
    if (r > THREE_HALF_PI)
        t = r - TWO_PI;
    else if (r > HALF_PI)
        t = PI - r;
    else
        t = r;
    return sine_poly(t);
}

float fast_atan(float x) {
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
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

void numeric_env_enter(std::fenv_t *saved) {
    std::fegetenv(saved);
    // The default environment: round to nearest, every exception masked, no flush-to-zero.
    std::fesetenv(FE_DFL_ENV);
}

void numeric_env_leave(const std::fenv_t *saved) {
    std::fesetenv(saved);
}

NumericEnvGuard::NumericEnvGuard() {
    numeric_env_enter(&saved);
}

NumericEnvGuard::~NumericEnvGuard() {
    numeric_env_leave(&saved);
}
