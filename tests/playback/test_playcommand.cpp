#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "PlayerTestSupport.h"
#include "PreviewReference.h"
#include "TestProcess.h"

namespace {

// Runs marlowin-render with args; interruptAfter > 0 sends SIGINT that long after the start.
testproc::ProcessResult RunPlay(const std::vector<std::string>& args, const wavtest::TempDir& dir,
                                std::chrono::milliseconds interruptAfter = std::chrono::milliseconds(0))
{
    testproc::RunOptions options;
    if (interruptAfter.count() > 0) {
        options.whileRunning = [interruptAfter](pid_t child) {
            std::this_thread::sleep_for(interruptAfter);
            kill(child, SIGINT);
        };
    }
    return testproc::Run(MARLOWIN_RENDER_PROGRAM, args, dir.path().string(), options);
}

class PlayCommand : public ::testing::Test {
protected:
    std::string Source(uint32_t frames, uint16_t channels = 2, uint32_t rate = 44100)
    {
        const std::string path = dir / "source.wav";
        if (channels == 2) {
            wavtest::WriteFile(path, wavtest::MusicWav(frames, rate));
        } else {
            wavtest::WriteFile(path, wavtest::PcmWav(channels, 44100, 16, std::vector<int32_t>(frames * channels, 100)));
        }
        return path;
    }

    wavtest::TempDir dir;
};

TEST_F(PlayCommand, PlaysToTheEndShowingThePosition)
{
    const auto run = RunPlay({"--play", Source(10000)}, dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("playing"), std::string::npos);
    EXPECT_EQ(run.err.back(), '\n');
}

TEST_F(PlayCommand, QuietSaysNothing)
{
    const auto run = RunPlay({"--play", "-q", Source(5000)}, dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

// The options reach the feed: what is heard is the preview of the source at these settings.
TEST_F(PlayCommand, HearsThePreviewAtTheGivenSettings)
{
    const std::string source = Source(4 * 2048 + 300, 2, 32000);
    const std::string heardPath = dir / "heard.raw";
    {
        ScopedEnv driver("SDL_AUDIODRIVER", "disk");
        ScopedEnv file("SDL_DISKAUDIOFILE", heardPath);
        const auto run = RunPlay({"--play", "-q", "--volume", "0.3", "--balance", "0.6", "--mix", "0.5",
                                  "--low-cutoff", "300", "--high-cutoff", "20000", source},
                                 dir);
        ASSERT_EQ(run.status, 0) << run.err;
    }
    // 20000 Hz is lowered to half the rate minus 1 Hz, as in the window.
    PreviewReference reference(source, PreviewSettings{0.6, 0.5, 0.3, 300.0, 15999.0});
    std::vector<int16_t> expected;
    for (int block = 0; block < 4; ++block) {
        const auto bytes = reference.Next(2048);
        for (size_t j = 0; j < bytes.size(); j += 2) expected.push_back(static_cast<int16_t>(bytes[j] | (bytes[j + 1] << 8)));
    }
    ASSERT_NE(expected[0], 0);
    const auto heard = ReadSamples(heardPath);
    size_t start = 0;
    while (start < heard.size() && heard[start] == 0) ++start;
    ASSERT_GE(heard.size(), start + expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), heard.begin() + start));
}

TEST_F(PlayCommand, CtrlCStopsThePlayerAndExits)
{
    const auto run = RunPlay({"--play", Source(20 * 44100)}, dir, std::chrono::milliseconds(600));
    EXPECT_EQ(run.status, 130);
    EXPECT_NE(run.err.find("interrupted"), std::string::npos);
}

TEST_F(PlayCommand, RefusesWithOneLineNamingTheFile)
{
    const std::string mono = Source(1000, 1);
    auto run = RunPlay({"--play", mono}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "marlowin-render: " + mono + ": not stereo (1 channels); only 2-channel sources can be played\n");

    const std::string missing = dir / "missing.wav";
    run = RunPlay({"--play", missing}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("marlowin-render: " + missing + ": ", 0), 0u) << run.err;

    ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    const std::string stereo = Source(1000);
    run = RunPlay({"--play", stereo}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "marlowin-render: " + stereo + ": DirectSoundの初期化に失敗しました。\n");
}

}  // namespace
