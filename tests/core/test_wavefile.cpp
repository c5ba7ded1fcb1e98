#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <chrono>
#include <cstdlib>
#include <future>
#include <limits>
#include <vector>

#include "TestFiles.h"
#include "WavBuilder.h"
#include "wave/Wavefile.h"

using namespace wavtest;

namespace {

class Reader : public ::testing::Test {
protected:
    std::string Make(const Bytes& bytes, const std::string& name = "in.wav")
    {
        const std::string path = dir / name;
        WriteFile(path, bytes);
        return path;
    }
    TempDir dir;
    TWaveFileReader reader;
    double left[4096], right[4096];
};

TEST_F(Reader, SixteenByteFmtFillsEveryFieldButCbSize)
{
    ASSERT_TRUE(reader.Open(Make(PcmWav(2, 44100, 16, {1, 2, 3, 4}))));
    EXPECT_EQ(reader.Format.wFormatTag, 1);
    EXPECT_EQ(reader.Format.nChannels, 2);
    EXPECT_EQ(reader.Format.nSamplesPerSec, 44100u);
    EXPECT_EQ(reader.Format.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(reader.Format.nBlockAlign, 4);
    EXPECT_EQ(reader.Format.wBitsPerSample, 16);
    EXPECT_EQ(reader.Format.cbSize, 0);
    EXPECT_EQ(reader.DataStart, 44);
    EXPECT_EQ(reader.DataSize, 8u);
    EXPECT_EQ(reader.FrameCount, 2u);
}

TEST_F(Reader, LongFmtBodiesAreCutTo18BytesAndCbSizeReadsZero)
{
    Bytes fmt18 = FmtBody(1, 2, 8000, 8, 0, 18);
    fmt18[16] = 0x22;  // a cbSize the file claims
    ASSERT_TRUE(reader.Open(Make(Riff({Chunk("fmt ", fmt18), Chunk("data", {0, 255})}))));
    EXPECT_EQ(reader.Format.cbSize, 0);

    // A 40-byte body with an unknown tag: decoded by the bit depth alone.
    Bytes fmt40 = FmtBody(0xABCD, 2, 8000, 16, 0, 40);
    ASSERT_TRUE(reader.Open(Make(Riff({Chunk("fmt ", fmt40), Chunk("data", PcmData({0x4000, -0x4000}, 16))}))));
    EXPECT_EQ(reader.Format.wFormatTag, 0xABCD);
    EXPECT_EQ(reader.DataStart, 12 + 48 + 8);
    ASSERT_EQ(reader.Read(left, right, 10), 1u);
    EXPECT_EQ(left[0], 0.5);
    EXPECT_EQ(right[0], -0.5);
}

TEST_F(Reader, SampleCodesMapExactly)
{
    ASSERT_TRUE(reader.Open(Make(PcmWav(2, 8000, 8, {0x00, 0x80, 0xFF, 0x01}))));
    ASSERT_EQ(reader.Read(left, right, 2), 2u);
    EXPECT_EQ(left[0], -1.0);
    EXPECT_EQ(right[0], 0.0);
    EXPECT_EQ(left[1], 0.9921875);
    EXPECT_EQ(right[1], -0.9921875);

    ASSERT_TRUE(reader.Open(Make(PcmWav(2, 8000, 16, {-32768, 32767}))));
    ASSERT_EQ(reader.Read(left, right, 1), 1u);
    EXPECT_EQ(left[0], -1.0);
    EXPECT_EQ(right[0], 0.999969482421875);

    Bytes data = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF};
    ASSERT_TRUE(reader.Open(Make(Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 24)), Chunk("data", data)}))));
    ASSERT_EQ(reader.Read(left, right, 2), 2u);
    EXPECT_EQ(left[0], -1.0);
    EXPECT_EQ(right[0], 0.99999988079071044921875);
    EXPECT_EQ(left[1], 1.0 / 8388608);
    EXPECT_EQ(right[1], -1.0 / 8388608);
}

TEST_F(Reader, MonoGoesToBothSides)
{
    ASSERT_TRUE(reader.Open(Make(PcmWav(1, 8000, 16, {100, -200, 300}))));
    ASSERT_EQ(reader.Read(left, right, 3), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(left[i], right[i]);
    }
    EXPECT_EQ(left[1], -200.0 / 32768);
}

