// Malformed and unusual sources, built byte by byte. Each one either opens and renders exactly
// the frames it holds, or is refused with a reason; through the core render and through
// marlowin-render alike. None may crash, hang, or allocate by a size the file claims.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "AllocationProbe.h"
#include "RenderRunner.h"
#include "TestFiles.h"
#include "WavBuilder.h"
#include "dsp/RenderJob.h"
#include "dsp/VocalCancelMixer.h"
#include "wave/Wavefile.h"

using namespace wavtest;
namespace fs = std::filesystem;

namespace {

// Far below every size the cases claim; well above a block buffer and a stream buffer.
constexpr size_t AllocationBound = 1 << 20;

struct Case {
    std::string name;
    Bytes bytes;
    // Refused: the reader's reason, and what marlowin-render's line gives after "in.wav: ".
    WaveOpenError error = WaveOpenError::None;
    std::string message;
    // Opened: the frames a render writes, and the channel count the file states.
    uint64_t frames = 0;
    uint16_t channels = 2;
};

Case Refused(std::string name, Bytes bytes, WaveOpenError error, std::string message)
{
    return {std::move(name), std::move(bytes), error, std::move(message)};
}
Case Opens(std::string name, Bytes bytes, uint64_t frames, uint16_t channels = 2)
{
    return {std::move(name), std::move(bytes), WaveOpenError::None, {}, frames, channels};
}

// n frames of varied 16-bit stereo codes.
Bytes Stereo16(uint32_t n)
{
    std::vector<int32_t> codes;
    for (uint32_t i = 0; i < 2 * n; ++i) codes.push_back(static_cast<int32_t>((i * 7919u) % 60000u) - 30000);
    return PcmData(codes, 16);
}

Bytes Fmt16() { return FmtBody(1, 2, 44100, 16); }

Bytes Prefix(Bytes b, size_t n)
{
    b.resize(n);
    return b;
}

// A 16-byte PCM record with one field overwritten (offset, value, width in bytes).
Bytes FmtWith(size_t offset, uint32_t value, int width)
{
    Bytes b = Fmt16();
    for (int i = 0; i < width; ++i) b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    return b;
}

// Riff() computes the size when asked for 0; this states 0 for real.
Bytes ZeroRiffSize(Bytes b)
{
    std::fill(b.begin() + 4, b.begin() + 8, 0);
    return b;
}

// The bytes of a literal, embedded zeros included.
template <size_t N>
Bytes Text(const char (&s)[N])
{
    return Bytes(s, s + N - 1);
}

Bytes Concat(std::vector<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts) Append(all, p);
    return all;
}

Bytes Rf64(const std::vector<Bytes>& chunks)
{
    Bytes b = Riff(chunks, 0xFFFFFFFF);
    std::memcpy(b.data(), "RF64", 4);
    return b;
}

Bytes Ds64(uint64_t dataSize)
{
    Bytes b;
    for (uint64_t v : {uint64_t{0}, dataSize, uint64_t{0}}) {
        Put32(b, static_cast<uint32_t>(v));
        Put32(b, static_cast<uint32_t>(v >> 32));
    }
    Put32(b, 0);
    return Chunk("ds64", b);
}

