// marlowin-render as a user runs it: exit statuses, one-line failures, output options.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "CliRunner.h"
#include "dsp/ControlValues.h"
#include "dsp/RenderJob.h"
#include "dsp/VocalCancelMixer.h"
#include "wave/Wavefile.h"

namespace {

using namespace wavtest;
namespace fs = std::filesystem;

class Cli : public ::testing::Test {
protected:
    CliResult Run(const std::vector<std::string>& args, long fileSizeLimit = 0)
    {
        return RunRender(args, io.path().string(), fileSizeLimit);
    }
    std::string Good(const std::string& name = "good.wav", uint32_t frames = 20000)
    {
        const std::string path = dir / name;
        WriteFile(path, MusicWav(frames));
        return path;
    }
    TempDir dir;
    TempDir io;
};

struct FailureKind {
    const char* name;
    // Prepares the case in dir and returns {input, output}.
    std::pair<std::string, std::string> (*prepare)(const TempDir& dir);
    const char* reason;
    long fileSizeLimit;
    bool namesOutput;  // the line names the output rather than the input
};

std::pair<std::string, std::string> Missing(const TempDir& d) { return {d / "nope.wav", d / "out.wav"}; }
std::pair<std::string, std::string> NotRiff(const TempDir& d)
{
    WriteFile(d / "text.wav", Bytes(40, 'x'));
    return {d / "text.wav", d / "out.wav"};
}
std::pair<std::string, std::string> Mono(const TempDir& d)
{
    WriteFile(d / "mono.wav", PcmWav(1, 44100, 16, std::vector<int32_t>(100, 5)));
    return {d / "mono.wav", d / "out.wav"};
}
std::pair<std::string, std::string> Adpcm(const TempDir& d)
{
    WriteFile(d / "adpcm.wav", Riff({Chunk("fmt ", FmtBody(2, 2, 44100, 4, 2048)), Chunk("data", Bytes(4096, 1))}));
    return {d / "adpcm.wav", d / "out.wav"};
}
std::pair<std::string, std::string> NoFolder(const TempDir& d)
{
    WriteFile(d / "in.wav", MusicWav(1000));
    return {d / "in.wav", d / "no-such-folder/out.wav"};
}
std::pair<std::string, std::string> SameFile(const TempDir& d)
{
    WriteFile(d / "in.wav", MusicWav(1000));
    fs::create_directory(d.path() / "sub");
    return {d / "in.wav", d / "sub/../in.wav"};
}
std::pair<std::string, std::string> Big(const TempDir& d)
{
    WriteFile(d / "in.wav", MusicWav(60000));
    return {d / "in.wav", d / "out.wav"};
}

class Failures : public Cli, public ::testing::WithParamInterface<FailureKind> {};

TEST_P(Failures, OneLineNamingTheFileAndReasonExitOneNothingLeftBehind)
{
    const FailureKind& k = GetParam();
    const auto [input, output] = k.prepare(dir);
    const Bytes before = ReadFile(input);
    const auto entriesBefore = FolderEntries(dir.path());
    // The size limit leaves room for the source to be read but not for the output to grow.
    const CliResult r = Run({input, output}, k.fileSizeLimit);
    EXPECT_EQ(r.status, 1) << r.err;
    const auto lines = r.ErrLines();
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(lines[0], "marlowin-render: " + (k.namesOutput ? output : input) + ": " + k.reason) << k.name;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(FolderEntries(dir.path()), entriesBefore);  // no output, no temporary file
    EXPECT_EQ(ReadFile(input), before);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Failures,
    ::testing::Values(
        FailureKind{"missing", Missing, "the file is missing or unreadable", 0, false},
        FailureKind{"notRiff", NotRiff, "not a RIFF/WAVE file", 0, false},
        FailureKind{"mono", Mono, "not stereo (1 channel); only 2-channel sources can be processed", 0, false},
        FailureKind{"compressed", Adpcm, "unsupported format (format tag 0x0002 with 4 bits per sample cannot be decoded)",
                    0, false},
        FailureKind{"noFolder", NoFolder, "the output cannot be created", 0, true},
        FailureKind{"sameFile", SameFile, "the output is the input file", 0, true},
        FailureKind{"writeFailed", Big, "a write failed (disk full or I/O error); nothing was written", 100000, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Cli, UsageErrorsExitTwoAndWriteNothing)
{
    const std::string in = Good();
    const std::vector<std::vector<std::string>> cases = {
        {in},
        {in, dir / "a.wav", dir / "b.wav"},
        {"--bits", "12", in, dir / "o.wav"},
        {"--bits", "16.0", in, dir / "o.wav"},
        {"--channels", "3", in, dir / "o.wav"},
        {"--channels", "", in, dir / "o.wav"},
        {"-j", "0", "-o", dir / "out", in},
        {"-j", "two", "-o", dir / "out", in},
        {"--suffix", "", in},
        {"-o", dir / "out"},
        {"--frobnicate", in, dir / "o.wav"},
        {"--play", "-o", dir / "out", in},
        {"--play", "--bits", "24", in},
        {in, dir / "o.wav", "--bits"},
    };
    const auto entriesBefore = FolderEntries(dir.path());
    for (const auto& args : cases) {
        const CliResult r = Run(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(r.status, 2) << joined << "\n" << r.err;
        EXPECT_NE(r.err.find("Try 'marlowin-render --help'"), std::string::npos) << joined;
    }
    EXPECT_EQ(FolderEntries(dir.path()), entriesBefore);
}

std::string Exact(double v)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// The window at its start positions: balance 200 and mix level 119 of 400, cutoff bars at
// 200 and 360.
TEST_F(Cli, DefaultsAreByteIdenticalToExplicitWindowValuesAndToTheCore)
{
    using namespace ControlValues;
    const std::string in = Good("in.wav", 50000);
    const double balance = PositionToFraction(200, 0, BalanceMax);
    const double mix = PositionToFraction(119, 0, MixLevelMax);
    const double low = PositionToCutoff(200);
    const double high = PositionToCutoff(360);

    ASSERT_EQ(Run({in, dir / "plain.wav"}).status, 0);
    ASSERT_EQ(Run({"--balance", Exact(balance), "--mix", Exact(mix), "--low-cutoff", Exact(low), "--high-cutoff",
                   Exact(high), "--bits", "16", "--channels", "1", in, dir / "explicit.wav"})
                  .status,
              0);

    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(in));
    VocalCancelMixer mixer;
    mixer.PrepareFilters(44100);
    MixParameters params{balance, ClampCutoff(low, 44100), ClampCutoff(high, 44100), mix};
    ASSERT_EQ(RenderToFile(reader, in, mixer, dir / "core.wav", params, nullptr), RenderStatus::Ok);

    const Bytes plain = ReadFile(dir / "plain.wav");
    EXPECT_GT(plain.size(), 100000u);
    EXPECT_EQ(plain, ReadFile(dir / "explicit.wav"));
    EXPECT_EQ(plain, ReadFile(dir / "core.wav"));
}

TEST_F(Cli, OutputBitsAndChannels)
{
    const std::string in = Good("in.wav", 30000);
    ASSERT_EQ(Run({in, dir / "ref.wav"}).status, 0);
    TWaveFileReader ref;
    ASSERT_TRUE(ref.Open(dir / "ref.wav"));
    std::vector<double> refL(30000), refR(30000);
    ASSERT_EQ(ref.Read(refL.data(), refR.data(), 30000), 30000u);

    for (int bits : {8, 16, 24}) {
        for (int channels : {1, 2}) {
            const std::string out = dir / ("o" + std::to_string(bits) + "_" + std::to_string(channels) + ".wav");
            const CliResult r = Run({"--bits", std::to_string(bits), "--channels=" + std::to_string(channels), in, out});
            ASSERT_EQ(r.status, 0) << r.err;
            TWaveFileReader reader;
            ASSERT_TRUE(reader.Open(out));
            EXPECT_EQ(reader.Format.wBitsPerSample, bits);
            EXPECT_EQ(reader.Format.nChannels, channels);
            EXPECT_EQ(reader.Format.nSamplesPerSec, 44100u);
            std::vector<double> l(30000), r2(30000);
            ASSERT_EQ(reader.Read(l.data(), r2.data(), 30000), 30000u);
            // The same normalised signal at another resolution, on both channels alike.
            const double step = std::ldexp(1.0, 1 - std::min(bits, 16));
            for (size_t i = 0; i < l.size(); ++i) {
                ASSERT_EQ(l[i], r2[i]) << i;
                ASSERT_NEAR(l[i], refL[i], step) << bits << " bits, frame " << i;
            }
        }
    }
}

// Float sources beyond full scale are kept as they are and the render normalises them: four
// times the 16-bit file's samples (exact in a float, and power-of-two scaling commutes with
// every rounding in the mix) renders to the very same bytes.
TEST_F(Cli, FloatSourceBeyondFullScaleRendersAsTheIntegerSource)
{
    const Bytes pcm = MusicWav(40000);
    WriteFile(dir / "int.wav", pcm);
    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(dir / "int.wav"));
    std::vector<double> l(40000), r(40000);
    ASSERT_EQ(reader.Read(l.data(), r.data(), 40000), 40000u);
    Bytes data;
    for (size_t i = 0; i < l.size(); ++i) {
        for (double v : {l[i], r[i]}) Put32(data, std::bit_cast<uint32_t>(static_cast<float>(v * 4)));
    }
    WriteFile(dir / "float.wav", Riff({Chunk("fmt ", FmtBody(3, 2, 44100, 32)), Chunk("data", data)}));

    ASSERT_EQ(Run({dir / "int.wav", dir / "int-out.wav"}).status, 0);
    const CliResult fr = Run({dir / "float.wav", dir / "float-out.wav"});
    ASSERT_EQ(fr.status, 0) << fr.err;
    EXPECT_EQ(ReadFile(dir / "int-out.wav"), ReadFile(dir / "float-out.wav"));
}

TEST_F(Cli, SuccessOffATerminalPrintsNothing)
{
    const std::string in = Good();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{in, dir / "a.wav"}, {"-q", in, dir / "b.wav"}, {"-o", dir / "out", in}}) {
        const CliResult r = Run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

}  // namespace
