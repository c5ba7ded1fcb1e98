// Sources beyond plain 8/16/24-bit PCM: extensible headers, 32-bit integer, float, A-law,
// mu-law and RF64, checked against sox where sox can read them.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "TestFiles.h"
#include "WavBuilder.h"
#include "dsp/RenderJob.h"
#include "dsp/VocalCancelMixer.h"
#include "wave/Wavefile.h"

namespace {

using namespace wavtest;
using Encoding = TWaveFileReader::SampleEncoding;

// The first two channels of sox's interleaved decode; a mono file repeats its one channel.
std::vector<double> FirstTwoChannels(const std::vector<double>& all, unsigned channels)
{
    std::vector<double> out;
    for (size_t i = 0; i + channels <= all.size(); i += channels) {
        out.push_back(all[i]);
        out.push_back(all[i + (channels > 1 ? 1 : 0)]);
    }
    return out;
}

// A WAVE_FORMAT_EXTENSIBLE "fmt " body: the 18-byte record with cbSize 22, then valid bits,
// channel mask and the sub-format GUID whose first two bytes are the tag.
Bytes ExtensibleFmt(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t subTag, uint16_t validBits = 0)
{
    Bytes b = FmtBody(0xFFFE, channels, rate, bits, 0, 18);
    b[16] = 22;
    Put16(b, validBits ? validBits : bits);
    Put32(b, channels == 2 ? 3 : 4);
    Put16(b, subTag);
    const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    b.insert(b.end(), tail, tail + 14);
    return b;
}

Bytes Float32Data(const std::vector<float>& v)
{
    Bytes b;
    for (float x : v) Put32(b, std::bit_cast<uint32_t>(x));
    return b;
}
Bytes Float64Data(const std::vector<double>& v)
{
    Bytes b;
    for (double x : v) {
        const uint64_t bits = std::bit_cast<uint64_t>(x);
        Put32(b, static_cast<uint32_t>(bits));
        Put32(b, static_cast<uint32_t>(bits >> 32));
    }
    return b;
}

std::string Store(const TempDir& dir, const std::string& name, const Bytes& bytes)
{
    const std::string path = dir / name;
    WriteFile(path, bytes);
    return path;
}

// ---- files made by sox ----

struct SoxMade {
    const char* name;
    const char* options;  // format options for the output file
    unsigned channels;
    Encoding encoding;
};

class FromSox : public ::testing::TestWithParam<SoxMade> {};

TEST_P(FromSox, DecodesToWhatSoxDecodes)
{
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
    const SoxMade& m = GetParam();
    TempDir dir;
    const std::string path = dir / (std::string(m.name) + ".wav");
    // Different content per channel catches swapped or misaligned channels. Half scale: sox
    // reads a float sample of exactly 1.0 back clipped, where the reader keeps it.
    const std::string make = "sox -n -r 44100 -c " + std::to_string(m.channels) + " " + m.options + " '" + path +
                             "' synth 0.3 sine 440 whitenoise sine 97 noise vol 0.5 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    const std::vector<double> expected = FirstTwoChannels(SoxDecode(path), m.channels);
    ASSERT_FALSE(expected.empty());

    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.LastErrorDetail();
    EXPECT_EQ(reader.Encoding(), m.encoding);
    EXPECT_EQ(reader.Format.cbSize, 0);
    EXPECT_EQ(ReadAll(reader), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FromSox,
    ::testing::Values(SoxMade{"float32", "-e floating-point -b 32", 2, Encoding::Float32},
                      SoxMade{"float64", "-e floating-point -b 64", 2, Encoding::Float64},
                      SoxMade{"int32", "-e signed-integer -b 32", 2, Encoding::Int32},  // extensible
                      SoxMade{"int24x", "-e signed-integer -b 24", 2, Encoding::Int24},
                      SoxMade{"int16x4", "-e signed-integer -b 16", 4, Encoding::Int16},  // extensible
                      SoxMade{"float32x4", "-e floating-point -b 32", 4, Encoding::Float32},
                      SoxMade{"mulaw", "-e mu-law", 2, Encoding::MuLaw},
                      SoxMade{"alaw", "-e a-law", 2, Encoding::ALaw},
                      SoxMade{"alawmono", "-e a-law", 1, Encoding::ALaw}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- files made here ----

// Every 8-bit code of a companded file (mono) read back into l and r, so that l[code] is
// what the code expands to; sox, where installed, must expand every code alike.
void ExpandEveryCode(uint16_t tag, double (&l)[256], double (&r)[256])
{
    Bytes codes;
    for (int i = 0; i < 256; ++i) codes.push_back(static_cast<uint8_t>(i));
    TempDir dir;
    const std::string path = Store(dir, "codes.wav", Riff({Chunk("fmt ", FmtBody(tag, 1, 8000, 8, 0, 18)), Chunk("data", codes)}));
    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(path));
    ASSERT_EQ(reader.Read(l, r, 256), 256u);
    if (HaveSox()) {
        EXPECT_EQ(SoxDecode(path), std::vector<double>(l, l + 256));
    }
}

TEST(Companded, EveryMuLawCodeExpandsAsG711)
{
    double l[256], r[256];
    ASSERT_NO_FATAL_FAILURE(ExpandEveryCode(7, l, r));
    EXPECT_EQ(l[0x00], -32124 / 32768.0);
    EXPECT_EQ(l[0x80], 32124 / 32768.0);
    EXPECT_EQ(l[0x7F], 0.0);
    EXPECT_EQ(l[0xFF], 0.0);
    EXPECT_EQ(l[0x7E], -8 / 32768.0);
    EXPECT_EQ(l[0xFE], 8 / 32768.0);
    EXPECT_EQ(l[0x70], -120 / 32768.0);  // first step of the second segment
    for (int i = 0; i < 256; ++i) EXPECT_EQ(l[i], r[i]);
}

TEST(Companded, EveryALawCodeExpandsAsG711)
{
    double l[256], r[256];
    ASSERT_NO_FATAL_FAILURE(ExpandEveryCode(6, l, r));
    EXPECT_EQ(l[0xD5], 8 / 32768.0);
    EXPECT_EQ(l[0x55], -8 / 32768.0);
    EXPECT_EQ(l[0xAA], 32256 / 32768.0);
    EXPECT_EQ(l[0x2A], -32256 / 32768.0);
    EXPECT_EQ(l[0xC5], 264 / 32768.0);  // first code of the second segment
}

TEST(Companded, ThroughTheExtensibleHeader)
{
    TempDir dir;
    const Bytes codes = {0x00, 0x80, 0xFF, 0x12, 0xD5, 0x55};
    const std::string mu = Store(dir, "u.wav", Riff({Chunk("fmt ", ExtensibleFmt(2, 8000, 8, 7)), Chunk("data", codes)}));
    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(mu));
    EXPECT_EQ(reader.Encoding(), Encoding::MuLaw);
    EXPECT_EQ(reader.Format.wFormatTag, 0xFFFE);
    const std::vector<double> got = ReadAll(reader);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0], -32124 / 32768.0);
    EXPECT_EQ(got[1], 32124 / 32768.0);
    if (HaveSox()) {
        EXPECT_EQ(SoxDecode(mu), got);
    }
}