std::vector<Case> Cases()
{
    const auto NotWave = WaveOpenError::NotRiffWave;
    const auto Unsupported = WaveOpenError::UnsupportedFormat;
    const std::string notRiff = "not a RIFF/WAVE file";
    const std::string noFmt = "unsupported format (no \"fmt \" chunk)";
    const std::string noData = "unsupported format (no \"data\" chunk)";
    const std::string shortFmt = "unsupported format (the \"fmt \" chunk is too short)";

    std::vector<Bytes> chunks = {Chunk("fmt ", Fmt16())};
    for (int i = 0; i < 40000; ++i) chunks.push_back(Chunk("JUNK", {}));
    chunks.push_back(Chunk("data", Stereo16(20)));
    for (int i = 0; i < 20000; ++i) chunks.push_back(Chunk("PAD ", {}));

    Bytes partial = Stereo16(100);
    partial.resize(partial.size() - 3);

    Bytes manyChannels = FmtBody(1, 65535, 8000, 8);

    return {
        // Too short for a RIFF/WAVE header, or another kind of file.
        Refused("Empty", {}, NotWave, notRiff),
        Refused("ThreeBytes", Text("RIF"), NotWave, notRiff),
        Refused("ElevenBytes", Text("RIFF\x04\0\0\0WAV"), NotWave, notRiff),
        Refused("BigEndianRifx", Text("RIFX\x04\0\0\0WAVE"), NotWave, notRiff),
        Refused("NotWave", Text("RIFF\x04\0\0\0AVI "), NotWave, notRiff),
        // Header only, or cut inside the first chunk.
        Refused("HeaderOnly", Riff({}), Unsupported, noFmt),
        Refused("CutInChunkHeader", Concat({Riff({}), Text("fmt \x10\0")}), Unsupported, noFmt),
        Refused("CutInFmtBody", Concat({Riff({}), ChunkStated("fmt ", 16, Prefix(Fmt16(), 8))}),
                Unsupported, noData),
        // Missing, repeated and misordered chunks.
        Refused("NoFmt", Riff({Chunk("data", Stereo16(4))}), Unsupported, noFmt),
        Refused("NoData", Riff({Chunk("fmt ", Fmt16())}), Unsupported, noData),
        Refused("DataBeforeFmt", Riff({Chunk("data", Stereo16(4)), Chunk("fmt ", Fmt16())}), Unsupported,
                "unsupported format (the \"data\" chunk comes before the \"fmt \" chunk)"),
        Opens("RepeatedFmtTheLastCounts",
              Riff({Chunk("fmt ", FmtBody(1, 2, 22050, 8)), Chunk("fmt ", Fmt16()), Chunk("data", Stereo16(100))}),
              100),
        Opens("RepeatedDataTheLastCounts",
              Riff({Chunk("fmt ", Fmt16()), Chunk("data", Stereo16(10)), Chunk("data", Stereo16(30))}), 30),
        // "fmt " bodies of 0, 8 and huge sizes.
        Refused("Fmt0", Riff({Chunk("fmt ", {}), Chunk("data", Stereo16(4))}), Unsupported, shortFmt),
        Refused("Fmt8", Riff({Chunk("fmt ", Prefix(Fmt16(), 8)), Chunk("data", Stereo16(4))}),
                Unsupported, shortFmt),
        Refused("FmtHugeStatedSize",
                Riff({ChunkStated("fmt ", 0xFFFFFFF0, Fmt16()), Chunk("data", Stereo16(4))}), Unsupported, noData),
        Opens("FmtHugeRealBody", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16, 0, 300000)), Chunk("data", Stereo16(50))}),
              50),
        // Degenerate format fields.
        Refused("ZeroChannels", Riff({Chunk("fmt ", FmtWith(2, 0, 2)), Chunk("data", Stereo16(4))}), Unsupported,
                "unsupported format (0 channels)"),
        Refused("ZeroBits", Riff({Chunk("fmt ", FmtWith(14, 0, 2)), Chunk("data", Stereo16(4))}), Unsupported,
                "unsupported format (format tag 0x0001 with 0 bits per sample cannot be decoded)"),
        Refused("ZeroBlockAlign", Riff({Chunk("fmt ", FmtWith(12, 0, 2)), Chunk("data", Stereo16(4))}), Unsupported,
                "unsupported format (block align 0 does not match 2 channels of 16 bits)"),
        Refused("InconsistentBlockAlign", Riff({Chunk("fmt ", FmtWith(12, 6, 2)), Chunk("data", Stereo16(4))}),
                Unsupported, "unsupported format (block align 6 does not match 2 channels of 16 bits)"),
        Refused("ZeroRate", Riff({Chunk("fmt ", FmtWith(4, 0, 4)), Chunk("data", Stereo16(4))}), Unsupported,
                "unsupported format (sample rate 0 is out of range)"),
        Refused("RateAboveInt32", Riff({Chunk("fmt ", FmtWith(4, 0x80000000u, 4)), Chunk("data", Stereo16(4))}),
                Unsupported, "unsupported format (sample rate 2147483648 is out of range)"),
        Refused("RateAllOnes", Riff({Chunk("fmt ", FmtWith(4, 0xFFFFFFFFu, 4)), Chunk("data", Stereo16(4))}),
                Unsupported, "unsupported format (sample rate 4294967295 is out of range)"),
        Opens("RateOne", Riff({Chunk("fmt ", FmtWith(4, 1, 4)), Chunk("data", Stereo16(300))}), 300),
        Opens("RateInt32Max", Riff({Chunk("fmt ", FmtWith(4, 0x7FFFFFFF, 4)), Chunk("data", Stereo16(300))}), 300),
        Opens("Mono", Riff({Chunk("fmt ", FmtBody(1, 1, 44100, 16)), Chunk("data", Stereo16(50))}), 100, 1),
        Opens("SixtyFiveThousandChannels",
              Riff({Chunk("fmt ", manyChannels), Chunk("data", Bytes(3 * 65535, 0x90))}), 3, 65535),
        // Chunk sizes that run past the end or would wrap a 32-bit offset.
        Refused("ChunkPastEndBeforeData",
                Riff({Chunk("fmt ", Fmt16()), ChunkStated("LIST", 0x7FFFFFFF, Text("INFO")), Chunk("data", Stereo16(4))}),
                Unsupported, noData),
        // 36 + 8 + size wraps to 12 in 32 bits: a walk in 32-bit offsets would loop forever.
        Refused("ChunkSizeWrapsTo32BitStart",
                Riff({Chunk("fmt ", Fmt16()), ChunkStated("LIST", 0xFFFFFFE0u, {}), Chunk("data", Stereo16(4))}),
                Unsupported, noData),
        Opens("ChunkAfterDataPastEnd",
              Riff({Chunk("fmt ", Fmt16()), Chunk("data", Stereo16(100)), ChunkStated("LIST", 0xFFFFFFFF, {})}), 100),
        // An odd chunk without its pad byte: the next header is found one byte early by its id.
        Opens("OddChunkWithoutPad",
              Riff({Chunk("fmt ", Fmt16()), Chunk("LIST", Text("INFOx"), false), Chunk("data", Stereo16(40))}), 40),
        Opens("OddChunkWithPad",
              Riff({Chunk("fmt ", Fmt16()), Chunk("LIST", Text("INFOx")), Chunk("data", Stereo16(40))}), 40),
        Opens("TensOfThousandsOfEmptyChunks", Riff(chunks), 20),
        // Data sizes.
        Opens("DataSize0", Riff({Chunk("fmt ", Fmt16()), Chunk("data", {})}), 0),
        Opens("DataSizeAllOnes", Riff({Chunk("fmt ", Fmt16()), ChunkStated("data", 0xFFFFFFFF, Stereo16(100))}), 100),
        Opens("DataPastEnd", Riff({Chunk("fmt ", Fmt16()), ChunkStated("data", 400000, Stereo16(100))}), 100),
        Opens("DataPastEndInsideAFrame", Riff({Chunk("fmt ", Fmt16()), ChunkStated("data", 400000, partial)}), 99),
        Opens("PartialLastFrame", Riff({Chunk("fmt ", Fmt16()), Chunk("data", partial)}), 99),
        Opens("TrailingGarbage",
              Concat({Riff({Chunk("fmt ", Fmt16()), Chunk("data", Stereo16(100))}), Bytes(5001, 0xA5)}), 100),
        // The RIFF size is not used.
        Opens("RiffSizeZero", ZeroRiffSize(Riff({Chunk("fmt ", Fmt16()), Chunk("data", Stereo16(100))})), 100),
        Opens("RiffSizeAllOnes", Riff({Chunk("fmt ", Fmt16()), Chunk("data", Stereo16(100))}, 0xFFFFFFFF), 100),
        // 64-bit sizes.
        Refused("Rf64WithoutDs64", Rf64({Chunk("fmt ", Fmt16()), ChunkStated("data", 0xFFFFFFFF, Stereo16(10))}),
                Unsupported,
                "unsupported format (the \"data\" chunk's size "),
        Refused("Rf64ImpossibleSize",
                Rf64({Ds64(0xFFFFFFFFFFFFFFF0ull), Chunk("fmt ", Fmt16()), ChunkStated("data", 0xFFFFFFFF, Stereo16(10))}),
                Unsupported, "unsupported format (the stated data size is impossibly large)"),
        Opens("Rf64HugeSize",
              Rf64({Ds64(1ull << 40), Chunk("fmt ", Fmt16()), ChunkStated("data", 0xFFFFFFFF, Stereo16(10))}), 10),
    };
}

