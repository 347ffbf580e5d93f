#include "synth/numeric.h"

#include <cmath>
#include <cstring>

namespace {

using namespace numeric_detail;

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

} // namespace

// The general paths: the exact result split into a double and its error term, rounded once.
float numeric_detail::mul_float_double_exact(float x, double c) {
    // c = hi + lo with hi on 24 bits and lo on at most 29: both partial products are exact doubles.
    double hi = static_cast<float>(c);
    double lo = c - hi;
    double p1 = static_cast<double>(x) * hi;
    double p2 = static_cast<double>(x) * lo;
    double s = p1 + p2;
    double e = p2 - (s - p1); // |p1| >= |p2|: Fast2Sum error term, exact
    return round_pair(s, e);
}

float numeric_detail::add_float_double_exact(float x, double c) {
    double a = x;
    double s = a + c;
    double bb = s - a;
    double e = (a - (s - bb)) + (c - bb); // TwoSum error term, exact
    return round_pair(s, e);
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
