#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

#include "TestFiles.h"
#include "TestProcess.h"
#include "WavBuilder.h"
#include "dsp/RenderJob.h"
#include "dsp/VocalCancelMixer.h"
#include "wave/Wavefile.h"

using namespace wavtest;
namespace fs = std::filesystem;

namespace {

class Render : public ::testing::Test {
protected:
    RenderStatus Run(const std::string& source, const std::string& output, MixParameters params = {},
                     OutputFormat format = {})
    {
        progress.clear();
        if (!reader.Open(source)) {
            ADD_FAILURE() << "cannot open " << source;
            return RenderStatus::CannotCreate;
        }
        mixer->PrepareFilters(reader.Format.nSamplesPerSec);
        return RenderToFile(reader, source, *mixer, output, params, [this](int v) { progress.push_back(v); },
                            format);
    }
    std::vector<int16_t> Samples(const std::string& path)
    {
        const Bytes bytes = ReadFile(path);
        std::vector<int16_t> codes((bytes.size() - 46) / 2);
        for (size_t i = 0; i < codes.size(); ++i) {
            codes[i] = static_cast<int16_t>(bytes[46 + 2 * i] | (bytes[47 + 2 * i] << 8));
        }
        return codes;
    }

    TempDir dir;
    TWaveFileReader reader;
    std::unique_ptr<VocalCancelMixer> mixer = std::make_unique<VocalCancelMixer>();
    std::vector<int> progress;
};

TEST_F(Render, OneBlockReportsFiftyThenHundred)
{
    WriteFile(dir / "in.wav", MusicWav(2048));
    ASSERT_EQ(Run(dir / "in.wav", dir / "out.wav"), RenderStatus::Ok);
    EXPECT_EQ(progress, (std::vector<int>{0, 50, 100}));
    EXPECT_EQ(Samples(dir / "out.wav").size(), 2048u);
}

TEST_F(Render, OddLengthGivesOneSamplePerFrame)
{
    WriteFile(dir / "in.wav", MusicWav(2049));
    ASSERT_EQ(Run(dir / "in.wav", dir / "out.wav"), RenderStatus::Ok);
    EXPECT_EQ(progress, (std::vector<int>{0, 49, 50, 99, 100}));
    EXPECT_EQ(Samples(dir / "out.wav").size(), 2049u);
    TWaveFileReader out;
    ASSERT_TRUE(out.Open(dir / "out.wav"));
    EXPECT_EQ(out.Format.nChannels, 1);
    EXPECT_EQ(out.Format.wBitsPerSample, 16);
    EXPECT_EQ(out.Format.nSamplesPerSec, 44100u);
}

TEST_F(Render, EmptyAndSilentSourcesGiveValidFiles)
{
    WriteFile(dir / "empty.wav", PcmWav(2, 44100, 16, {}));
    ASSERT_EQ(Run(dir / "empty.wav", dir / "out.wav"), RenderStatus::Ok);
    EXPECT_EQ(ReadFile(dir / "out.wav").size(), 46u);

    WriteFile(dir / "silent.wav", PcmWav(2, 44100, 16, std::vector<int32_t>(2 * 5000, 0)));
    ASSERT_EQ(Run(dir / "silent.wav", dir / "out.wav"), RenderStatus::Ok);
    const auto codes = Samples(dir / "out.wav");
    ASSERT_EQ(codes.size(), 5000u);
    for (int16_t c : codes) ASSERT_EQ(c, 0);
}

TEST_F(Render, LoudestSampleReachesFullScale)
{
    // Left alone at mix level 0: the difference is half the left channel, so the first pass
    // peaks at 0.25 and every sample is multiplied by 4.
    std::vector<int32_t> codes;
    for (int i = 0; i < 10000; ++i) {
        codes.push_back(static_cast<int32_t>(std::lround(16384 * std::sin(i * 0.013))));
        codes.push_back(0);
    }
    WriteFile(dir / "in.wav", PcmWav(2, 44100, 16, codes));
    MixParameters params;
    params.mixLevel = 0.0;
    ASSERT_EQ(Run(dir / "in.wav", dir / "out.wav", params), RenderStatus::Ok);
    const auto out = Samples(dir / "out.wav");
    double peak = 0;
    for (int i = 0; i < 10000; ++i) peak = std::max(peak, std::fabs(0.5 * codes[2 * i] / 32768.0));
    for (int i = 0; i < 10000; ++i) {
        const double x = (0.5 * codes[2 * i] / 32768.0 / peak + 1.0) * 32768.0;
        const int expected = static_cast<int>(std::min(x, 65535.0) + 0.5) - 32768;
        ASSERT_EQ(out[i], expected) << i;
    }
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 32767);
}

