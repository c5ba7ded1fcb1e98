#include "playback/PreviewFeed.h"

#include <algorithm>
#include <cstring>

#include "dsp/ControlValues.h"
#include "dsp/VocalCancelMixer.h"
#include "playback/Waveutils.h"
#include "wave/Wavefile.h"

PreviewFeed::PreviewFeed(TWaveFileReader& readerIn, VocalCancelMixer& mixerIn)
    : reader(readerIn), mixer(mixerIn)
{
}

void PreviewFeed::Seek(double fraction)
{
    std::lock_guard<std::mutex> guard(blockLock);
    reader.SetPosition(fraction);
}

// No Reset: the filter history carries on across the change, which is heard from the next block.
void PreviewFeed::SetLowCutoff(double hz)
{
    std::lock_guard<std::mutex> guard(blockLock);
    if (mixer.LowPassFilter) mixer.LowPassFilter->SetCutoff(hz);
}

void PreviewFeed::SetHighCutoff(double hz)
{
    std::lock_guard<std::mutex> guard(blockLock);
    if (mixer.HighPassFilter) mixer.HighPassFilter->SetCutoff(hz);
}

uint32_t PreviewFeed::FillBlock(uint8_t* buffer, uint32_t byteCount)
{
    uint32_t frames = byteCount / 2;
    if (frames > BlockFrames) {
        // More than the mixer's buffers hold: fill what they can and keep the rest silent
        // rather than write past them.
        std::memset(buffer + 2 * BlockFrames, 0, byteCount - 2 * BlockFrames);
        frames = BlockFrames;
    }

    std::lock_guard<std::mutex> guard(blockLock);
    if (!mixer.HasFilters()) {
        std::memset(buffer, 0, 2 * size_t{frames});
        return 0;
    }

    // The position before this block is read; the user-interface thread picks the newest up.
    const double fraction = reader.GetPosition();
    lastPosition.store(fraction);
    barValue.store(static_cast<int>(fraction * ControlValues::PositionBarMax));

    const uint32_t n = reader.Read(mixer.LeftBuffer, mixer.RightBuffer, frames);
    if (n < frames) {
        std::fill(mixer.LeftBuffer + n, mixer.LeftBuffer + frames, 0.0);
        std::fill(mixer.RightBuffer + n, mixer.RightBuffer + frames, 0.0);
    }
    // Each slider value is read whole, once for the block.
    mixer.MixBlock(frames, balance.load(), mixLevel.load(), volume.load());
    ConvertToPcm16(buffer, mixer.MixBuffer, frames);
    return n;
}

uint32_t PreviewCallback(uint8_t* buffer, uint32_t byteCount, void* userData)
{
    return static_cast<PreviewFeed*>(userData)->FillBlock(buffer, byteCount);
}

WAVEFORMATEX PreviewFormat(uint32_t sampleRate)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = sampleRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<uint16_t>(format.nChannels * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * sampleRate;
    format.cbSize = 0;
    return format;
}
