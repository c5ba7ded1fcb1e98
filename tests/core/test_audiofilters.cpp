#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "TestSupport.h"
#include "dsp/Audiofilters.h"

namespace {

TEST(LowPassFilter, WorkedCoefficientsAt200Hz)
{
    TLowPassFilter f(44100);
    f.SetCutoff(200.0);
    EXPECT_TRUE(TenDigits(f.a1, 0.000198971406));
    EXPECT_TRUE(TenDigits(f.a2, 0.0003979428121));
    EXPECT_TRUE(TenDigits(f.b1, -1.959707034));
    EXPECT_TRUE(TenDigits(f.b2, 0.9605029194));
    EXPECT_EQ(f.a2, 2.0 * f.a1);
    EXPECT_EQ(f.a3, f.a1);
    EXPECT_EQ(f.resonance, 1.4142135623730951);
}

TEST(LowPassFilter, NewFilterHasQuarterRateCutoffAndClearHistory)
{
    TLowPassFilter f(44100);
    EXPECT_EQ(f.cutoff, 11025.0);
    EXPECT_TRUE(TenDigits(f.a1, 0.2928932188));
    EXPECT_TRUE(TenDigits(f.a2, 0.5857864376));
    EXPECT_NEAR(f.b1, 0.0, 1e-15);
    EXPECT_TRUE(TenDigits(f.b2, 0.1715728753));
    EXPECT_EQ(f.x1, 0.0);
    EXPECT_EQ(f.x2, 0.0);
    EXPECT_EQ(f.y1, 0.0);
    EXPECT_EQ(f.y2, 0.0);
}

TEST(LowPassFilter, ImpulseResponse)
{
    TLowPassFilter f(44100);
    f.SetCutoff(200.0);
    f.Reset();
    std::vector<double> in(6, 0.0), out(6, -1.0);
    in[0] = 1.0;
    f.Process(out.data(), in.data(), 6);
    const double expected[] = {0.000198971406, 0.000787868476, 0.001551850184,
                               0.002284421749, 0.002986240738, 0.00365796322};
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(TenDigits(out[i], expected[i])) << "sample " << i;
    }
}

TEST(HighPassFilter, WorkedCoefficientsAt2000Hz)
{
    THighPassFilter f(44100);
    f.SetCutoff(2000.0);
    EXPECT_TRUE(TenDigits(f.a1, 0.8173653472));
    EXPECT_TRUE(TenDigits(f.a2, -1.634730694));
    EXPECT_TRUE(TenDigits(f.b1, -1.601092394));
    EXPECT_TRUE(TenDigits(f.b2, 0.6683689946));
    EXPECT_EQ(f.a2, -2.0 * f.a1);
}

template <typename Filter>
class BothFilters : public ::testing::Test {};
using FilterTypes = ::testing::Types<TLowPassFilter, THighPassFilter>;
TYPED_TEST_SUITE(BothFilters, FilterTypes);

TYPED_TEST(BothFilters, SetCutoffRefusesValuesOutsideTheOpenRangeAndKeepsHistory)
{
    TypeParam f(44100);
    f.SetCutoff(1000.0);
    std::vector<double> in = {0.5, -0.25, 0.125}, out(3);
    f.Process(out.data(), in.data(), 3);
    const TypeParam before = f;
    for (double bad : {0.0, -5.0, 22050.0, 30000.0, std::numeric_limits<double>::quiet_NaN()}) {
        f.SetCutoff(bad);
        EXPECT_EQ(f.cutoff, before.cutoff) << bad;
        EXPECT_EQ(f.a1, before.a1) << bad;
        EXPECT_EQ(f.b2, before.b2) << bad;
    }
    f.SetCutoff(22049.0);
    EXPECT_EQ(f.cutoff, 22049.0);
    EXPECT_EQ(f.x1, before.x1);
    EXPECT_EQ(f.x2, before.x2);
    EXPECT_EQ(f.y1, before.y1);
    EXPECT_EQ(f.y2, before.y2);
}

TYPED_TEST(BothFilters, NonPositiveCountDoesNothing)
{
    TypeParam f(44100);
    double in[1] = {1.0}, out[1] = {7.0};
    f.Process(out, in, 0);
    f.Process(out, in, -3);
    EXPECT_EQ(out[0], 7.0);
    EXPECT_EQ(f.x1, 0.0);
    EXPECT_EQ(f.y1, 0.0);
}

TYPED_TEST(BothFilters, SplittingABlockChangesNothing)
{
    std::vector<double> in(2048), whole(2048), split(2048);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = std::sin(i * 0.37) * 0.8 + ((i * 7919) % 13) / 26.0;
    }
    TypeParam a(48000), b(48000);
    a.SetCutoff(900.0);
    b.SetCutoff(900.0);
    a.Process(whole.data(), in.data(), 2048);
    int pos = 0;
    for (int len : {1, 7, 1000, 1040}) {
        b.Process(split.data() + pos, in.data() + pos, len);
        pos += len;
    }
    ASSERT_EQ(pos, 2048);
    EXPECT_EQ(whole, split);
}

TYPED_TEST(BothFilters, ZeroSampleRateDoesNotFault)
{
    TypeParam f(0);
    f.SetCutoff(100.0);
    double in[4] = {1, 1, 1, 1}, out[4];
    f.Process(out, in, 4);
    for (double v : out) {
        EXPECT_TRUE(std::isfinite(v));
    }
}

// Behaviour rather than formulas: -3 dB at the cutoff and 12 dB per octave beyond it.
double SteadyGain(double frequency, double cutoff, bool lowPass)
{
    const uint32_t rate = 44100;
    const int n = 44100;
    std::vector<double> in(n), out(n);
    for (int i = 0; i < n; ++i) {
        in[i] = std::sin(2 * M_PI * frequency * i / rate);
    }
    if (lowPass) {
        TLowPassFilter f(rate);
        f.SetCutoff(cutoff);
        f.Process(out.data(), in.data(), n);
    } else {
        THighPassFilter f(rate);
        f.SetCutoff(cutoff);
        f.Process(out.data(), in.data(), n);
    }
    double peak = 0;
    for (int i = n / 2; i < n; ++i) {
        peak = std::max(peak, std::fabs(out[i]));
    }
    return 20 * std::log10(peak);
}

TEST(FilterResponse, ThreeDecibelsAtCutoffAndButterworthSlope)
{
    EXPECT_NEAR(SteadyGain(1000, 1000, true), -3.01, 0.05);
    EXPECT_NEAR(SteadyGain(1000, 1000, false), -3.01, 0.05);
    EXPECT_NEAR(SteadyGain(4000, 1000, true), -24.1, 0.6);  // two octaves above
    EXPECT_NEAR(SteadyGain(250, 1000, false), -24.1, 0.6);  // two octaves below
    EXPECT_NEAR(SteadyGain(50, 1000, true), 0.0, 0.01);
}

TEST(FilterResponse, ConstantInputSettlesToOneThroughLowPassAndZeroThroughHighPass)
{
    std::vector<double> in(20000, 1.0), out(20000);
    TLowPassFilter lp(44100);
    lp.SetCutoff(200);
    lp.Process(out.data(), in.data(), 20000);
    EXPECT_NEAR(out.back(), 1.0, 1e-9);
    THighPassFilter hp(44100);
    hp.SetCutoff(200);
    hp.Process(out.data(), in.data(), 20000);
    EXPECT_NEAR(out.back(), 0.0, 1e-9);
}

}  // namespace