TEST_F(Render, DeeperAndStereoOutputsHoldTheSameSignal)
{
    WriteFile(dir / "in.wav", MusicWav(3000));
    ASSERT_EQ(Run(dir / "in.wav", dir / "mono16.wav"), RenderStatus::Ok);
    ASSERT_EQ(Run(dir / "in.wav", dir / "st24.wav", {}, OutputFormat{24, 2}), RenderStatus::Ok);
    TWaveFileReader a, b;
    ASSERT_TRUE(a.Open(dir / "mono16.wav"));
    ASSERT_TRUE(b.Open(dir / "st24.wav"));
    EXPECT_EQ(b.Format.nChannels, 2);
    std::vector<double> al(3000), ar(3000), bl(3000), br(3000);
    ASSERT_EQ(a.Read(al.data(), ar.data(), 3000), 3000u);
    ASSERT_EQ(b.Read(bl.data(), br.data(), 3000), 3000u);
    EXPECT_EQ(bl, br);
    for (int i = 0; i < 3000; ++i) ASSERT_NEAR(al[i], bl[i], 1.0 / 32768) << i;
}

// ---- the output never endangers a user's files ----

TEST_F(Render, OutputNamingTheSourceIsRefusedWhateverTheSpelling)
{
    const Bytes source = MusicWav(3000);
    WriteFile(dir / "in.wav", source);
    fs::create_directory(dir.path() / "sub");
    fs::create_symlink(dir.path() / "in.wav", dir.path() / "link.wav");
    fs::create_hard_link(dir.path() / "in.wav", dir.path() / "hard.wav");
    for (const std::string& out : {dir / "in.wav", dir / "sub/../in.wav", dir / "link.wav", dir / "hard.wav"}) {
        EXPECT_EQ(Run(dir / "in.wav", out), RenderStatus::SameAsSource) << out;
        EXPECT_EQ(ReadFile(dir / "in.wav"), source);
    }
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"hard.wav", "in.wav", "link.wav", "sub"}));
}

// The file being read counts, not only what the source path names now: a source moved after
// it was opened is still the source under its new name.
TEST_F(Render, OutputNamingTheOpenSourceUnderANewNameIsRefused)
{
    const Bytes source = MusicWav(3000);
    WriteFile(dir / "in.wav", source);
    ASSERT_TRUE(reader.Open(dir / "in.wav"));
    mixer->PrepareFilters(44100);
    fs::rename(dir.path() / "in.wav", dir.path() / "moved.wav");
    EXPECT_EQ(RenderToFile(reader, dir / "in.wav", *mixer, dir / "moved.wav", {}, {}), RenderStatus::SameAsSource);
    EXPECT_EQ(ReadFile(dir / "moved.wav"), source);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"moved.wav"}));
}

// A destination without write permission is as uncreatable as one that cannot be opened for
// writing: renaming over it would replace a file the user protected (root included, whom the
// permission bits do not stop).
TEST_F(Render, WriteProtectedDestinationIsNotReplaced)
{
    WriteFile(dir / "in.wav", MusicWav(100));
    const Bytes old = {'o', 'l', 'd'};
    WriteFile(dir / "out.wav", old);
    chmod((dir / "out.wav").c_str(), 0444);
    EXPECT_EQ(Run(dir / "in.wav", dir / "out.wav"), RenderStatus::CannotCreate);
    EXPECT_EQ(ReadFile(dir / "out.wav"), old);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"}));
}

