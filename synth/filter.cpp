#include "synth/filter.h"

#include "synth/numeric.h"
#include "synth/rate.h"

#include <array>
#include <cmath>
#include <utility>

namespace {

constexpr float ONE_SIXTH = 0.1666666716337204f; // single 1/6
constexpr float LADDER_P_SHAPE = 0.800000011920929f;
constexpr float LADDER_RES_SHAPE = 5.599999904632568f;

// Per-sample kernels: one filter's coefficients and states held in locals, one step per input
// sample. The block renderers and the paired renderers run the same steps, so they give identical
// samples.

// Two oversampled state-variable passes per sample; Out selects the output.
template <int Out>
struct SvfKernel {
    float freq, damp, low, band;
    explicit SvfKernel(const FilterState *f)
        : freq(f->svfFreq), damp(f->svfDamp), low(f->svfLow), band(f->svfBand) {}
    float step(float in) {
        const float g = ANTI_DENORMAL;
        const float x = in + g;
        low = low + (band * freq - g); // only the first pass subtracts g
        float high = x - band * damp - low;
        band = band + high * freq;
        low = low + band * freq;
        high = x - band * damp - low;
        band = band + high * freq;
        if constexpr (Out == FILTER_LOW)
            return low;
        else if constexpr (Out == FILTER_BAND)
            return band;
        else if constexpr (Out == FILTER_HIGH)
            return high;
        else if constexpr (Out == FILTER_NOTCH)
            return high + low;
        else
            return (high + band) + low;
    }
    void store(FilterState *f) const {
        f->svfLow = low;
        f->svfBand = band;
    }
};

// Two ladder passes per sample with the input held; High gives the input minus the low-pass.
template <bool High>
struct LadderKernel {
    float P, K, R, last, y1, y2, y3, y4;
    explicit LadderKernel(const FilterState *f)
        : P(f->ladderP), K(f->ladderK), R(f->ladderRes), last(f->ladderIn), y1(f->ladderY1), y2(f->ladderY2),
          y3(f->ladderY3), y4(f->ladderY4) {}
    float step(float x) {
        const float g = ANTI_DENORMAL;
        for (int pass = 0; pass < 2; pass++) {
            const float x0 = (x + g) - R * y4;
            const float n1 = P * (x0 + last) + K * y1;
            const float n2 = P * (n1 + y1) + K * y2;
            const float n3 = P * (n2 + y2) + K * y3;
            float n4 = P * (n3 + y3) + K * y4;
            n4 = n4 - n4 * n4 * n4 * ONE_SIXTH;
            n4 = n4 - g;
            last = x;
            y1 = n1;
            y2 = n2;
            y3 = n3;
            y4 = n4;
            // Beyond about 2.45 the cubic folds over and the loop runs to infinity within a few
            // samples, and a NaN would poison everything downstream for the rest of the song: past
            // FILTER_LADDER_LIMIT (or on NaN) divergence is certain, so restart the ladder from rest.
            if (!(std::fabs(y4) <= FILTER_LADDER_LIMIT)) last = y1 = y2 = y3 = y4 = 0.0f;
        }
        return High ? x - y4 : y4;
    }
    void store(FilterState *f) const {
        f->ladderIn = last;
        f->ladderY1 = y1;
        f->ladderY2 = y2;
        f->ladderY3 = y3;
        f->ladderY4 = y4;
    }
};

// Mode Off inside a pair: the sample passes unchanged.
struct OffKernel {
    explicit OffKernel(const FilterState *) {}
    float step(float x) const { return x; }
    void store(FilterState *) const {}
};

template <int Mode>
struct KernelFor {
    using type = SvfKernel<Mode>;
};
template <>
struct KernelFor<FILTER_OFF> {
    using type = OffKernel;
};
template <>
struct KernelFor<FILTER_LADDER_LOW> {
    using type = LadderKernel<false>;
};
template <>
struct KernelFor<FILTER_LADDER_HIGH> {
    using type = LadderKernel<true>;
};

template <class Kernel>
void render_block(FilterState *f, const float *in, float *out, int n) {
    Kernel k(f);
    const int stride = f->stride;
    for (int i = 0; i < n; i++) out[i * stride] = k.step(in[i * stride]);
    k.store(f);
}

void render_off(const FilterState *f, const float *in, float *out, int n) {
    if (in == out) return;
    const int stride = f->stride;
    for (int k = 0; k < n; k++) out[k * stride] = in[k * stride];
}

// Two filters over one mono buffer in a single pass. Each filter's recursion is a long chain of
// dependent operations; stepping both per sample lets the processor overlap the two chains, where
// two block passes would run them one after the other.
template <class First, class Second>
void render_serial(FilterState *f1, FilterState *f2, float *buffer, int n) {
    First a(f1);
    Second b(f2);
    for (int i = 0; i < n; i++) buffer[i] = b.step(a.step(buffer[i]));
    a.store(f1);
    b.store(f2);
}

template <class First, class Second>
void render_parallel(FilterState *f1, FilterState *f2, float *buffer, float *second_out, int n) {
    First a(f1);
    Second b(f2);
    for (int i = 0; i < n; i++) {
        const float x = buffer[i];
        second_out[i] = b.step(x);
        buffer[i] = a.step(x);
    }
    a.store(f1);
    b.store(f2);
}

using SerialFn = void (*)(FilterState *, FilterState *, float *, int);
using ParallelFn = void (*)(FilterState *, FilterState *, float *, float *, int);

template <int... I>
constexpr std::array<SerialFn, 64> serial_table(std::integer_sequence<int, I...>) {
    return {&render_serial<typename KernelFor<I / 8>::type, typename KernelFor<I % 8>::type>...};
}
template <int... I>
constexpr std::array<ParallelFn, 64> parallel_table(std::integer_sequence<int, I...>) {
    return {&render_parallel<typename KernelFor<I / 8>::type, typename KernelFor<I % 8>::type>...};
}

// Indexed by 8 * (first mode & 7) + (second mode & 7).
constexpr std::array<SerialFn, 64> SERIAL_RENDERERS = serial_table(std::make_integer_sequence<int, 64>{});
constexpr std::array<ParallelFn, 64> PARALLEL_RENDERERS =
    parallel_table(std::make_integer_sequence<int, 64>{});

} // namespace

