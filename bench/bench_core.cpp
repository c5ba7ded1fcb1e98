// Core costs: one MixBlock on a full block, the reader's decode, the writer's encode.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "WavBuilder.h"
#include "dsp/VocalCancelMixer.h"
#include "wave/Wavefile.h"

namespace {

void BM_MixBlock(benchmark::State& state)
{
    auto mixer = std::make_unique<VocalCancelMixer>();
    mixer->PrepareFilters(44100);
    mixer->LowPassFilter->SetCutoff(200);
    mixer->HighPassFilter->SetCutoff(7962.14);
    for (uint32_t i = 0; i < BlockFrames; ++i) {
        mixer->LeftBuffer[i] = std::sin(i * 0.01);
        mixer->RightBuffer[i] = std::cos(i * 0.013);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(mixer->MixBlock(BlockFrames, 0.5, 0.2975, 1.0));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * BlockFrames);
}
BENCHMARK(BM_MixBlock);

void BM_ReaderDecode(benchmark::State& state)
{
    const int bits = static_cast<int>(state.range(0));
    wavtest::TempDir dir;
    const uint32_t frames = 44100 * 10;
    wavtest::WriteFile(dir / "in.wav", wavtest::MusicWav(frames, 44100, static_cast<uint16_t>(bits)));
    TWaveFileReader reader;
    reader.Open(dir / "in.wav");
    std::vector<double> left(BlockFrames), right(BlockFrames);
    for (auto _ : state) {
        reader.Rewind();
        while (reader.Read(left.data(), right.data(), BlockFrames)) {
        }
        benchmark::DoNotOptimize(left.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_ReaderDecode)->Arg(8)->Arg(16)->Arg(24)->Unit(benchmark::kMillisecond);

void BM_WriterEncode(benchmark::State& state)
{
    wavtest::TempDir dir;
    std::vector<double> block(BlockFrames);
    for (uint32_t i = 0; i < BlockFrames; ++i) block[i] = std::sin(i * 0.02) * 0.9;
    const int blocks = 215;  // about 10 s at 44.1 kHz
    for (auto _ : state) {
        TWaveFileWriter writer;
        writer.Create(dir / "out.wav", 44100, 16, 1);
        for (int b = 0; b < blocks; ++b) writer.Write(block.data(), BlockFrames);
        writer.Close();
    }
    state.SetItemsProcessed(state.iterations() * blocks * BlockFrames);
}
BENCHMARK(BM_WriterEncode)->Unit(benchmark::kMillisecond);

}  // namespace
