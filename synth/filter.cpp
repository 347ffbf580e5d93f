#include "synth/filter.h"

#include "synth/numeric.h"
#include "synth/rate.h"

#include <array>
#include <cmath>
#include <immintrin.h>
#include <utility>

namespace {

constexpr float ONE_SIXTH = 0.1666666716337204f; // single 1/6
constexpr float LADDER_P_SHAPE = 0.800000011920929f;
constexpr float LADDER_RES_SHAPE = 5.599999904632568f;

// Four filters side by side, one per lane. GCC vector arithmetic is element-wise IEEE single
// precision, so each lane runs exactly the operations of the scalar kernel in the same order.
typedef float Quad __attribute__((vector_size(16)));
typedef std::int32_t QuadMask __attribute__((vector_size(16)));

// Kernel coefficients and states come from (and return to) one filter per lane: T = float reads
// f[0] only, T = Quad reads f[0..3].
template <class T>
T load(const FilterState *const *f, float FilterState::*m);
template <>
float load<float>(const FilterState *const *f, float FilterState::*m) {
    return f[0]->*m;
}
template <>
Quad load<Quad>(const FilterState *const *f, float FilterState::*m) {
    return Quad{f[0]->*m, f[1]->*m, f[2]->*m, f[3]->*m};
}

inline void save(FilterState *const *f, float FilterState::*m, float v) {
    f[0]->*m = v;
}
inline void save(FilterState *const *f, float FilterState::*m, Quad v) {
    for (int l = 0; l < 4; ++l) f[l]->*m = v[l];
}

// The ladder's divergence guard: past FILTER_LADDER_LIMIT (or on NaN) the lane restarts from rest.
inline void ladder_guard(float y4, float &last, float &y1, float &y2, float &y3, float &y4out) {
    if (!(std::fabs(y4) <= FILTER_LADDER_LIMIT)) last = y1 = y2 = y3 = y4out = 0.0f;
}
inline void ladder_guard(Quad y4, Quad &last, Quad &y1, Quad &y2, Quad &y3, Quad &y4out) {
    const Quad magnitude = reinterpret_cast<Quad>(reinterpret_cast<QuadMask>(y4) & 0x7FFFFFFF);
    const Quad limit = Quad{} + FILTER_LADDER_LIMIT;
    const QuadMask keep = magnitude <= limit; // all ones where the lane stays, false on NaN
    if (_mm_movemask_ps(reinterpret_cast<__m128>(keep)) == 0xF) return;
    last = reinterpret_cast<Quad>(reinterpret_cast<QuadMask>(last) & keep);
    y1 = reinterpret_cast<Quad>(reinterpret_cast<QuadMask>(y1) & keep);
    y2 = reinterpret_cast<Quad>(reinterpret_cast<QuadMask>(y2) & keep);
    y3 = reinterpret_cast<Quad>(reinterpret_cast<QuadMask>(y3) & keep);
    y4out = reinterpret_cast<Quad>(reinterpret_cast<QuadMask>(y4out) & keep);
}

// Per-sample kernels: one filter's coefficients and states held in locals, one step per input
// sample. The block renderers, the paired renderers and the four-lane renderers run the same steps,
// so they give identical samples.

// Two oversampled state-variable passes per sample; Out selects the output.
template <int Out, class T = float>
struct SvfKernel {
    T freq, damp, low, band;
    explicit SvfKernel(const FilterState *const *f)
        : freq(load<T>(f, &FilterState::svfFreq)), damp(load<T>(f, &FilterState::svfDamp)),
          low(load<T>(f, &FilterState::svfLow)), band(load<T>(f, &FilterState::svfBand)) {}
    T step(T in) {
        const float g = ANTI_DENORMAL;
        const T x = in + g;
        low = low + (band * freq - g); // only the first pass subtracts g
        T high = x - band * damp - low;
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
    void store(FilterState *const *f) const {
        save(f, &FilterState::svfLow, low);
        save(f, &FilterState::svfBand, band);
    }
};

// Two ladder passes per sample with the input held; High gives the input minus the low-pass.
template <bool High, class T = float>
struct LadderKernel {
    T P, K, R, last, y1, y2, y3, y4;
    explicit LadderKernel(const FilterState *const *f)
        : P(load<T>(f, &FilterState::ladderP)), K(load<T>(f, &FilterState::ladderK)),
          R(load<T>(f, &FilterState::ladderRes)), last(load<T>(f, &FilterState::ladderIn)),
          y1(load<T>(f, &FilterState::ladderY1)), y2(load<T>(f, &FilterState::ladderY2)),
          y3(load<T>(f, &FilterState::ladderY3)), y4(load<T>(f, &FilterState::ladderY4)) {}
    T step(T x) {
        const float g = ANTI_DENORMAL;
        for (int pass = 0; pass < 2; pass++) {
            const T x0 = (x + g) - R * y4;
            const T n1 = P * (x0 + last) + K * y1;
            const T n2 = P * (n1 + y1) + K * y2;
            const T n3 = P * (n2 + y2) + K * y3;
            T n4 = P * (n3 + y3) + K * y4;
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
            ladder_guard(y4, last, y1, y2, y3, y4);
        }
        if constexpr (High)
            return x - y4;
        else
            return y4;
    }
    void store(FilterState *const *f) const {
        save(f, &FilterState::ladderIn, last);
        save(f, &FilterState::ladderY1, y1);
        save(f, &FilterState::ladderY2, y2);
        save(f, &FilterState::ladderY3, y3);
        save(f, &FilterState::ladderY4, y4);
    }
};

// Mode Off inside a pair: the sample passes unchanged.
template <class T = float>
struct OffKernel {
    explicit OffKernel(const FilterState *const *) {}
    T step(T x) const { return x; }
    void store(FilterState *const *) const {}
};

template <int Mode, class T = float>
struct KernelFor {
    using type = SvfKernel<Mode, T>;
};
template <class T>
struct KernelFor<FILTER_OFF, T> {
    using type = OffKernel<T>;
};
template <class T>
struct KernelFor<FILTER_LADDER_LOW, T> {
    using type = LadderKernel<false, T>;
};
template <class T>
struct KernelFor<FILTER_LADDER_HIGH, T> {
    using type = LadderKernel<true, T>;
};

template <class Kernel>
void render_block(FilterState *f, const float *in, float *out, int n) {
    Kernel k(&f);
    const int stride = f->stride;
    for (int i = 0; i < n; i++) out[i * stride] = k.step(in[i * stride]);
    k.store(&f);
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
    First a(&f1);
    Second b(&f2);
    for (int i = 0; i < n; i++) buffer[i] = b.step(a.step(buffer[i]));
    a.store(&f1);
    b.store(&f2);
}

template <class First, class Second>
void render_parallel(FilterState *f1, FilterState *f2, float *buffer, float *second_out, int n) {
    First a(&f1);
    Second b(&f2);
    for (int i = 0; i < n; i++) {
        const float x = buffer[i];
        second_out[i] = b.step(x);
        buffer[i] = a.step(x);
    }
    a.store(&f1);
    b.store(&f2);
}

template <class First, class Second>
void render_serial_quad(FilterState *const *f1, FilterState *const *f2, float *const *buffers, int n) {
    First a(f1);
    Second b(f2);
    float *const b0 = buffers[0], *const b1 = buffers[1], *const b2 = buffers[2], *const b3 = buffers[3];
    for (int i = 0; i < n; i++) {
        const Quad y = b.step(a.step(Quad{b0[i], b1[i], b2[i], b3[i]}));
        b0[i] = y[0];
        b1[i] = y[1];
        b2[i] = y[2];
        b3[i] = y[3];
    }
    a.store(f1);
    b.store(f2);
}

template <class First, class Second>
void render_parallel_quad(FilterState *const *f1, FilterState *const *f2, float *const *buffers,
                          float *const *second_out, int n) {
    First a(f1);
    Second b(f2);
    float *const b0 = buffers[0], *const b1 = buffers[1], *const b2 = buffers[2], *const b3 = buffers[3];
    float *const s0 = second_out[0], *const s1 = second_out[1], *const s2 = second_out[2],
                 *const s3 = second_out[3];
    for (int i = 0; i < n; i++) {
        const Quad x{b0[i], b1[i], b2[i], b3[i]};
        const Quad y2 = b.step(x);
        const Quad y1 = a.step(x);
        s0[i] = y2[0];
        s1[i] = y2[1];
        s2[i] = y2[2];
        s3[i] = y2[3];
        b0[i] = y1[0];
        b1[i] = y1[1];
        b2[i] = y1[2];
        b3[i] = y1[3];
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

using SerialQuadFn = void (*)(FilterState *const *, FilterState *const *, float *const *, int);
using ParallelQuadFn = void (*)(FilterState *const *, FilterState *const *, float *const *, float *const *,
                                int);

template <int... I>
constexpr std::array<SerialQuadFn, 64> serial_quad_table(std::integer_sequence<int, I...>) {
    return {
        &render_serial_quad<typename KernelFor<I / 8, Quad>::type, typename KernelFor<I % 8, Quad>::type>...};
}
template <int... I>
constexpr std::array<ParallelQuadFn, 64> parallel_quad_table(std::integer_sequence<int, I...>) {
    return {&render_parallel_quad<typename KernelFor<I / 8, Quad>::type,
                                  typename KernelFor<I % 8, Quad>::type>...};
}

// Indexed by 8 * (first mode & 7) + (second mode & 7).
constexpr std::array<SerialFn, 64> SERIAL_RENDERERS = serial_table(std::make_integer_sequence<int, 64>{});
constexpr std::array<ParallelFn, 64> PARALLEL_RENDERERS =
    parallel_table(std::make_integer_sequence<int, 64>{});

constexpr std::array<SerialQuadFn, 64> SERIAL_QUAD_RENDERERS =
    serial_quad_table(std::make_integer_sequence<int, 64>{});
constexpr std::array<ParallelQuadFn, 64> PARALLEL_QUAD_RENDERERS =
    parallel_quad_table(std::make_integer_sequence<int, 64>{});

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

bool filter_quad_compatible(const FilterState *a, const FilterState *b) {
    return (a->mode & 7) == (b->mode & 7) && a->stride == 1 && b->stride == 1;
}

void filter_render_quad(FilterState *const filters[FILTER_LANES], float *const buffers[FILTER_LANES], int n) {
    // A pair whose second filter is Off is exactly the single filter; Off never reads its state.
    SERIAL_QUAD_RENDERERS[8 * (filters[0]->mode & 7)](filters, filters, buffers, n);
}

void filter_render_serial_quad(FilterState *const first[FILTER_LANES],
                               FilterState *const second[FILTER_LANES], float *const buffers[FILTER_LANES],
                               int n) {
    SERIAL_QUAD_RENDERERS[8 * (first[0]->mode & 7) + (second[0]->mode & 7)](first, second, buffers, n);
}

void filter_render_parallel_quad(FilterState *const first[FILTER_LANES],
                                 FilterState *const second[FILTER_LANES], float *const buffers[FILTER_LANES],
                                 float *const second_out[FILTER_LANES], int n) {
    PARALLEL_QUAD_RENDERERS[8 * (first[0]->mode & 7) + (second[0]->mode & 7)](first, second, buffers,
                                                                              second_out, n);
}
