#include <gtest/gtest.h>

#include <cmath>

#include "dsp/ControlValues.h"

using namespace ControlValues;

TEST(ControlValues, StartPositions)
{
    EXPECT_EQ(FractionToPosition(0.5, 0, BalanceMax), 200);
    EXPECT_EQ(FractionToPosition(0.3, 0, MixLevelMax), 119);
    EXPECT_EQ(FractionToPosition(0.5, 0, VolumeMax), 160);
    EXPECT_EQ(DefaultLowCutoffPosition(), 200);
    EXPECT_EQ(DefaultHighCutoffPosition(), 360);
    EXPECT_EQ(PositionToFraction(119, 0, 400), 0.2975);
}

TEST(ControlValues, FractionsOutsideTheRangeStopAtTheEnds)
{
    EXPECT_EQ(FractionToPosition(1.7, 0, 400), 400);
    EXPECT_EQ(FractionToPosition(-0.2, 0, 400), 0);
    EXPECT_EQ(FractionToPosition(std::nan(""), 0, 320), 0);
    EXPECT_EQ(FractionToPosition(1.0, 0, 320), 320);
}

TEST(ControlValues, CutoffScaleAndClamp)
{
    EXPECT_DOUBLE_EQ(PositionToCutoff(100), 20.0);
    EXPECT_DOUBLE_EQ(PositionToCutoff(200), 200.0);
    EXPECT_DOUBLE_EQ(PositionToCutoff(300), 2000.0);
    EXPECT_NEAR(PositionToCutoff(360), 7962.14, 0.005);
    EXPECT_DOUBLE_EQ(PositionToCutoff(400), 20000.0);
    EXPECT_EQ(ClampCutoff(PositionToCutoff(400), 44100), PositionToCutoff(400));
    EXPECT_EQ(ClampCutoff(PositionToCutoff(375), 22050), 11024.0);
    EXPECT_LT(ClampCutoff(PositionToCutoff(374), 22050), 11024.0);
    EXPECT_EQ(ClampCutoff(PositionToCutoff(331), 8000), 3999.0);
    EXPECT_LT(ClampCutoff(PositionToCutoff(330), 8000), 3999.0);
}

TEST(ControlValues, CutoffLabels)
{
    EXPECT_EQ(FormatCutoff(20.0), "   20Hz");
    EXPECT_EQ(FormatCutoff(200.0), "  200Hz");
    EXPECT_EQ(FormatCutoff(PositionToCutoff(360)), " 7962Hz");
    EXPECT_EQ(FormatCutoff(20000.0), "20000Hz");
    EXPECT_EQ(FormatCutoff(11024.0), "11024Hz");
}
