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
    TLowPassFilter& lp = *LowPassFilter;
    THighPassFilter& hp = *HighPassFilter;

    // The three stages and both filters run in one loop: each filter's recursion is a chain of
    // dependent multiplications and additions, and running the two chains side by side lets
    // the processor overlap them. Every value is computed with the same operations in the same
    // order as stage by stage (difference and mid, low-pass, high-pass, mix), so the samples are
    // identical to the last bit.
    const double lpA1 = lp.a1, lpA2 = lp.a2, lpA3 = lp.a3, lpB1 = lp.b1, lpB2 = lp.b2;
    const double hpA1 = hp.a1, hpA2 = hp.a2, hpA3 = hp.a3, hpB1 = hp.b1, hpB2 = hp.b2;
    double lpX1 = lp.x1, lpX2 = lp.x2, lpY1 = lp.y1, lpY2 = lp.y2;
    double hpX1 = hp.x1, hpX2 = hp.x2, hpY1 = hp.y1, hpY2 = hp.y2;
    const double filteredWeight = mix * 0.5;
    const double diffWeight = 1.0 - mix;
    double peak = 0.0;

    for (uint32_t i = 0; i < count; ++i) {
        const double diff = (1.0 - balance) * LeftBuffer[i] - balance * RightBuffer[i];
        const double mid = (LeftBuffer[i] + RightBuffer[i]) * 0.5;
        DiffBuffer[i] = diff;
        MidBuffer[i] = mid;

        const double low = lpA1 * mid + lpA2 * lpX1 + lpA3 * lpX2 - lpB1 * lpY1 - lpB2 * lpY2;
        lpX2 = lpX1;
        lpX1 = mid;
        lpY2 = lpY1;
        lpY1 = low;
        const double high = hpA1 * mid + hpA2 * hpX1 + hpA3 * hpX2 - hpB1 * hpY1 - hpB2 * hpY2;
        hpX2 = hpX1;
        hpX1 = mid;
        hpY2 = hpY1;
        hpY1 = high;
        LowBuffer[i] = low;
        HighBuffer[i] = high;

        const double out = gain * (filteredWeight * (low + high) + diffWeight * diff);
        MixBuffer[i] = out;
        const double magnitude = std::fabs(out);
        if (magnitude > peak) {  // false for NaN, which therefore never becomes the peak
            peak = magnitude;
        }
    }

    lp.x1 = lpX1;
    lp.x2 = lpX2;
    lp.y1 = lpY1;
    lp.y2 = lpY2;
    hp.x1 = hpX1;
    hp.x2 = hpX2;
    hp.y1 = hpY1;
    hp.y2 = hpY2;
    return peak;
}