class Malformed : public ::testing::TestWithParam<Case> {
protected:
    TempDir dir;
    std::string source = dir / "in.wav";
    std::string output = dir / "out.wav";

    // The frames of a finished mono 16-bit output, read back by our own reader.
    uint64_t OutputFrames()
    {
        TWaveFileReader out;
        EXPECT_TRUE(out.Open(output));
        EXPECT_EQ(out.Format.nChannels, 1);
        EXPECT_EQ(fs::file_size(output), 46 + 2 * out.FrameCount);
        return out.FrameCount;
    }
};

TEST_P(Malformed, CoreOpensAndRendersTheFramesPresentOrRefuses)
{
    const Case& c = GetParam();
    WriteFile(source, c.bytes);
    TWaveFileReader reader;
    const auto start = std::chrono::steady_clock::now();
    allocprobe::Reset();
    const bool opened = reader.Open(source);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    if (c.error != WaveOpenError::None) {
        EXPECT_FALSE(opened);
        EXPECT_FALSE(reader.IsOpen());
        EXPECT_EQ(reader.LastError(), c.error);
        EXPECT_LE(allocprobe::Largest(), AllocationBound);
        return;
    }
    ASSERT_TRUE(opened) << reader.LastErrorDetail();
    EXPECT_EQ(reader.Format.nChannels, c.channels);
    auto mixer = std::make_unique<VocalCancelMixer>();
    mixer->PrepareFilters(reader.Format.nSamplesPerSec);
    MixParameters params;
    params.lowCutoff = 200.0 < reader.Format.nSamplesPerSec * 0.5 ? 200.0 : reader.Format.nSamplesPerSec * 0.5 - 1;
    params.highCutoff = params.lowCutoff;
    params.mixLevel = 0.3;
    std::vector<int> progress;
    allocprobe::Reset();
    const RenderStatus status =
        RenderToFile(reader, source, *mixer, output, params, [&](int v) { progress.push_back(v); });
    EXPECT_LE(allocprobe::Largest(), AllocationBound);
    ASSERT_EQ(status, RenderStatus::Ok);
    EXPECT_EQ(OutputFrames(), c.frames);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GE(progress.front(), 0);
    EXPECT_LE(progress.back(), 100);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"}));
}