TEST_F(Reader, ChunkWalkSkipsPadBytesAndNeverReadsBeyondData)
{
    const Bytes odd = {1, 2, 3};
    const std::string path = Make(Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16)), Chunk("LIST", odd),
                                        Chunk("data", PcmData({1, 2, 3, 4}, 16)), Chunk("junk", Bytes(64, 0x55))}));
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.FrameCount, 2u);
    EXPECT_EQ(reader.Read(left, right, 100), 2u);
    EXPECT_EQ(reader.Read(left, right, 100), 0u);
    EXPECT_EQ(reader.GetPosition(), 1.0);
}

TEST_F(Reader, ReadsInBlocksUntilTheEnd)
{
    std::vector<int32_t> codes(2 * 2148);
    for (size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<int32_t>(i % 3000) - 1500;
    ASSERT_TRUE(reader.Open(Make(PcmWav(2, 44100, 16, codes))));
    EXPECT_EQ(reader.Read(left, right, 2048), 2048u);
    EXPECT_EQ(reader.Read(left, right, 2048), 100u);
    EXPECT_EQ(left[99], codes[2 * 2147] / 32768.0);
    EXPECT_EQ(reader.Read(left, right, 2048), 0u);
    reader.Rewind();
    EXPECT_EQ(reader.GetPosition(), 0.0);
    EXPECT_EQ(reader.Read(left, right, 1), 1u);
    EXPECT_EQ(left[0], -1500 / 32768.0);
}

TEST_F(Reader, SetPositionMovesByFramesAndIgnoresBadFractions)
{
    std::vector<int32_t> codes(2 * 1001);
    for (size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<int32_t>(i / 2);
    ASSERT_TRUE(reader.Open(Make(PcmWav(2, 8000, 16, codes))));
    reader.SetPosition(0.5);
    ASSERT_EQ(reader.Read(left, right, 1), 1u);
    EXPECT_EQ(left[0], 500 / 32768.0);
    const double here = reader.GetPosition();
    for (double bad : {-0.1, 1.5, std::numeric_limits<double>::quiet_NaN()}) {
        reader.SetPosition(bad);
        EXPECT_EQ(reader.GetPosition(), here) << bad;
    }
    reader.SetPosition(1.0);
    EXPECT_EQ(reader.Read(left, right, 10), 0u);
}

TEST_F(Reader, TruncatedDataDeliversWhatArrivedAndNoPartialFrame)
{
    // The data chunk claims 100 frames; 3 frames and a half arrive.
    Bytes data = PcmData({1, 2, 3, 4, 5, 6, 7}, 16);
    ASSERT_TRUE(reader.Open(Make(Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16)), ChunkStated("data", 400, data)}))));
    EXPECT_EQ(reader.FrameCount, 100u);
    EXPECT_EQ(reader.Read(left, right, 2048), 3u);
    EXPECT_EQ(reader.Read(left, right, 2048), 0u);
    EXPECT_LT(reader.GetPosition(), 1.0);

    // A size that is not a whole number of frames: the partial frame is never delivered.
    ASSERT_TRUE(reader.Open(Make(Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16)), Chunk("data", data)}))));
    EXPECT_EQ(reader.FrameCount, 3u);
    EXPECT_EQ(reader.Read(left, right, 2048), 3u);
    EXPECT_EQ(reader.Read(left, right, 2048), 0u);
}

TEST_F(Reader, ClosedAndEmptyReadersReportNothing)
{
    EXPECT_EQ(reader.GetPosition(), 0.0);
    EXPECT_EQ(reader.Read(left, right, 10), 0u);
    reader.SetPosition(0.5);
    reader.Rewind();
    ASSERT_TRUE(reader.Open(Make(Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16)), Chunk("data", {})}))));
    EXPECT_EQ(reader.GetPosition(), 0.0);
    EXPECT_EQ(reader.Read(left, right, 10), 0u);
}

struct Refusal {
    const char* what;
    Bytes bytes;
    WaveOpenError error;
};

class ReaderRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(ReaderRefuses, AndIsLeftClosedWithClearedFields)
{
    TempDir dir;
    const std::string good = dir / "good.wav";
    WriteFile(good, PcmWav(2, 44100, 16, {1, 2, 3, 4}));
    const std::string bad = dir / "bad.wav";
    WriteFile(bad, GetParam().bytes);

    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(good));
    EXPECT_FALSE(reader.Open(bad));
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(reader.LastError(), GetParam().error);
    double l[4], r[4];
    EXPECT_EQ(reader.Read(l, r, 4), 0u);
}

const Bytes Fmt16 = FmtBody(1, 2, 44100, 16);
const Bytes SomeData = PcmData({1, 2}, 16);

INSTANTIATE_TEST_SUITE_P(
    Files, ReaderRefuses,
    ::testing::Values(
        Refusal{"empty", {}, WaveOpenError::NotRiffWave},
        Refusal{"short", {'R', 'I', 'F', 'F', 0, 0}, WaveOpenError::NotRiffWave},
        Refusal{"not RIFF", Bytes{'R', 'I', 'F', 'X', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}, WaveOpenError::NotRiffWave},
        Refusal{"not WAVE", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '}, WaveOpenError::NotRiffWave},
        Refusal{"no fmt", Riff({Chunk("data", SomeData)}), WaveOpenError::UnsupportedFormat},
        Refusal{"no data", Riff({Chunk("fmt ", Fmt16)}), WaveOpenError::UnsupportedFormat},
        Refusal{"data before fmt", Riff({Chunk("data", SomeData), Chunk("fmt ", Fmt16)}),
                WaveOpenError::UnsupportedFormat},
        Refusal{"short fmt", Riff({Chunk("fmt ", Bytes(Fmt16.begin(), Fmt16.begin() + 8)), Chunk("data", SomeData)}),
                WaveOpenError::UnsupportedFormat},
        Refusal{"zero channels", Riff({Chunk("fmt ", FmtBody(1, 0, 44100, 16, 4)), Chunk("data", SomeData)}),
                WaveOpenError::UnsupportedFormat},
        Refusal{"block align", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16, 3)), Chunk("data", SomeData)}),
                WaveOpenError::UnsupportedFormat},
        Refusal{"zero block align", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 0, 0)), Chunk("data", SomeData)}),
                WaveOpenError::UnsupportedFormat},
        Refusal{"zero rate", Riff({Chunk("fmt ", FmtBody(1, 2, 0, 16)), Chunk("data", SomeData)}),
                WaveOpenError::UnsupportedFormat},
        Refusal{"huge rate", Riff({Chunk("fmt ", FmtBody(1, 2, 0x80000000u, 16)), Chunk("data", SomeData)}),
                WaveOpenError::UnsupportedFormat},
        Refusal{"12 bits", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 12, 4)), Chunk("data", SomeData)}),
                WaveOpenError::UnsupportedFormat}));

TEST(ReaderFiles, MissingFileAndFolderCannotBeOpened)
{
    TempDir dir;
    TWaveFileReader reader;
    EXPECT_FALSE(reader.Open(dir / "missing.wav"));
    EXPECT_EQ(reader.LastError(), WaveOpenError::CannotOpen);
    EXPECT_FALSE(reader.Open(dir.path().string()));
    EXPECT_EQ(reader.LastError(), WaveOpenError::CannotOpen);
}

// A named pipe or a terminal would block the opening or the reading until someone else acts:
// it is refused at once, written to or not.
TEST(ReaderFiles, PipesAndDevicesAreRefusedWithoutWaiting)
{
    TempDir dir;
    const std::string fifo = dir / "pipe.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        auto opened = std::async(std::launch::async, [path] {
            TWaveFileReader reader;
            const bool ok = reader.Open(path);
            return std::make_pair(ok, reader.LastError());
        });
        if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            // Release the blocked open so the test ends, then fail.
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
            ADD_FAILURE() << path << ": Open blocked";
            opened.wait();
            continue;
        }
        const auto [ok, error] = opened.get();
        EXPECT_FALSE(ok) << path;
        EXPECT_EQ(error, WaveOpenError::CannotOpen) << path;
    }
}

