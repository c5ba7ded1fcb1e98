// marlowin-render --play: the window's preview, driven from the command line.
#include "cli/PlayCommand.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <signal.h>
#include <cstdio>
#include <thread>

#include "cli/RenderCommand.h"
#include "dsp/ControlValues.h"
#include "dsp/VocalCancelMixer.h"
#include "playback/PreviewFeed.h"
#include "playback/Streamingplay.h"
#include "wave/Wavefile.h"

namespace {

// Set by the SIGINT handler; the main loop turns it into a Stop.
volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) { interrupted = 1; }

// Installs the Ctrl-C handler for the life of the object and puts the old one back after.
class InterruptGuard {
public:
    InterruptGuard()
    {
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous);
    }
    ~InterruptGuard() { sigaction(SIGINT, &previous, nullptr); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction previous {};
};

void PrintTime(double seconds)
{
    const long tenths = static_cast<long>(seconds * 10.0);
    std::fprintf(stderr, "%ld:%02ld.%ld", tenths / 600, (tenths / 10) % 60, tenths % 10);
}

void ShowPosition(double fraction, double totalSeconds)
{
    std::fputs("\rplaying ", stderr);
    PrintTime(fraction * totalSeconds);
    std::fputs(" / ", stderr);
    PrintTime(totalSeconds);
    std::fflush(stderr);
}

}  // namespace

int RunPlayCommand(const PlayOptions& options)
{
    TWaveFileReader reader;
    if (!reader.Open(options.input)) {
        std::fprintf(stderr, "marlowin-render: %s\n", DescribeOpenFailure(reader, options.input).c_str());
        return 1;
    }
    if (reader.Format.nChannels != 2) {
        std::fprintf(stderr, "marlowin-render: %s: not stereo (%u channels); only 2-channel sources can be played\n",
                     options.input.c_str(), static_cast<unsigned>(reader.Format.nChannels));
        return 1;
    }
    const uint32_t rate = reader.Format.nSamplesPerSec;

    VocalCancelMixer mixer;
    mixer.PrepareFilters(rate);
    mixer.LowPassFilter->SetCutoff(ControlValues::ClampCutoff(options.lowCutoff, rate));
    mixer.LowPassFilter->Reset();
    mixer.HighPassFilter->SetCutoff(ControlValues::ClampCutoff(options.highCutoff, rate));
    mixer.HighPassFilter->Reset();

    PreviewFeed feed(reader, mixer);
    feed.SetBalance(options.balance);
    feed.SetMixLevel(options.mixLevel);
    feed.SetVolume(options.volume);

    const WAVEFORMATEX format = PreviewFormat(rate);

    std::unique_ptr<TStreamingPlay> player;
    try {
        player = std::make_unique<TStreamingPlay>(format, static_cast<int32_t>(BlockFrames), PreviewBlockCount);
    } catch (const EStreamingPlayError& e) {
        std::fprintf(stderr, "marlowin-render: %s: %s\n", options.input.c_str(), e.what());
        return 1;
    }

    const double totalSeconds = rate ? static_cast<double>(reader.FrameCount) / rate : 0.0;
    InterruptGuard guard;
    interrupted = 0;
    if (!player->Play(PreviewCallback, &feed)) {
        std::fprintf(stderr, "marlowin-render: %s: cannot start the playback thread\n", options.input.c_str());
        return 1;
    }

    bool stopped = false;
    while (player->IsPlaying()) {
        if (interrupted && !stopped) {
            // Stop, then wait for the feeder to see it: the reader and the mixer it uses
            // live on this stack.
            player->Stop();
            stopped = true;
        }
        if (!options.quiet) ShowPosition(feed.LastPosition(), totalSeconds);
        std::this_thread::sleep_for(std::chrono::milliseconds(stopped ? 10 : 50));
    }
    if (!options.quiet) {
        if (!stopped) ShowPosition(1.0, totalSeconds);
        std::fputs(stopped ? "\ninterrupted\n" : "\n", stderr);
    }
    return stopped ? 130 : 0;
}
