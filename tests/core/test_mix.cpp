#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "TestSupport.h"
#include "dsp/VocalCancelMixer.h"

namespace {

std::unique_ptr<VocalCancelMixer> MakeMixer(uint32_t rate = 44100, double low = 200, double high = 2000)
{
    auto m = std::make_unique<VocalCancelMixer>();
    m->PrepareFilters(rate);
    m->LowPassFilter->SetCutoff(low);
    m->HighPassFilter->SetCutoff(high);
    return m;
}

TEST(MixBlock, WorkedExample)
{
    for (auto [mix, expected] : {std::pair{0.0, 0.3}, {0.5, 0.2521955398}, {1.0, 0.2043910797}}) {
        auto m = MakeMixer();
        m->LeftBuffer[0] = 0.8;
        m->RightBuffer[0] = 0.2;
        const double peak = m->MixBlock(1, 0.5, mix, 1.0);
        EXPECT_DOUBLE_EQ(m->DiffBuffer[0], 0.3);
        EXPECT_EQ(m->MidBuffer[0], 0.5);
        EXPECT_EQ(m->LowBuffer[0], m->LowPassFilter->a1 * 0.5);
        EXPECT_EQ(m->HighBuffer[0], m->HighPassFilter->a1 * 0.5);
        EXPECT_TRUE(TenDigits(m->LowBuffer[0], 0.00009948570302));
        EXPECT_TRUE(TenDigits(m->HighBuffer[0], 0.4086826736));
        EXPECT_TRUE(TenDigits(m->MixBuffer[0], expected)) << "mix " << mix;
        EXPECT_EQ(peak, std::fabs(m->MixBuffer[0]));
    }
}

TEST(MixBlock, ZeroCountWritesNothingAndKeepsFilterHistory)
{
    auto m = MakeMixer();
    m->MixBuffer[0] = 42.0;
    m->LowPassFilter->x1 = 0.25;
    EXPECT_EQ(m->MixBlock(0, 0.5, 0.3, 1.0), 0.0);
    EXPECT_EQ(m->MixBuffer[0], 42.0);
    EXPECT_EQ(m->LowPassFilter->x1, 0.25);
}

struct ChannelCase {
    double left, right, balance, expected;
};

class MixChannels : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(MixChannels, DifferenceAloneAtMixLevelZero)
{
    const auto c = GetParam();
    auto m = MakeMixer();
    for (uint32_t i = 0; i < BlockFrames; ++i) {
        m->LeftBuffer[i] = c.left * std::sin(i * 0.01);
        m->RightBuffer[i] = c.right * std::sin(i * 0.01);
    }
    m->MixBlock(BlockFrames, c.balance, 0.0, 1.0);
    for (uint32_t i = 0; i < BlockFrames; ++i) {
        ASSERT_NEAR(m->MixBuffer[i], c.expected * std::sin(i * 0.01), 1e-15) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MixChannels,
                         ::testing::Values(ChannelCase{0.7, 0.7, 0.5, 0.0},   // centred signal cancels
                                           ChannelCase{1.0, 0.0, 0.5, 0.5},   // left alone: halved
                                           ChannelCase{0.6, 0.3, 0.0, 0.6},   // balance 0: the left channel
                                           ChannelCase{0.6, 0.3, 1.0, -0.3},  // balance 1: right, negated
                                           ChannelCase{0.8, 0.2, 0.8, 0.0}));  // (1-b) l = b r cancels

TEST(MixBlock, CentredSignalGivesExactSilence)
{
    auto m = MakeMixer();
    for (uint32_t i = 0; i < BlockFrames; ++i) {
        m->LeftBuffer[i] = m->RightBuffer[i] = std::sin(i * 0.1) * 0.9;
    }
    EXPECT_EQ(m->MixBlock(BlockFrames, 0.5, 0.0, 1.0), 0.0);
    for (uint32_t i = 0; i < BlockFrames; ++i) {
        ASSERT_EQ(m->MixBuffer[i], 0.0);
    }
}

TEST(MixBlock, GainScalesSamplesAndPeak)
{
    auto a = MakeMixer(), b = MakeMixer();
    for (uint32_t i = 0; i < 500; ++i) {
        a->LeftBuffer[i] = b->LeftBuffer[i] = std::sin(i * 0.05);
        a->RightBuffer[i] = b->RightBuffer[i] = std::cos(i * 0.07) * 0.5;
    }
    const double pa = a->MixBlock(500, 0.4, 0.6, 1.0);
    const double pb = b->MixBlock(500, 0.4, 0.6, 2.0);
    EXPECT_EQ(pb, 2.0 * pa);
    for (uint32_t i = 0; i < 500; ++i) {
        ASSERT_EQ(b->MixBuffer[i], 2.0 * a->MixBuffer[i]);
    }
}

TEST(MixBlock, NaNSampleNeverBecomesThePeak)
{
    auto m = MakeMixer();
    m->LeftBuffer[0] = 0.4;
    m->RightBuffer[0] = -0.4;
    m->LeftBuffer[1] = std::numeric_limits<double>::quiet_NaN();
    m->RightBuffer[1] = 0.0;
    // The filters carry the NaN on, so only sample 0 is a number.
    const double peak = m->MixBlock(3, 0.5, 0.0, 1.0);
    EXPECT_TRUE(std::isnan(m->MixBuffer[1]));
    EXPECT_EQ(peak, 0.4);
}

// Block size must not change the result: the filters carry their history across blocks.
TEST(MixBlock, BlockSizesGiveIdenticalOutput)
{
    const uint32_t total = 6000;
    std::vector<double> left(total), right(total);
    for (uint32_t i = 0; i < total; ++i) {
        left[i] = std::sin(i * 0.031) * 0.7 + std::sin(i * 0.9) * 0.2;
        right[i] = std::sin(i * 0.031) * 0.7 - std::sin(i * 0.4) * 0.25;
    }
    auto run = [&](uint32_t block) {
        auto m = MakeMixer(44100, 300, 5000);
        std::vector<double> out;
        for (uint32_t pos = 0; pos < total; pos += block) {
            const uint32_t n = std::min(block, total - pos);
            std::copy_n(left.begin() + pos, n, m->LeftBuffer);
            std::copy_n(right.begin() + pos, n, m->RightBuffer);
            m->MixBlock(n, 0.45, 0.3, 0.8);
            out.insert(out.end(), m->MixBuffer, m->MixBuffer + n);
        }
        return out;
    };
    const auto reference = run(BlockFrames);
    for (uint32_t block : {1u, 7u, 1000u}) {
        EXPECT_EQ(run(block), reference) << "block " << block;
    }
}

}  // namespace

namespace {

// MixBlock runs its stages fused in one loop; it must equal the stages run one after another,
// each filter over the whole block, to the last bit.
TEST(MixBlock, EqualsTheStagesRunOneAfterAnother)
{
    auto fused = MakeMixer(44100, 180, 6500);
    auto staged = MakeMixer(44100, 180, 6500);
    for (int block = 0; block < 3; ++block) {
        for (uint32_t i = 0; i < BlockFrames; ++i) {
            const double t = block * 2048.0 + i;
            fused->LeftBuffer[i] = std::sin(t * 0.02) * 0.6 + std::sin(t * 1.3) * 0.3;
            fused->RightBuffer[i] = std::sin(t * 0.02) * 0.6 - std::cos(t * 0.7) * 0.2;
        }
        const double balance = 0.47, mix = 0.2975, gain = 1.0 / 0.83;
        const double peak = fused->MixBlock(BlockFrames, balance, mix, gain);

        auto& s = *staged;
        double stagedPeak = 0.0;
        std::vector<double> expected(BlockFrames);
        for (uint32_t i = 0; i < BlockFrames; ++i) {
            s.DiffBuffer[i] = (1.0 - balance) * fused->LeftBuffer[i] - balance * fused->RightBuffer[i];
            s.MidBuffer[i] = (fused->LeftBuffer[i] + fused->RightBuffer[i]) * 0.5;
        }
        s.LowPassFilter->Process(s.LowBuffer, s.MidBuffer, BlockFrames);
        s.HighPassFilter->Process(s.HighBuffer, s.MidBuffer, BlockFrames);
        for (uint32_t i = 0; i < BlockFrames; ++i) {
            expected[i] = gain * ((mix * 0.5) * (s.LowBuffer[i] + s.HighBuffer[i]) + (1.0 - mix) * s.DiffBuffer[i]);
            stagedPeak = std::max(stagedPeak, std::fabs(expected[i]));
        }
        ASSERT_EQ(std::vector<double>(fused->MixBuffer, fused->MixBuffer + BlockFrames), expected);
        ASSERT_EQ(std::vector<double>(fused->LowBuffer, fused->LowBuffer + BlockFrames),
                  std::vector<double>(s.LowBuffer, s.LowBuffer + BlockFrames));
        EXPECT_EQ(peak, stagedPeak);
        EXPECT_EQ(fused->HighPassFilter->y1, s.HighPassFilter->y1);
        EXPECT_EQ(fused->LowPassFilter->x2, s.LowPassFilter->x2);
    }
}

}  // namespace