TEST(ReaderFiles, TensOfThousandsOfEmptyChunksAreWalkedQuickly)
{
    TempDir dir;
    std::vector<Bytes> chunks = {Chunk("fmt ", FmtBody(1, 2, 44100, 16))};
    for (int i = 0; i < 50000; ++i) chunks.push_back(Chunk("pad ", {}));
    chunks.push_back(Chunk("data", PcmData({5, 6}, 16)));
    WriteFile(dir / "many.wav", Riff(chunks));
    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(dir / "many.wav"));
    EXPECT_EQ(reader.FrameCount, 1u);
}

// ---- writer ----

class Writer : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir / "out.wav";
    TWaveFileWriter writer;
};

TEST_F(Writer, EmptyMonoFileIsTheExact46ByteHeader)
{
    ASSERT_TRUE(writer.Create(path, 44100, 16, 1));
    EXPECT_TRUE(writer.Close());
    const Bytes expected = {0x52, 0x49, 0x46, 0x46, 0x26, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45,
                            0x66, 0x6D, 0x74, 0x20, 0x12, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
                            0x44, 0xAC, 0x00, 0x00, 0x88, 0x58, 0x01, 0x00, 0x02, 0x00, 0x10, 0x00,
                            0x00, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(Writer, SixteenBitCodesClipAndRoundHalvesUp)
{
    ASSERT_TRUE(writer.Create(path, 8000, 16, 1));
    const double samples[] = {-1.0, 0.0, 1.0, 1.5, -1.5, 1.0 / 65536, -1.0 / 65536,
                              std::numeric_limits<double>::quiet_NaN()};
    EXPECT_TRUE(writer.Write(samples, 8));
    EXPECT_TRUE(writer.Close());
    const Bytes bytes = ReadFile(path);
    const Bytes data(bytes.begin() + 46, bytes.end());
    EXPECT_EQ(data, PcmData({-32768, 0, 32767, 32767, -32768, 1, 0, -32768}, 16));
}

TEST_F(Writer, EightBitOddLengthGetsPadByte)
{
    ASSERT_TRUE(writer.Create(path, 8000, 8, 1));
    const double samples[] = {-1.0, 0.0, 1.0};
    EXPECT_TRUE(writer.Write(samples, 3));
    EXPECT_TRUE(writer.Close());
    const Bytes bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 50u);
    EXPECT_EQ(Bytes(bytes.begin() + 42, bytes.begin() + 46), (Bytes{3, 0, 0, 0}));
    EXPECT_EQ(Bytes(bytes.begin() + 4, bytes.begin() + 8), (Bytes{42, 0, 0, 0}));
    EXPECT_EQ(Bytes(bytes.begin() + 46, bytes.end()), (Bytes{0, 128, 255, 0}));
}

TEST_F(Writer, TwentyFourBitAndTwoChannels)
{
    ASSERT_TRUE(writer.Create(path, 8000, 24, 2));
    EXPECT_EQ(writer.Format.nBlockAlign, 6);
    const double samples[] = {0.5, -1.0};
    EXPECT_TRUE(writer.Write(samples, 2));
    EXPECT_TRUE(writer.Close());
    const Bytes bytes = ReadFile(path);
    EXPECT_EQ(Bytes(bytes.begin() + 46, bytes.end()),
              (Bytes{0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00, 0x80, 0x00, 0x00, 0x80}));

    ASSERT_TRUE(writer.Create(path, 8000, 16, 2));
    EXPECT_EQ(writer.Format.nBlockAlign, 4);
}

TEST_F(Writer, CreateCompletesThePreviousFileAndWriteNeedsAFile)
{
    const double none[] = {0.0};
    EXPECT_FALSE(writer.Write(none, 1));
    ASSERT_TRUE(writer.Create(path, 8000, 16, 1));
    const double samples[] = {0.25, 0.5, 0.75};
    ASSERT_TRUE(writer.Write(samples, 3));
    ASSERT_TRUE(writer.Create(dir / "second.wav", 8000, 16, 1));
    EXPECT_TRUE(writer.Close());
    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.DataSize, 6u);
    EXPECT_EQ(reader.FrameCount, 3u);
}

