// Soak of the preview as the window drives it: many play / pause / stop cycles with seeks,
// cutoff and slider changes from the user-interface side while the feeder runs, players made
// and destroyed as a new source would. Built with ThreadSanitizer it must stay silent; built
// with AddressSanitizer it must leak nothing. Short by default; MARLOWIN_SOAK_CYCLES=N soaks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include "../playback/PlayerTestSupport.h"
#include "dsp/ControlValues.h"
#include "dsp/VocalCancelMixer.h"
#include "playback/PreviewFeed.h"
#include "wave/Wavefile.h"

namespace {

using namespace std::chrono_literals;

// High rate and small blocks: a block lasts 1.3 ms, so a cycle sees many block boundaries.
constexpr uint32_t Rate = 192000;
constexpr int32_t Frames = 256;

int Cycles()
{
    if (const char* text = std::getenv("MARLOWIN_SOAK_CYCLES")) {
        const long n = std::strtol(text, nullptr, 10);
        if (n > 0) return static_cast<int>(n);
    }
    return 150;
}

TEST(PreviewSoak, PlayPauseStopCyclesWithUserInterfaceChanges)
{
    wavtest::TempDir dir;
    const std::string source = dir / "source.wav";
    // Half a second: long enough to play through several cycles, short enough that some
    // cycles reach the end and the feeder drains by itself.
    wavtest::WriteFile(source, wavtest::MusicWav(Rate / 2, Rate));

    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(source));
    VocalCancelMixer mixer;
    mixer.PrepareFilters(Rate);
    PreviewFeed feed(reader, mixer);
    auto player = std::make_unique<TStreamingPlay>(MonoPcm16(Rate), Frames, 4);

    std::mt19937 random(20261207);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto uiChanges = [&] {
        feed.Seek(unit(random));
        feed.SetLowCutoff(ControlValues::ClampCutoff(ControlValues::PositionToCutoff(int(unit(random) * 400)), Rate));
        feed.SetHighCutoff(ControlValues::ClampCutoff(ControlValues::PositionToCutoff(int(unit(random) * 400)), Rate));
        feed.SetBalance(unit(random));
        feed.SetMixLevel(unit(random));
        feed.SetVolume(unit(random));
    };

    const int cycles = Cycles();
    int badBars = 0;
    int drainedByThemselves = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        // A new source now and then: the window replaces the player and the filters.
        if (cycle % 25 == 24) {
            player.reset();
            mixer.PrepareFilters(Rate);
            player = std::make_unique<TStreamingPlay>(MonoPcm16(Rate), Frames, 4);
        }
        // The play button: fresh filter history at the current cutoffs, then play.
        mixer.LowPassFilter->Reset();
        mixer.HighPassFilter->Reset();
        ASSERT_TRUE(player->Play(PreviewCallback, &feed)) << "cycle " << cycle;

        const int changes = 1 + static_cast<int>(unit(random) * 8);
        for (int i = 0; i < changes; ++i) {
            uiChanges();
            const int bar = feed.TakeBarValue();
            if (bar < -1 || bar > ControlValues::PositionBarMax) ++badBars;
            std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int>(unit(random) * 3000)));
        }
        if (cycle % 10 == 9) {
            feed.Seek(0.999);  // let this one run out and drain
            if (!WaitUntilStopped(*player)) FAIL() << "the feeder did not drain in cycle " << cycle;
            ++drainedByThemselves;
            continue;
        }
        // Pause (keeps the position) or stop (back to the start), as the two buttons do.
        player->Stop();
        ASSERT_TRUE(WaitUntilStopped(*player)) << "no stop in cycle " << cycle;
        if (cycle % 3 == 0) {
            (void)feed.TakeBarValue();
            reader.Rewind();
            EXPECT_EQ(reader.GetPosition(), 0.0);
        }
    }
    player.reset();
    EXPECT_EQ(badBars, 0);
    EXPECT_GT(drainedByThemselves, 0);
}

}  // namespace
