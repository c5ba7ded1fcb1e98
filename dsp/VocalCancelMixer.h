#pragma once
#include <cstdint>
#include <memory>

#include "dsp/Audiofilters.h"
#include "wave/WaveFormat.h"

// The one set of block buffers and filters that the render and the preview share. The window
// holds exactly one for its whole life; the command line makes its own.
class VocalCancelMixer {
public:
    // Replaces both filters with new ones made for sampleRate (initial cutoff rate / 4).
    void PrepareFilters(uint32_t sampleRate);
    bool HasFilters() const { return LowPassFilter && HighPassFilter; }

    // Mixes LeftBuffer/RightBuffer[0..count) into MixBuffer and returns the block's peak
    // (largest magnitude, NaN left aside). count must not exceed BlockFrames.
    double MixBlock(uint32_t count, double balance, double mix, double gain);

    double LeftBuffer[BlockFrames]{};
    double RightBuffer[BlockFrames]{};
    double DiffBuffer[BlockFrames]{};
    double MidBuffer[BlockFrames]{};
    double LowBuffer[BlockFrames]{};
    double HighBuffer[BlockFrames]{};
    double MixBuffer[BlockFrames]{};

    std::unique_ptr<TLowPassFilter> LowPassFilter;
    std::unique_ptr<THighPassFilter> HighPassFilter;
};