// The temporary file beside the destination must not need a longer name than the destination
// itself: a long title (three bytes per character in Japanese) still renders.
TEST_F(Render, LongestFileNamesStillRender)
{
    WriteFile(dir / "in.wav", MusicWav(100));
    std::string title;
    while (title.size() + 3 <= 251) title += "\xE6\x9B\xB2";  // a 3-byte character
    for (const std::string& name : {std::string(251, 'a') + ".wav", title + ".wav"}) {
        ASSERT_LE(name.size(), 255u);
        EXPECT_EQ(Run(dir / "in.wav", dir / name), RenderStatus::Ok) << name.size();
        EXPECT_EQ(Samples(dir / name).size(), 100u);
        fs::remove(dir.path() / name);
    }
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.wav"}));
}

TEST_F(Render, UncreatableOutputsAreReportedAndLeaveNothing)
{
    WriteFile(dir / "in.wav", MusicWav(100));
    EXPECT_EQ(Run(dir / "in.wav", dir / "missing/out.wav"), RenderStatus::CannotCreate);
    fs::create_directory(dir.path() / "folder");
    EXPECT_EQ(Run(dir / "in.wav", dir / "folder"), RenderStatus::CannotCreate);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"folder", "in.wav"}));
    EXPECT_TRUE(fs::is_empty(dir.path() / "folder"));
}

TEST_F(Render, FailedWritesLeaveTheOldDestinationAndNoPartialFile)
{
    WriteFile(dir / "in.wav", MusicWav(200000));
    const Bytes old = {'o', 'l', 'd'};
    WriteFile(dir / "out.wav", old);
    // At the header, in the middle of the second pass, and just short of the last bytes.
    for (rlim_t limit : {rlim_t(20), rlim_t(200000), rlim_t(46 + 2 * 200000 - 10)}) {
        RenderStatus status;
        {
            testproc::FileSizeLimit full(limit);
            status = Run(dir / "in.wav", dir / "out.wav");
        }
        EXPECT_EQ(status, RenderStatus::WriteFailed) << limit;
        EXPECT_EQ(ReadFile(dir / "out.wav"), old) << limit;
        EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"})) << limit;
    }
}

TEST_F(Render, FullDeviceIsAFailureAndStaysADevice)
{
    WriteFile(dir / "in.wav", MusicWav(50000));
    EXPECT_EQ(Run(dir / "in.wav", "/dev/full"), RenderStatus::WriteFailed);
    struct stat info {};
    ASSERT_EQ(stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST_F(Render, ReplacingAFileKeepsItsPermissionsAndWritesThroughLinks)
{
    WriteFile(dir / "in.wav", MusicWav(1000));
    WriteFile(dir / "target.wav", {'x'});
    chmod((dir / "target.wav").c_str(), 0640);
    fs::create_symlink(dir.path() / "target.wav", dir.path() / "via.wav");
    ASSERT_EQ(Run(dir / "in.wav", dir / "via.wav"), RenderStatus::Ok);
    EXPECT_TRUE(fs::is_symlink(dir.path() / "via.wav"));
    EXPECT_EQ(Samples(dir / "target.wav").size(), 1000u);
    struct stat info {};
    ASSERT_EQ(stat((dir / "target.wav").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

}  // namespace

namespace {

// An editor that saves by writing a new file and renaming it over the old one leaves the file
// being read as it was: the render goes on and reflects what it read.
TEST(RenderSource, ReplacedByRenameDuringTheRenderIsNotAChange)
{
    TempDir dir;
    WriteFile(dir / "in.wav", MusicWav(20000));
    WriteFile(dir / "new.wav", MusicWav(500));
    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(dir / "in.wav"));
    auto mixer = std::make_unique<VocalCancelMixer>();
    mixer->PrepareFilters(44100);
    bool replaced = false;
    const auto status = RenderToFile(reader, dir / "in.wav", *mixer, dir / "out.wav", {}, [&](int) {
        if (!replaced) {
            fs::rename(dir.path() / "new.wav", dir.path() / "in.wav");
            replaced = true;
        }
    });
    EXPECT_EQ(status, RenderStatus::Ok);
    TWaveFileReader out;
    ASSERT_TRUE(out.Open(dir / "out.wav"));
    EXPECT_EQ(out.FrameCount, 20000u);
}

}  // namespace
