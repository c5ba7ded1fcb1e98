// RF64/BW64: the data size from "ds64", and 64-bit positions on a file that states far more
// data than it holds.
#include <gtest/gtest.h>

#include <cmath>

#include "TestFiles.h"
#include "WavBuilder.h"
#include "dsp/RenderJob.h"
#include "dsp/VocalCancelMixer.h"
#include "wave/Wavefile.h"

namespace {

using namespace wavtest;

Bytes Ds64(uint64_t riffSize, uint64_t dataSize, uint64_t sampleCount)
{
    Bytes b;
    for (uint64_t v : {riffSize, dataSize, sampleCount}) {
        Put32(b, static_cast<uint32_t>(v));
        Put32(b, static_cast<uint32_t>(v >> 32));
    }
    Put32(b, 0);  // no table of other chunk sizes
    return b;
}

// An RF64 file: header size 0xFFFFFFFF, "ds64", "fmt ", a "data" chunk whose header says
// 0xFFFFFFFF (unless dataHeaderSize says otherwise) and a chunk after it.
Bytes Rf64(const char* magic, const Bytes& samples, uint64_t ds64Size, uint32_t dataHeaderSize = 0xFFFFFFFF,
           bool withDs64 = true, bool trailer = true, size_t ds64Bytes = 28)
{
    Bytes b;
    PutId(b, magic);
    Put32(b, 0xFFFFFFFF);
    PutId(b, "WAVE");
    if (withDs64) {
        Bytes body = Ds64(0, ds64Size, ds64Size / 4);
        body.resize(ds64Bytes);
        const Bytes ds = Chunk("ds64", body);
        b.insert(b.end(), ds.begin(), ds.end());
    }
    const Bytes fmt = Chunk("fmt ", FmtBody(1, 2, 44100, 16));
    b.insert(b.end(), fmt.begin(), fmt.end());
    const Bytes data = ChunkStated("data", dataHeaderSize, samples);
    b.insert(b.end(), data.begin(), data.end());
    if (trailer) {
        const Bytes after = Chunk("LIST", Bytes(12, 0x7F));
        b.insert(b.end(), after.begin(), after.end());
    }
    return b;
}

std::vector<int32_t> Codes(size_t frames)
{
    std::vector<int32_t> codes;
    for (size_t i = 0; i < frames * 2; ++i) codes.push_back(static_cast<int32_t>((i * 7919) % 65536) - 32768);
    return codes;
}

TEST(Rf64, DataSizeComesFromDs64AndDecodesAsTheRiffForm)
{
    TempDir dir;
    const Bytes samples = PcmData(Codes(3001), 16);
    const std::string riff = dir / "riff.wav";
    WriteFile(riff, PcmWav(2, 44100, 16, Codes(3001)));
    TWaveFileReader reference;
    ASSERT_TRUE(reference.Open(riff));
    const std::vector<double> expected = ReadAll(reference);

    for (const char* magic : {"RF64", "BW64"}) {
        const std::string path = dir / (std::string(magic) + ".wav");
        WriteFile(path, Rf64(magic, samples, samples.size()));
        TWaveFileReader reader;
        ASSERT_TRUE(reader.Open(path)) << magic << ": " << reader.LastErrorDetail();
        EXPECT_EQ(reader.DataSize, samples.size());
        EXPECT_EQ(reader.FrameCount, 3001u);
        // The chunk after the data is not delivered as samples.
        EXPECT_EQ(ReadAll(reader), expected) << magic;
        EXPECT_EQ(reader.GetPosition(), 1.0);
    }
}

TEST(Rf64, StatedSizeHoldsUnlessItIsTheMarker)
{
    TempDir dir;
    const Bytes samples = PcmData(Codes(100), 16);
    const std::string path = dir / "x.wav";
    // A data header with a real size keeps it, whatever ds64 says.
    WriteFile(path, Rf64("RF64", samples, 1ull << 40, 200));
    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.DataSize, 200u);
    EXPECT_EQ(reader.FrameCount, 50u);
}

