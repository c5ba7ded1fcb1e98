#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "playback/Waveutils.h"

namespace {

int16_t ConvertOne(double x)
{
    uint8_t bytes[2];
    EXPECT_EQ(ConvertToPcm16(bytes, &x, 1), 1u);
    return static_cast<int16_t>(bytes[0] | (bytes[1] << 8));
}

struct Case {
    double in;
    int16_t out;
};

class ConvertToPcm16Values : public ::testing::TestWithParam<Case> {};

TEST_P(ConvertToPcm16Values, RoundsHalvesUpAndClips)
{
    EXPECT_EQ(ConvertOne(GetParam().in), GetParam().out) << "for " << GetParam().in;
}

INSTANTIATE_TEST_SUITE_P(
    WorkedValues, ConvertToPcm16Values,
    ::testing::Values(Case{-1.0, -32768}, Case{0.0, 0}, Case{1.0, 32767}, Case{2.0, 32767},
                      Case{-1.5, -32768}, Case{std::ldexp(1.0, -16), 1}, Case{-std::ldexp(1.0, -16), 0},
                      Case{0.99999, 32767}, Case{0.9999, 32765}, Case{0.5, 16384},
                      Case{std::numeric_limits<double>::quiet_NaN(), -32768},
                      Case{std::numeric_limits<double>::infinity(), 32767},
                      Case{-std::numeric_limits<double>::infinity(), -32768}));

TEST(ConvertToPcm16, WritesLittleEndianAtAnyAlignmentAndReturnsCount)
{
    const double in[3] = {std::ldexp(258.0, -15), -std::ldexp(1.0, -15), 0.0};  // 258 = 0x0102, -1
    uint8_t out[8];
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(ConvertToPcm16(out + 1, in, 3), 3u);
    const uint8_t expected[8] = {0xAA, 0x02, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0xAA};
    EXPECT_EQ(0, std::memcmp(out, expected, sizeof out));
    EXPECT_EQ(ConvertToPcm16(out, in, 0), 0u);
}

}  // namespace
