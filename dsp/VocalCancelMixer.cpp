#include "dsp/VocalCancelMixer.h"

#include <cmath>

void VocalCancelMixer::PrepareFilters(uint32_t sampleRate)
{
    LowPassFilter = std::make_unique<TLowPassFilter>(sampleRate);
    HighPassFilter = std::make_unique<THighPassFilter>(sampleRate);
}

double VocalCancelMixer::MixBlock(uint32_t count, double balance, double mix, double gain)
{
    if (count > BlockFrames) {
        count = BlockFrames;
    }
    const int32_t n = static_cast<int32_t>(count);

    for (int32_t i = 0; i < n; ++i) {
        DiffBuffer[i] = (1.0 - balance) * LeftBuffer[i] - balance * RightBuffer[i];
        MidBuffer[i] = (LeftBuffer[i] + RightBuffer[i]) * 0.5;
    }

    LowPassFilter->Process(LowBuffer, MidBuffer, n);
    HighPassFilter->Process(HighBuffer, MidBuffer, n);

    const double filteredWeight = mix * 0.5;
    const double diffWeight = 1.0 - mix;
    double peak = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        MixBuffer[i] = gain * (filteredWeight * (LowBuffer[i] + HighBuffer[i]) + diffWeight * DiffBuffer[i]);
        const double magnitude = std::fabs(MixBuffer[i]);
        if (magnitude > peak) {  // false for NaN, which therefore never becomes the peak
            peak = magnitude;
        }
    }
    return peak;
}