TEST(Integer32, FullScaleAndGuidForms)
{
    TempDir dir;
    const std::vector<int32_t> codes = {INT32_MIN, INT32_MAX, 0, 1, -1, 0x40000000, 0x12345678, -0x12345678};
    const std::vector<double> expected = {-1.0, 2147483647 / 2147483648.0, 0.0, 1 / 2147483648.0, -1 / 2147483648.0,
                                          0.5, 0x12345678 / 2147483648.0, -0x12345678 / 2147483648.0};
    const Bytes data = PcmData(codes, 32);
    const std::string plain = Store(dir, "p.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 48000, 32)), Chunk("data", data)}));
    const std::string guid = Store(dir, "x.wav", Riff({Chunk("fmt ", ExtensibleFmt(2, 48000, 32, 1)), Chunk("data", data)}));
    // 24 valid bits in a 32-bit container decode the same way: the low byte is simply zero.
    const std::string valid24 =
        Store(dir, "v.wav", Riff({Chunk("fmt ", ExtensibleFmt(2, 48000, 32, 1, 24)), Chunk("data", data)}));
    for (const auto& path : {plain, guid, valid24}) {
        TWaveFileReader reader;
        ASSERT_TRUE(reader.Open(path)) << path;
        EXPECT_EQ(reader.Encoding(), Encoding::Int32);
        EXPECT_EQ(ReadAll(reader), expected) << path;
        if (HaveSox() && path != valid24) {  // sox refuses a container wider than the valid bits
            EXPECT_EQ(SoxDecode(path), expected) << path;
        }
    }
}

TEST(Float, SamplesAreKeptAsTheyAreBeyondFullScale)
{
    TempDir dir;
    const std::vector<float> f32 = {1.5f, -2.0f, 1e-30f, -0.25f, 3.0e7f, 0.0f};
    const std::vector<double> f64 = {1.5, -2.0, 1e-300, -0.25, 1.0 / 3.0, 123456.789};
    const std::string a = Store(dir, "a.wav", Riff({Chunk("fmt ", FmtBody(3, 2, 44100, 32)), Chunk("data", Float32Data(f32))}));
    const std::string b = Store(dir, "b.wav", Riff({Chunk("fmt ", ExtensibleFmt(2, 44100, 32, 3)), Chunk("data", Float32Data(f32))}));
    const std::string c = Store(dir, "c.wav", Riff({Chunk("fmt ", FmtBody(3, 2, 44100, 64)), Chunk("data", Float64Data(f64))}));
    const std::string d = Store(dir, "d.wav", Riff({Chunk("fmt ", ExtensibleFmt(2, 44100, 64, 3)), Chunk("data", Float64Data(f64))}));
    const std::vector<double> widened(f32.begin(), f32.end());
    for (const auto& [path, expected] : {std::pair{a, widened}, {b, widened}, {c, f64}, {d, f64}}) {
        TWaveFileReader reader;
        ASSERT_TRUE(reader.Open(path)) << path << ": " << reader.LastErrorDetail();
        EXPECT_EQ(ReadAll(reader), expected) << path;
    }
}

TEST(Float, InfinitiesAndNaNsBecomeSilence)
{
    TempDir dir;
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string a = Store(dir, "a.wav",
                                Riff({Chunk("fmt ", FmtBody(3, 2, 44100, 32)),
                                      Chunk("data", Float32Data({float(inf), 0.5f, float(nan), -float(inf)}))}));
    const std::string b = Store(dir, "b.wav",
                                Riff({Chunk("fmt ", FmtBody(3, 2, 44100, 64)), Chunk("data", Float64Data({-inf, nan, 0.5, inf}))}));
    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(a));
    EXPECT_EQ(ReadAll(reader), (std::vector<double>{0.0, 0.5, 0.0, 0.0}));
    ASSERT_TRUE(reader.Open(b));
    EXPECT_EQ(ReadAll(reader), (std::vector<double>{0.0, 0.0, 0.5, 0.0}));
}

