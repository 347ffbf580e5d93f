#include "synth/channel.h"
#include "synth/numeric.h"
#include "synth/rate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

TEST(BassBoost, ZeroPassesTheSignalUnchanged) {
    BassBoost b{};
    boost_set(&b, 0.0f);
    EXPECT_EQ(b.enabled, 0);
    float block[64], copy[64];
    for (int i = 0; i < 64; ++i) block[i] = copy[i] = std::sin(0.3f * static_cast<float>(i));
    boost_process(&b, block, 32);
    EXPECT_EQ(std::memcmp(block, copy, sizeof block), 0);
}

// Steady-state gain for a constant input (0 Hz) and for an alternating one (half the sample rate).
float measured_gain(float c8, bool alternating) {
    rate_set(44100);
    BassBoost b{};
    boost_set(&b, c8);
    const int n = 128;
    std::vector<float> block(2 * n);
    float last = 0.0f;
    for (int frame = 0; frame < 200; ++frame) {
        for (int k = 0; k < n; ++k) {
            const float x = alternating && (k & 1) ? -0.1f : 0.1f;
            block[2 * k] = x;
            block[2 * k + 1] = x;
        }
        boost_process(&b, block.data(), n);
        last = std::fabs(block[2 * (n - 1)]);
        EXPECT_EQ(block[2 * (n - 1)], block[2 * (n - 1) + 1]);
    }
    return last / 0.1f;
}

TEST(BassBoost, LowFrequencyGainIsTheSquareOfTheShelfAmplitude) {
    struct Case {
        float c8, low_gain;
    };
    // A^2 with A = 2^(c8/128): 3.957 at 127 (the single-precision coefficients give 3.960).
    for (const Case &c : {Case{127, 3.957f}, Case{64, 2.0f}, Case{32, 1.414f}, Case{128, 4.0f}}) {
        EXPECT_NEAR(measured_gain(c.c8, false), c.low_gain, 0.01f) << "c8 " << c.c8;
        EXPECT_NEAR(measured_gain(c.c8, true), 1.0f, 0.01f) << "c8 " << c.c8; // high frequencies pass
    }
}

