// The four-lane filter and DC renderers and the voice group renderer against their one-voice
// counterparts: every lane must give the same bits and leave the same states.
#include "synth/distortion.h"
#include "synth/filter.h"
#include "synth/rate.h"
#include "synth/voice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr int N = 128;
constexpr int FRAMES = 6;

// Both coefficient sets filled, then the mode; each lane gets its own cutoff and resonance. Lane 2
// is fully open and fully resonant under a loud input, so its ladder diverges and restarts alone.
FilterState make_filter(int mode, int lane, int which) {
    const float cutoff = lane == 2 ? 128.0f : 40.0f + 17.0f * lane - 11.0f * which;
    const float resonance = lane == 2 ? 128.0f : 20.0f + 25.0f * lane;
    FilterState f{};
    filter_reset(&f);
    const float ladder[FILTER_PARAM_COUNT] = {6.0f, cutoff, resonance};
    const float svf[FILTER_PARAM_COUNT] = {1.0f, cutoff + 10.0f, resonance};
    filter_set(&f, ladder);
    filter_set(&f, svf);
    f.mode = mode;
    return f;
}

float input_sample(int lane, int k) {
    const float gain = lane == 2 ? 4.0f : 1.0f + 0.3f * lane;
    return gain * static_cast<float>((k * (7 + lane)) % 61 - 30) / 30.0f + 0.25f;
}

bool same_bits(const void *a, const void *b, std::size_t size) {
    return std::memcmp(a, b, size) == 0;
}

TEST(FilterQuad, EveryModePairAndRoutingMatchesTheScalarRenderers) {
    rate_set(44100);
    for (int routing = 0; routing < 3; ++routing) {
        for (int m1 = 0; m1 < 8; ++m1) {
            for (int m2 = 0; m2 < 8; ++m2) {
                SCOPED_TRACE(::testing::Message() << "routing " << routing << " modes " << m1 << ", " << m2);
                FilterState q1[FILTER_LANES], q2[FILTER_LANES], s1[FILTER_LANES], s2[FILTER_LANES];
                FilterState *p1[FILTER_LANES], *p2[FILTER_LANES];
                for (int l = 0; l < FILTER_LANES; ++l) {
                    // The low three bits render: lane 3 carries a higher mode value with the same bits.
                    q1[l] = s1[l] = make_filter(l == 3 ? m1 + 8 : m1, l, 0);
                    q2[l] = s2[l] = make_filter(m2, l, 1);
                    p1[l] = &q1[l];
                    p2[l] = &q2[l];
                }
                float qb[FILTER_LANES][N], qs[FILTER_LANES][N], sb[N], ss[N];
                float *qbp[FILTER_LANES], *qsp[FILTER_LANES];
                for (int l = 0; l < FILTER_LANES; ++l) {
                    qbp[l] = qb[l];
                    qsp[l] = qs[l];
                }
                for (int frame = 0; frame < FRAMES; ++frame) {
                    for (int l = 0; l < FILTER_LANES; ++l)
                        for (int i = 0; i < N; ++i) qb[l][i] = input_sample(l, frame * N + i);
                    if (routing == 0)
                        filter_render_quad(p1, qbp, N);
                    else if (routing == 1)
                        filter_render_serial_quad(p1, p2, qbp, N);
                    else
                        filter_render_parallel_quad(p1, p2, qbp, qsp, N);
                    for (int l = 0; l < FILTER_LANES; ++l) {
                        for (int i = 0; i < N; ++i) sb[i] = input_sample(l, frame * N + i);
                        if (routing == 0)
                            filter_render(&s1[l], sb, sb, N);
                        else if (routing == 1)
                            filter_render_serial(&s1[l], &s2[l], sb, N);
                        else
                            filter_render_parallel(&s1[l], &s2[l], sb, ss, N);
                        ASSERT_TRUE(same_bits(qb[l], sb, sizeof sb)) << "lane " << l << " frame " << frame;
                        if (routing == 2) {
                            ASSERT_TRUE(same_bits(qs[l], ss, sizeof ss))
                                << "lane " << l << " frame " << frame;
                        }
                    }
                }
                for (int l = 0; l < FILTER_LANES; ++l) {
                    EXPECT_TRUE(same_bits(&q1[l], &s1[l], sizeof(FilterState))) << "lane " << l;
                    EXPECT_TRUE(same_bits(&q2[l], &s2[l], sizeof(FilterState))) << "lane " << l;
                }
            }
        }
    }
}

TEST(FilterQuad, DcFilterMatchesTheMonoFilter) {
    rate_set(44100);
    DcFilterState q[4], m[4];
    DcFilterState *qp[4];
    for (int l = 0; l < 4; ++l) {
        dc_reset(&q[l]);
        q[l].lastInLeft = 0.1f * l;
        q[l].lastOutLeft = -0.05f * l;
        m[l] = q[l];
        qp[l] = &q[l];
    }
    float qb[4][N], mb[N];
    float *qbp[4] = {qb[0], qb[1], qb[2], qb[3]};
    for (int frame = 0; frame < FRAMES; ++frame) {
        for (int l = 0; l < 4; ++l)
            for (int i = 0; i < N; ++i) qb[l][i] = input_sample(l, frame * N + i);
        dc_filter_mono_quad(qp, qbp, N);
        for (int l = 0; l < 4; ++l) {
            for (int i = 0; i < N; ++i) mb[i] = input_sample(l, frame * N + i);
            dc_filter_mono(&m[l], mb, mb, N);
            ASSERT_TRUE(same_bits(qb[l], mb, sizeof mb)) << "lane " << l << " frame " << frame;
        }
    }
    for (int l = 0; l < 4; ++l) EXPECT_TRUE(same_bits(&q[l], &m[l], sizeof(DcFilterState))) << "lane " << l;
}