// Tag and depth pairs: the old rule (decode by width) where it holds, refusal where the
// samples cannot be told apart.
struct TagCase {
    const char* name;
    Bytes fmt;
    Encoding encoding;  // None: refused
};

uint16_t Le16Of(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

class TagRules : public ::testing::TestWithParam<TagCase> {};

TEST_P(TagRules, DecodeOrRefuse)
{
    const TagCase& c = GetParam();
    TempDir dir;
    const uint16_t blockAlign = Le16Of(c.fmt, 12);
    const std::string path = Store(dir, "t.wav", Riff({Chunk("fmt ", c.fmt), Chunk("data", Bytes(blockAlign * 4u, 0x40))}));
    TWaveFileReader reader;
    if (c.encoding == Encoding::None) {
        EXPECT_FALSE(reader.Open(path));
        EXPECT_EQ(reader.LastError(), WaveOpenError::UnsupportedFormat);
        EXPECT_FALSE(reader.LastErrorDetail().empty());
        EXPECT_FALSE(reader.IsOpen());
    } else {
        ASSERT_TRUE(reader.Open(path)) << reader.LastErrorDetail();
        EXPECT_EQ(reader.Encoding(), c.encoding);
        EXPECT_EQ(ReadAll(reader).size(), 8u);
    }
}

Bytes ExtensibleUnknownGuid(uint16_t bits)
{
    Bytes b = ExtensibleFmt(2, 44100, bits, 1);
    b[30] ^= 0xFF;  // not the standard GUID tail
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TagRules,
    ::testing::Values(TagCase{"float16", FmtBody(3, 2, 44100, 16), Encoding::Int16},
                      TagCase{"alaw16", FmtBody(6, 2, 44100, 16), Encoding::Int16},
                      TagCase{"float8", FmtBody(3, 2, 44100, 8), Encoding::Unsigned8},
                      TagCase{"unknown24", FmtBody(0x1234, 2, 44100, 24), Encoding::Int24},
                      TagCase{"guidless16", FmtBody(0xFFFE, 2, 44100, 16, 0, 18), Encoding::Int16},
                      TagCase{"unknownGuid16", ExtensibleUnknownGuid(16), Encoding::Int16},
                      TagCase{"guidless32", FmtBody(0xFFFE, 2, 44100, 32, 0, 18), Encoding::None},
                      TagCase{"unknownGuid32", ExtensibleUnknownGuid(32), Encoding::None},
                      TagCase{"adpcm4", FmtBody(2, 2, 44100, 4, 2048), Encoding::None},
                      TagCase{"mpeg0", FmtBody(0x55, 2, 44100, 0, 1), Encoding::None},
                      TagCase{"alaw32", FmtBody(6, 2, 44100, 32), Encoding::None},
                      TagCase{"pcm64", FmtBody(1, 2, 44100, 64), Encoding::None},
                      TagCase{"pcm12", FmtBody(1, 2, 44100, 12, 4), Encoding::None},
                      TagCase{"float64BadAlign", FmtBody(3, 2, 44100, 64, 8), Encoding::None}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
