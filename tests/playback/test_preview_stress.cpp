// The four hand-overs between the user-interface thread and the feeder, hammered while the
// preview plays. Built with ThreadSanitizer this must run without a report.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "PlayerTestSupport.h"
#include "dsp/VocalCancelMixer.h"
#include "playback/PreviewFeed.h"
#include "wave/Wavefile.h"

namespace {

using namespace std::chrono_literals;

TEST(PreviewStress, SeeksCutoffsAndSlidersFromAnotherThreadWhilePlaying)
{
    wavtest::TempDir dir;
    const std::string source = dir / "source.wav";
    wavtest::WriteFile(source, wavtest::MusicWav(3 * 48000, 48000));

    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(source));
    VocalCancelMixer mixer;
    mixer.PrepareFilters(48000);
    PreviewFeed feed(reader, mixer);
    // Small blocks: many block boundaries, and so many chances to collide, per second.
    TStreamingPlay player(MonoPcm16(48000), 512, 4);

    std::atomic<bool> done{false};
    std::atomic<int> barsSeen{0};
    std::atomic<int> badBars{0};
    std::thread ui([&] {
        std::mt19937 random(12345);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        while (!done.load()) {
            feed.Seek(0.6 * unit(random));
            feed.SetLowCutoff(20.0 + 1000.0 * unit(random));
            feed.SetHighCutoff(1000.0 + 20000.0 * unit(random));  // beyond half the rate is ignored
            feed.SetBalance(unit(random));
            feed.SetMixLevel(unit(random));
            feed.SetVolume(unit(random));
            const int bar = feed.TakeBarValue();
            if (bar >= 0) ++barsSeen;
            if (bar < -1 || bar > 400) ++badBars;
            (void)feed.LastPosition();
            std::this_thread::sleep_for(200us);
        }
    });

    // Pause and play a few times on this thread, the way the window's button does.
    for (int round = 0; round < 4; ++round) {
        ASSERT_TRUE(player.Play(PreviewCallback, &feed));
        std::this_thread::sleep_for(250ms);
        player.Stop();
        ASSERT_TRUE(WaitUntilStopped(player));
    }
    done = true;
    ui.join();

    EXPECT_GT(barsSeen.load(), 0);
    EXPECT_EQ(badBars.load(), 0);
}

}  // namespace
