// Float sample to the 16-bit value the sound device receives: scale 32768, clip to +-32600, round to
// nearest with ties to even. A non-finite sample gives 0 rather than a full-scale click.
#pragma once

#include "synth/numeric.h"

#include <cmath>
#include <cstdint>

constexpr float OUTPUT_SCALE = 32768.0f;
constexpr float CLIP_LIMIT = 32600.0f;

inline std::int16_t sample_to_s16(float x) {
    if (!std::isfinite(x)) return 0;
    float v = x * OUTPUT_SCALE;
    if (v > CLIP_LIMIT) v = CLIP_LIMIT;
    if (v < -CLIP_LIMIT) v = -CLIP_LIMIT;
    return static_cast<std::int16_t>(float_to_int32(v));
}