TEST(BassBoost, KeepsCoefficientsAndHistoryWhileOff) {
    rate_set(44100);
    BassBoost b{};
    boost_set(&b, 100.0f);
    float block[8] = {0.5f, 0.25f, -0.5f, 0.1f, 0.3f, 0.3f, 0.0f, 0.0f};
    boost_process(&b, block, 4);
    const BassBoost on = b;
    boost_set(&b, 0.2f); // rounds to 0: off
    float quiet[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    boost_process(&b, quiet, 4);
    EXPECT_EQ(quiet[7], 8.0f);
    EXPECT_EQ(std::memcmp(&b.a1, &on.a1, sizeof(float) * 13), 0);
}

// One channel with its own chorus lines and a set of buses of one frame.
struct ChannelFixture {
    static constexpr int N = 128;
    std::vector<float> chorus_left = std::vector<float>(2048), chorus_right = std::vector<float>(2048);
    std::unique_ptr<ChannelFx> c{new ChannelFx{}};
    std::vector<float> main_bus = std::vector<float>(2 * N), reverb = std::vector<float>(N),
                       delay = std::vector<float>(N), aux_a = std::vector<float>(2 * N),
                       aux_b = std::vector<float>(2 * N), level = std::vector<float>(2 * N);
    ChannelBuses buses{main_bus.data(), reverb.data(), delay.data(),
                       aux_a.data(),    aux_b.data(),  level.data()};
    float params[CHANNEL_PARAM_COUNT] = {};

    ChannelFixture() {
        rate_set(44100);
        moddelay_attach(&c->chorus, chorus_left.data(), chorus_right.data(), CHORUS_MASK);
        channel_fx_init(c.get());
        params[13] = 64; // chorus dry only
        params[20] = 0;  // compressor off
    }
    void set() { channel_fx_set(c.get(), params); }
};

// The block as the channel's DC filters leave it when every other unit is off.
std::vector<float> through_dc_filters(const std::vector<float> &in) {
    DcFilterState first{}, second{};
    std::vector<float> out = in;
    const int n = static_cast<int>(in.size() / 2);
    dc_filter_stereo(&first, out.data(), out.data(), n);
    dc_filter_stereo(&second, out.data(), out.data(), n);
    return out;
}

std::vector<float> test_block(int n) {
    std::vector<float> block(2 * n);
    for (int k = 0; k < n; ++k) {
        block[2 * k] = 0.5f * std::sin(0.05f * static_cast<float>(k));
        block[2 * k + 1] = 0.25f * std::cos(0.07f * static_cast<float>(k));
    }
    return block;
}

TEST(ChannelStep, GainsFromParameters) {
    ChannelFixture f;
    f.params[0] = 64;  // volume 0.3
    f.params[1] = 32;  // aux A receive 0.25
    f.params[2] = 128; // aux B receive 1
    f.params[3] = 64;  // aux A send 0.3
    f.params[4] = 32;  // aux B send 0.15
    f.params[5] = 64;  // reverb send 0.3 x volume
    f.params[6] = 128; // delay send 0.6 x volume
    f.params[7] = 0.6f;
    f.set();
    const float six = 0x1.333334p-1f;
    EXPECT_EQ(f.c->volume, 0.5f * six);
    EXPECT_EQ(f.c->aux_a_receive, 0.25f);
    EXPECT_EQ(f.c->aux_b_receive, 1.0f);
    EXPECT_EQ(f.c->aux_a_send, 0.5f * six);
    EXPECT_EQ(f.c->aux_b_send, 0.25f * six);
    EXPECT_EQ(f.c->reverb_send, 0.5f * six * f.c->volume);
    EXPECT_EQ(f.c->delay_send, six * f.c->volume);
    EXPECT_EQ(f.c->fx_order, 1);
}

// Reverb and delay sends are post-fader; aux sends are not. Aux receives add before the chain.
TEST(ChannelStep, SendsAndMix) {
    struct Case {
        float volume, aux_a_receive, aux_a_send, aux_b_send, reverb_send, delay_send;
    };
    const Case cases[] = {
        {64, 0, 64, 0, 64, 32},
        {0, 0, 128, 64, 128, 128}, // volume 0: aux sends only
        {128, 64, 0, 128, 0, 0},
    };
    const int n = ChannelFixture::N;
    for (const Case &t : cases) {
        ChannelFixture f;
        f.params[0] = t.volume;
        f.params[1] = t.aux_a_receive;
        f.params[3] = t.aux_a_send;
        f.params[4] = t.aux_b_send;
        f.params[5] = t.reverb_send;
        f.params[6] = t.delay_send;
        f.set();
        for (int i = 0; i < 2 * n; ++i) f.aux_a[i] = 0.01f * static_cast<float>(i % 7);
        const std::vector<float> aux_a_before = f.aux_a;
        std::vector<float> block = test_block(n), input = block;
        for (int i = 0; i < 2 * n; ++i) input[i] += aux_a_before[i] * f.c->aux_a_receive;
        const std::vector<float> shaped = through_dc_filters(input);

        channel_fx_process(f.c.get(), block.data(), &f.buses, n);
        EXPECT_EQ(block, shaped);
        for (int k = 0; k < n; ++k) {
            const float sum = shaped[2 * k] + shaped[2 * k + 1];
            ASSERT_EQ(f.reverb[k], 0.0f + sum * f.c->reverb_send) << k;
            ASSERT_EQ(f.delay[k], 0.0f + sum * f.c->delay_send) << k;
            for (int s = 0; s < 2; ++s) {
                const int i = 2 * k + s;
                ASSERT_EQ(f.main_bus[i], 0.0f + shaped[i] * f.c->volume) << i;
                ASSERT_EQ(f.aux_a[i], aux_a_before[i] + shaped[i] * f.c->aux_a_send) << i;
                ASSERT_EQ(f.aux_b[i], 0.0f + shaped[i] * f.c->aux_b_send) << i;
            }
        }
        if (t.volume == 0) {
            for (int k = 0; k < n; ++k) ASSERT_EQ(f.reverb[k], 0.0f);
            for (float v : f.main_bus) ASSERT_EQ(v, 0.0f);
            float aux_energy = 0;
            for (float v : f.aux_b) aux_energy += std::fabs(v);
            EXPECT_GT(aux_energy, 1.0f);
        }
    }
}

// Order 0 runs the distortion before the chorus, any other value after it: with a hard clip and a
// chorus that inverts and delays, the two orders differ.
TEST(ChannelStep, EffectOrder) {
    std::vector<float> results[2];
    for (int order = 0; order < 2; ++order) {
        ChannelFixture f;
        f.params[0] = 128;
        f.params[7] = static_cast<float>(order);
        f.params[9] = 2;    // clip
        f.params[10] = 96;  // gain 16
        f.params[11] = 128; // output level 1
        f.params[12] = 64;  // no bias
        f.params[13] = 32;  // chorus wet -0.5, dry 0.5
        f.params[14] = 64;
        f.params[15] = f.params[16] = 1; // 8 samples
        f.params[19] = 64;
        f.set();
        std::vector<float> block = test_block(ChannelFixture::N);
        channel_fx_process(f.c.get(), block.data(), &f.buses, ChannelFixture::N);
        results[order] = f.main_bus;
    }
    EXPECT_NE(results[0], results[1]);
}

// With every unit on, the step equals the units run one by one in the documented order: aux
// receives, input DC filter, compressor, bass boost, then distortion, output DC filter and chorus
// (order 0) or chorus, distortion and output DC filter (any other order); then the sends and the mix.
TEST(ChannelStep, UnitsRunInChainOrder) {
    const int n = ChannelFixture::N;
    for (float order : {0.0f, 1.0f}) {
        ChannelFixture step, units;
        for (ChannelFixture *f : {&step, &units}) {
            const float p[CHANNEL_PARAM_COUNT] = {
                100, 40, 20,  50, 30, 60, 70, order,     // gains and order
                90,                                      // bass boost
                1,   80, 100, 70,                        // overdrive
                90,  70, 3,   4,  60, 50, 80,            // modulated chorus
                2,   1,  0,   1,  20, 64, 30, 40,    70, // RMS stereo compressor, 44-sample lookahead
            };
            std::memcpy(f->params, p, sizeof p);
            f->set();
        }
        for (int frame = 0; frame < 6; ++frame) {
            for (ChannelFixture *f : {&step, &units}) {
                for (int i = 0; i < 2 * n; ++i) {
                    f->aux_a[i] = 0.2f * std::sin(0.011f * static_cast<float>(i + frame * n));
                    f->aux_b[i] = 0.1f * std::cos(0.017f * static_cast<float>(i + frame * n));
                }
                std::fill(f->main_bus.begin(), f->main_bus.end(), 0.0f);
                std::fill(f->reverb.begin(), f->reverb.end(), 0.0f);
                std::fill(f->delay.begin(), f->delay.end(), 0.0f);
            }
            std::vector<float> a = test_block(n), b = a;
            channel_fx_process(step.c.get(), a.data(), &step.buses, n);

            ChannelFx *c = units.c.get();
            for (int i = 0; i < 2 * n; ++i) b[i] += units.aux_a[i] * c->aux_a_receive;
            for (int i = 0; i < 2 * n; ++i) b[i] += units.aux_b[i] * c->aux_b_receive;
            dc_filter_stereo(&c->input_dc, b.data(), b.data(), n);
            comp_process(&c->compressor, b.data(), n, units.level.data());
            boost_process(&c->bass_boost, b.data(), n);
            if (order == 0.0f) {
                dist_render_stereo(&c->distortion, b.data(), b.data(), n);
                dc_filter_stereo(&c->output_dc, b.data(), b.data(), n);
                moddelay_process(&c->chorus, b.data(), n);
            } else {
                moddelay_process(&c->chorus, b.data(), n);
                dist_render_stereo(&c->distortion, b.data(), b.data(), n);
                dc_filter_stereo(&c->output_dc, b.data(), b.data(), n);
            }
            for (int k = 0; k < n; ++k) {
                units.reverb[k] += (b[2 * k] + b[2 * k + 1]) * c->reverb_send;
                units.delay[k] += (b[2 * k] + b[2 * k + 1]) * c->delay_send;
            }
            for (int i = 0; i < 2 * n; ++i) {
                units.aux_a[i] += b[i] * c->aux_a_send;
                units.aux_b[i] += b[i] * c->aux_b_send;
                units.main_bus[i] += b[i] * c->volume;
            }
            ASSERT_EQ(a, b) << "order " << order << " frame " << frame;
            ASSERT_EQ(step.reverb, units.reverb) << "order " << order << " frame " << frame;
            ASSERT_EQ(step.delay, units.delay) << "order " << order << " frame " << frame;
            ASSERT_EQ(step.aux_a, units.aux_a) << "order " << order << " frame " << frame;
            ASSERT_EQ(step.aux_b, units.aux_b) << "order " << order << " frame " << frame;
            ASSERT_EQ(step.main_bus, units.main_bus) << "order " << order << " frame " << frame;
        }
        EXPECT_NE(step.c->compressor.gain_left, 1.0f); // the compressor was working
    }
}

} // namespace