TEST(Rf64, Refusals)
{
    TempDir dir;
    const Bytes samples = PcmData(Codes(10), 16);
    struct Case {
        const char* name;
        Bytes file;
    };
    for (const Case& c : {Case{"no ds64", Rf64("RF64", samples, 0, 0xFFFFFFFF, false)},
                          Case{"short ds64", Rf64("RF64", samples, samples.size(), 0xFFFFFFFF, true, true, 16)},
                          Case{"size beyond any offset", Rf64("RF64", samples, ~0ull)},
                          Case{"size just beyond any offset", Rf64("RF64", samples, 1ull << 63)}}) {
        const std::string path = dir / "bad.wav";
        WriteFile(path, c.file);
        TWaveFileReader reader;
        EXPECT_FALSE(reader.Open(path)) << c.name;
        EXPECT_EQ(reader.LastError(), WaveOpenError::UnsupportedFormat) << c.name;
        EXPECT_FALSE(reader.IsOpen());
    }
    // "ds64" means nothing in a plain RIFF file: the 0xFFFFFFFF stands and reading simply
    // ends with the file.
    Bytes riff = Rf64("RF64", samples, 40);
    std::memcpy(riff.data(), "RIFF", 4);
    const std::string path = dir / "riff.wav";
    WriteFile(path, riff);
    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.DataSize, 0xFFFFFFFFu);
    EXPECT_EQ(ReadAll(reader).size(), 2 * (samples.size() + 8 + 12) / 4);  // the LIST chunk is read as data
}

// A file that states 2^40 bytes of data (over 2^38 frames) but holds 100 frames: every
// position is computed in 64 bits, and reading stops where the bytes stop.
class HugeStatedRf64 : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(path, Rf64("RF64", PcmData(Codes(100), 16), Stated, 0xFFFFFFFF, true, false));
        ASSERT_TRUE(reader.Open(path)) << reader.LastErrorDetail();
    }
    static constexpr uint64_t Stated = (1ull << 40) + 4;
    TempDir dir;
    std::string path = dir / "huge.wav";
    TWaveFileReader reader;
};

TEST_F(HugeStatedRf64, CountsAndPositionsPast32Bits)
{
    EXPECT_EQ(reader.DataSize, Stated);
    EXPECT_EQ(reader.FrameCount, (1ull << 38) + 1);
    EXPECT_EQ(ReadAll(reader).size(), 200u);

    for (double fraction : {0.0, 0.25, 0.5, 0.999999, 1.0}) {
        reader.SetPosition(fraction);
        const uint64_t frame = static_cast<uint64_t>(static_cast<double>(reader.FrameCount) * fraction);
        EXPECT_EQ(reader.GetPosition(), static_cast<double>(frame * 4) / static_cast<double>(Stated)) << fraction;
    }
    reader.SetPosition(0.5);
    EXPECT_NEAR(reader.GetPosition(), 0.5, 1e-9);
    double l[16], r[16];
    EXPECT_EQ(reader.Read(l, r, 16), 0u);  // beyond the bytes that exist
    reader.SetPosition(1.0);
    EXPECT_EQ(reader.GetPosition(), 1.0);
    EXPECT_EQ(reader.Read(l, r, 16), 0u);
    reader.SetPosition(1.5);  // ignored
    EXPECT_EQ(reader.GetPosition(), 1.0);
    reader.Rewind();
    EXPECT_EQ(reader.Read(l, r, 16), 16u);
    EXPECT_EQ(reader.GetPosition(), 64.0 / static_cast<double>(Stated));
}

TEST_F(HugeStatedRf64, NearTheLargestOffsetNothingOverflows)
{
    // 2^62 bytes: the arithmetic stays in range (the sanitizers watch it). Where the file
    // system cannot seek that far, a position there is simply not taken.
    const uint64_t stated = 1ull << 62;
    WriteFile(path, Rf64("RF64", PcmData(Codes(10), 16), stated, 0xFFFFFFFF, true, false));
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.FrameCount, stated / 4);
    for (double fraction : {1.0, std::nextafter(1.0, 0.0), 0.75, 0.0}) {
        reader.SetPosition(fraction);
        const double position = reader.GetPosition();
        EXPECT_GE(position, 0.0);
        EXPECT_LE(position, 1.0);
    }
    double l[16], r[16];
    EXPECT_EQ(reader.Read(l, r, 16), 10u);
}

TEST_F(HugeStatedRf64, RenderProgressStaysInRangeAndTheFramesThatExistAreWritten)
{
    VocalCancelMixer mixer;
    mixer.PrepareFilters(44100);
    MixParameters params;
    std::vector<int> progress;
    const std::string out = dir / "out.wav";
    ASSERT_EQ(RenderToFile(reader, path, mixer, out, params, [&](int v) { progress.push_back(v); }),
              RenderStatus::Ok);
    ASSERT_FALSE(progress.empty());
    for (size_t i = 0; i < progress.size(); ++i) {
        EXPECT_GE(progress[i], 0);
        EXPECT_LE(progress[i], 100);
        if (i > 0) {
            EXPECT_GE(progress[i], progress[i - 1]);
        }
    }
    TWaveFileReader written;
    ASSERT_TRUE(written.Open(out));
    EXPECT_EQ(written.FrameCount, 100u);
}

}  // namespace