void filter_set(FilterState *f, const float *p) {
    f->mode = float_to_int32(p[0]);
    const float freq = exp_curve10(p[1] * INV_128) * rate_correction;
    // Mode 128 (reachable only by modulation; renders as Off) takes the state-variable branch too.
    if (f->mode < FILTER_LADDER_LOW || f->mode >= 128) {
        f->svfDamp = 1.0f - p[2] * INV_128;
        f->svfFreq = freq;
        return;
    }
    const float fc = freq * 0.5f * 0.5f;
    const float P = (1.0f - fc) * fc * LADDER_P_SHAPE + fc;
    f->ladderP = P;
    f->ladderK = -(2.0f * P - 1.0f);
    const float rest = 1.0f - fc;
    const float scale = 1.0f + 0.5f * rest * (fc + LADDER_RES_SHAPE * (rest * rest));
    f->ladderRes = 4.0f * (p[2] * INV_128) * scale;
}

void filter_render(FilterState *f, const float *input, float *output, int n) {
    switch (f->mode & 7) {
    case FILTER_LOW:
        render_block<SvfKernel<FILTER_LOW>>(f, input, output, n);
        break;
    case FILTER_BAND:
        render_block<SvfKernel<FILTER_BAND>>(f, input, output, n);
        break;
    case FILTER_HIGH:
        render_block<SvfKernel<FILTER_HIGH>>(f, input, output, n);
        break;
    case FILTER_NOTCH:
        render_block<SvfKernel<FILTER_NOTCH>>(f, input, output, n);
        break;
    case FILTER_ALL:
        render_block<SvfKernel<FILTER_ALL>>(f, input, output, n);
        break;
    case FILTER_LADDER_LOW:
        render_block<LadderKernel<false>>(f, input, output, n);
        break;
    case FILTER_LADDER_HIGH:
        render_block<LadderKernel<true>>(f, input, output, n);
        break;
    default:
        render_off(f, input, output, n);
        break;
    }
}

void filter_reset(FilterState *f) {
    f->svfLow = 0.0f;
    f->svfBand = 0.0f;
    f->ladderIn = 0.0f;
    f->ladderY1 = 0.0f;
    f->ladderY2 = 0.0f;
    f->ladderY3 = 0.0f;
    f->ladderY4 = 0.0f;
    f->stride = 1;
}

void filter_render_serial(FilterState *first, FilterState *second, float *buffer, int n) {
    if (first->stride != 1 || second->stride != 1) {
        filter_render(first, buffer, buffer, n);
        filter_render(second, buffer, buffer, n);
        return;
    }
    SERIAL_RENDERERS[8 * (first->mode & 7) + (second->mode & 7)](first, second, buffer, n);
}

void filter_render_parallel(FilterState *first, FilterState *second, float *buffer, float *second_out,
                            int n) {
    if (first->stride != 1 || second->stride != 1) {
        filter_render(second, buffer, second_out, n);
        filter_render(first, buffer, buffer, n);
        return;
    }
    PARALLEL_RENDERERS[8 * (first->mode & 7) + (second->mode & 7)](first, second, buffer, second_out, n);
}
