#include "synth/filter.h"

#include "synth/numeric.h"
#include "synth/rate.h"

#include <cmath>

namespace {

constexpr float ONE_SIXTH = 0.1666666716337204f; // single 1/6
constexpr float LADDER_P_SHAPE = 0.800000011920929f;
constexpr float LADDER_RES_SHAPE = 5.599999904632568f;

// Two oversampled state-variable passes per sample; Out selects the output.
template <int Out>
void render_svf(FilterState *f, const float *in, float *out, int n) {
    const float g = ANTI_DENORMAL;
    const float freq = f->svfFreq;
    const float damp = f->svfDamp;
    const int stride = f->stride;
    float low = f->svfLow;
    float band = f->svfBand;
    for (int k = 0; k < n; k++) {
        const float x = in[k * stride] + g;
        low = low + (band * freq - g); // only the first pass subtracts g
        float high = x - band * damp - low;
        band = band + high * freq;
        low = low + band * freq;
        high = x - band * damp - low;
        band = band + high * freq;
        float y;
        if constexpr (Out == FILTER_LOW)
            y = low;
        else if constexpr (Out == FILTER_BAND)
            y = band;
        else if constexpr (Out == FILTER_HIGH)
            y = high;
        else if constexpr (Out == FILTER_NOTCH)
            y = high + low;
        else
            y = (high + band) + low;
        out[k * stride] = y;
    }
    f->svfLow = low;
    f->svfBand = band;
}

template <bool High>
void render_ladder(FilterState *f, const float *in, float *out, int n) {
    const float g = ANTI_DENORMAL;
    const float P = f->ladderP;
    const float K = f->ladderK;
    const float R = f->ladderRes;
    const int stride = f->stride;
    float last = f->ladderIn;
    float y1 = f->ladderY1, y2 = f->ladderY2, y3 = f->ladderY3, y4 = f->ladderY4;
    for (int k = 0; k < n; k++) {
        const float x = in[k * stride];
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
        out[k * stride] = High ? x - y4 : y4;
    }
    f->ladderIn = last;
    f->ladderY1 = y1;
    f->ladderY2 = y2;
    f->ladderY3 = y3;
    f->ladderY4 = y4;
}

void render_off(const FilterState *f, const float *in, float *out, int n) {
    if (in == out) return;
    const int stride = f->stride;
    for (int k = 0; k < n; k++) out[k * stride] = in[k * stride];
}

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
        render_svf<FILTER_LOW>(f, input, output, n);
        break;
    case FILTER_BAND:
        render_svf<FILTER_BAND>(f, input, output, n);
        break;
    case FILTER_HIGH:
        render_svf<FILTER_HIGH>(f, input, output, n);
        break;
    case FILTER_NOTCH:
        render_svf<FILTER_NOTCH>(f, input, output, n);
        break;
    case FILTER_ALL:
        render_svf<FILTER_ALL>(f, input, output, n);
        break;
    case FILTER_LADDER_LOW:
        render_ladder<false>(f, input, output, n);
        break;
    case FILTER_LADDER_HIGH:
        render_ladder<true>(f, input, output, n);
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