TEST_F(Writer, UnsupportedDepthWritesNothing)
{
    ASSERT_TRUE(writer.Create(path, 8000, 12, 1));
    const double samples[] = {0.5};
    EXPECT_FALSE(writer.Write(samples, 1));
    EXPECT_TRUE(writer.Write(samples, 0));
}

TEST_F(Writer, FullDeviceIsReportedAtWriteOrClose)
{
    ASSERT_TRUE(writer.Create("/dev/full", 8000, 16, 1));
    std::vector<double> samples(100000, 0.1);
    const bool wrote = writer.Write(samples.data(), static_cast<uint32_t>(samples.size()));
    const bool closed = writer.Close();
    EXPECT_FALSE(wrote && closed);
    EXPECT_FALSE(closed);
}

TEST(WriterRoundTrip, ReaderDecodesWhatTheWriterWrote)
{
    TempDir dir;
    for (int bits : {8, 16, 24}) {
        TWaveFileWriter writer;
        ASSERT_TRUE(writer.Create(dir / "rt.wav", 22050, bits, 2));
        std::vector<double> samples(3000);
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = std::ldexp(std::round(std::sin(i * 0.01) * std::ldexp(0.9, bits - 1)), 1 - bits);
        }
        ASSERT_TRUE(writer.Write(samples.data(), 3000));
        ASSERT_TRUE(writer.Close());
        TWaveFileReader reader;
        ASSERT_TRUE(reader.Open(dir / "rt.wav"));
        std::vector<double> l(3000), r(3000);
        ASSERT_EQ(reader.Read(l.data(), r.data(), 3000), 3000u);
        EXPECT_EQ(l, samples) << bits;
        EXPECT_EQ(r, samples) << bits;
    }
}

// ---- an independent implementation: sox ----

TEST(Sox, FilesMadeBySoxDecodeToWhatSoxDecodes)
{
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    struct Made {
        const char* name;
        const char* options;
    };
    // -t wavpcm gives the plain 16-byte "fmt "; sox writes the 40-byte extensible form for 24 bits.
    for (const Made& m : {Made{"u8.wav", "-t wavpcm -b 8 -e unsigned-integer"}, Made{"s16.wav", "-t wavpcm -b 16"},
                          Made{"s24.wav", "-t wavpcm -b 24"}, Made{"s24x.wav", "-t wav -b 24"},
                          Made{"s16x.wav", "-t wav -b 16 -c 2 -r 96000"}}) {
        const std::string path = dir / m.name;
        const std::string make = std::string("sox -n -r 44100 -c 2 ") + m.options + " '" + path +
                                 "' synth 0.2 sine 440 sine 1234 vol 0.9 2>/dev/null";
        ASSERT_EQ(std::system(make.c_str()), 0) << make;
        const std::vector<double> expected = SoxDecode(path);
        ASSERT_FALSE(expected.empty());
        TWaveFileReader reader;
        ASSERT_TRUE(reader.Open(path)) << m.name;
        std::vector<double> decoded;
        double l[2048], r[2048];
        while (uint32_t n = reader.Read(l, r, 2048)) {
            for (uint32_t i = 0; i < n; ++i) {
                decoded.push_back(l[i]);
                decoded.push_back(r[i]);
            }
        }
        EXPECT_EQ(decoded, expected) << m.name;
    }
}

TEST(Sox, FilesWrittenByOurWriterDecodeInSoxToOurSamples)
{
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
    TempDir dir;
    for (int bits : {8, 16, 24}) {
        const std::string path = dir / ("w" + std::to_string(bits) + ".wav");
        TWaveFileWriter writer;
        ASSERT_TRUE(writer.Create(path, 44100, bits, 1));
        std::vector<double> samples(4001);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = std::sin(i * 0.003) * 0.99;
        ASSERT_TRUE(writer.Write(samples.data(), 4001));
        ASSERT_TRUE(writer.Close());
        TWaveFileReader reader;
        ASSERT_TRUE(reader.Open(path));
        std::vector<double> l(4001), r(4001);
        ASSERT_EQ(reader.Read(l.data(), r.data(), 4001), 4001u);
        EXPECT_EQ(SoxDecode(path), l) << bits;
    }
}

}  // namespace