// A voice whose oscillators, filters and distortion all work; `variant` changes its sound.
VoiceState make_voice(int variant, int routing, int mode1, int mode2) {
    VoiceState v{};
    voice_reset(&v);
    float p[VOICE_PARAM_COUNT] = {};
    p[0] = 20.0f + 30.0f * variant; // pan
    p[1] = 64.0f;
    p[2] = 1.0f; // saw
    p[4] = 40.0f + 10.0f * variant;
    p[5] = 64.0f;
    p[6] = 64.0f;
    p[7] = 100.0f;
    p[8] = 2.0f; // pulse
    p[10] = 64.0f;
    p[11] = 64.0f;
    p[12] = 70.0f;
    p[13] = 90.0f;
    p[14] = 3.0f; // sine
    p[16] = 64.0f;
    p[17] = 64.0f;
    p[19] = 80.0f;
    p[20] = static_cast<float>(mode1);
    p[21] = 60.0f + 10.0f * variant;
    p[22] = 50.0f + 20.0f * variant;
    p[23] = static_cast<float>(mode2);
    p[24] = 90.0f - 5.0f * variant;
    p[25] = 30.0f;
    p[26] = static_cast<float>(routing);
    p[27] = 50.0f + 10.0f * variant;
    p[28] = 1.0f; // overdrive
    p[29] = 40.0f;
    p[30] = 100.0f;
    p[31] = 64.0f;
    p[34] = 127.0f;
    p[35] = 64.0f;
    p[37] = 127.0f;
    voice_set(&v, p);
    voice_note_start(&v, 40 + 7 * variant, 100);
    voice_tick(&v);
    return v;
}

// Group rendering, with packable and unpackable voice sets, must equal voice_render on each voice in
// turn: same channel samples (added in voice order) and same voice states.
TEST(VoiceGroup, MatchesVoiceByVoiceRendering) {
    rate_set(44100);
    struct Case {
        const char *what;
        int count;
        int routing[VOICE_GROUP], mode1[VOICE_GROUP], mode2[VOICE_GROUP];
    } cases[] = {
        {"serial, four lanes", 4, {1, 1, 1, 1}, {1, 1, 1, 1}, {6, 6, 6, 6}},
        {"parallel, three lanes", 3, {2, 2, 2, 0}, {3, 3, 3, 0}, {7, 7, 7, 0}},
        {"single, two lanes", 2, {0, 0, 0, 0}, {6, 6, 0, 0}, {2, 4, 0, 0}},
        {"serial by any routing value", 4, {1, 5, -3, 1}, {2, 2, 2, 2}, {0, 0, 0, 0}},
        {"modes differ: voice by voice", 4, {1, 1, 1, 1}, {1, 6, 1, 1}, {6, 6, 6, 6}},
        {"routings differ: voice by voice", 3, {1, 2, 0, 0}, {1, 1, 1, 0}, {6, 6, 6, 0}},
        {"one voice", 1, {2, 0, 0, 0}, {4, 0, 0, 0}, {5, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VoiceState grouped[VOICE_GROUP], single[VOICE_GROUP];
        VoiceState *group[VOICE_GROUP];
        for (int l = 0; l < c.count; ++l) {
            grouped[l] = single[l] = make_voice(l, c.routing[l], c.mode1[l], c.mode2[l]);
            group[l] = &grouped[l];
        }
        static float buffers[VOICE_GROUP][N], seconds[VOICE_GROUP][N], mono[N], second[N];
        float *bp[VOICE_GROUP], *sp[VOICE_GROUP];
        for (int l = 0; l < VOICE_GROUP; ++l) {
            bp[l] = buffers[l];
            sp[l] = seconds[l];
        }
        std::vector<float> channel_grouped(2 * N), channel_single(2 * N);
        for (int frame = 0; frame < FRAMES; ++frame) {
            for (int i = 0; i < 2 * N; ++i) channel_grouped[i] = channel_single[i] = 0.01f * (i % 5);
            voice_render_group(group, c.count, N, bp, sp, channel_grouped.data(), nullptr, nullptr);
            for (int l = 0; l < c.count; ++l)
                voice_render(&single[l], N, mono, second, channel_single.data(), nullptr, nullptr);
            ASSERT_TRUE(same_bits(channel_grouped.data(), channel_single.data(), sizeof(float) * 2 * N))
                << "frame " << frame;
        }
        double energy = 0;
        for (float f : channel_single) energy += static_cast<double>(f) * f;
        EXPECT_GT(energy, 1.0);
        for (int l = 0; l < c.count; ++l)
            EXPECT_TRUE(same_bits(&grouped[l], &single[l], sizeof(VoiceState))) << "voice " << l;
    }
}

} // namespace