TEST_P(Malformed, CommandLineRendersTheFramesPresentOrNamesTheReason)
{
    const Case& c = GetParam();
    WriteFile(source, c.bytes);
    const auto result = hardening::RunRender({"-q", source, output}, dir.path().string());
    EXPECT_EQ(result.signal, 0) << result.err;

    std::string expected;
    if (c.error != WaveOpenError::None) {
        expected = c.message;
    } else if (c.channels != 2) {
        expected = "not stereo (" + std::to_string(c.channels) + (c.channels == 1 ? " channel" : " channels") +
                   "); only 2-channel sources can be processed";
    }
    if (expected.empty()) {
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(OutputFrames(), c.frames);
        EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"}));
    } else {
        // One line that names the file and gives the reason.
        EXPECT_EQ(result.status, 1);
        const std::string prefix = "marlowin-render: " + source + ": ";
        EXPECT_EQ(result.err.compare(0, prefix.size(), prefix), 0) << result.err;
        EXPECT_NE(result.err.find(expected, prefix.size()), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.err.back(), '\n');
        EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.wav"}));
    }
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Sources, Malformed, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// A file too large to hold in a test folder cannot be built; its header alone can. The reader
// must refuse or open it without reading or allocating by the size it claims.
TEST(MalformedLimits, ReadOfAHugeClaimedSizeStaysBounded)
{
    TempDir dir;
    WriteFile(dir / "in.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16)), ChunkStated("data", 0xFFFFFFFF, Stereo16(3))}));
    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(dir / "in.wav"));
    EXPECT_EQ(reader.FrameCount, 0xFFFFFFFFu / 4);
    std::vector<double> left(BlockFrames), right(BlockFrames);
    allocprobe::Reset();
    EXPECT_EQ(reader.Read(left.data(), right.data(), BlockFrames), 3u);
    EXPECT_EQ(reader.Read(left.data(), right.data(), BlockFrames), 0u);
    EXPECT_LE(allocprobe::Largest(), AllocationBound);
    EXPECT_LT(reader.GetPosition(), 1e-6);
    reader.SetPosition(1.0);
    EXPECT_EQ(reader.Read(left.data(), right.data(), BlockFrames), 0u);
}

}  // namespace
