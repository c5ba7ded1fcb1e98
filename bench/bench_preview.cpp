// Preview costs: one PreviewCallback on a full block (it must stay far below the block's
// 46 ms at 44.1 kHz), and how long a Stop takes to be seen through IsPlaying.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "WavBuilder.h"
#include "dsp/VocalCancelMixer.h"
#include "playback/PreviewFeed.h"
#include "playback/Streamingplay.h"
#include "wave/Wavefile.h"

namespace {

constexpr uint32_t Rate = 44100;

struct PreviewSource {
    PreviewSource()
    {
        path = dir / "source.wav";
        wavtest::WriteFile(path, wavtest::MusicWav(10 * Rate, Rate));
        reader.Open(path);
        mixer = std::make_unique<VocalCancelMixer>();
        mixer->PrepareFilters(Rate);
        mixer->LowPassFilter->SetCutoff(200.0);
        mixer->HighPassFilter->SetCutoff(7962.14);
        feed = std::make_unique<PreviewFeed>(reader, *mixer);
    }
    wavtest::TempDir dir;
    std::string path;
    TWaveFileReader reader;
    std::unique_ptr<VocalCancelMixer> mixer;
    std::unique_ptr<PreviewFeed> feed;
};

void BM_PreviewCallback(benchmark::State& state)
{
    PreviewSource source;
    std::vector<uint8_t> block(2 * BlockFrames);
    for (auto _ : state) {
        if (PreviewCallback(block.data(), static_cast<uint32_t>(block.size()), source.feed.get()) == 0) {
            state.PauseTiming();
            source.feed->Seek(0.0);
            state.ResumeTiming();
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * BlockFrames);
    // Time per call as a share of the block's own duration, in percent (goal: under 1).
    state.counters["pct_of_block"] = benchmark::Counter(
        BlockFrames / (100.0 * Rate), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PreviewCallback);

// From Stop to IsPlaying false, with the Stop landing at a random point of a block. The
// goal is two block durations (92 ms) plus one callback.
void BM_StopLatency(benchmark::State& state)
{
    if (!std::getenv("SDL_AUDIODRIVER")) setenv("SDL_AUDIODRIVER", "dummy", 1);
    PreviewSource source;
    std::unique_ptr<TStreamingPlay> player;
    try {
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, Rate, Rate * 2, 2, 16, 0};
        player = std::make_unique<TStreamingPlay>(format, static_cast<int32_t>(BlockFrames), 4);
    } catch (const EStreamingPlayError& e) {
        state.SkipWithError(e.what());
        return;
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int> phaseUs(0, 46000);
    double worstMs = 0.0;
    for (auto _ : state) {
        source.feed->Seek(0.0);
        player->Play(PreviewCallback, source.feed.get());
        std::this_thread::sleep_for(std::chrono::milliseconds(150) + std::chrono::microseconds(phaseUs(random)));
        const auto start = std::chrono::steady_clock::now();
        player->Stop();
        while (player->IsPlaying()) std::this_thread::sleep_for(std::chrono::microseconds(100));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        worstMs = std::max(worstMs, took.count() * 1000.0);
    }
    state.counters["worst_ms"] = worstMs;
}
BENCHMARK(BM_StopLatency)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
