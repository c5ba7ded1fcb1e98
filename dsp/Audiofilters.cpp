#include "dsp/Audiofilters.h"

#include <cmath>

namespace {

constexpr double Pi = 3.141592653589793;

// The direct-form-I loop both filters share; the history is kept in the filter's own fields.
template <typename Filter>
void RunBiquad(Filter& f, double* out, const double* in, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        const double y = f.a1 * in[i] + f.a2 * f.x1 + f.a3 * f.x2 - f.b1 * f.y1 - f.b2 * f.y2;
        out[i] = y;
        f.x2 = f.x1;
        f.x1 = in[i];
        f.y2 = f.y1;
        f.y1 = out[i];
    }
}

// A sample rate of 0 would divide by zero; such a filter keeps finite (silent) coefficients.
template <typename Filter>
void Construct(Filter& f, uint32_t sampleRate)
{
    f.sampleRate = static_cast<double>(sampleRate);
    f.resonance = std::sqrt(2.0);
    f.cutoff = f.sampleRate * 0.25;
    f.a1 = f.a2 = f.a3 = f.b1 = f.b2 = 0.0;
    if (sampleRate > 0) {
        f.UpdateCoefficients();
    }
    f.Reset();
}

template <typename Filter>
void ApplyCutoff(Filter& f, double frequency)
{
    if (frequency > 0.0 && frequency < f.sampleRate * 0.5) {  // NaN fails both tests
        f.cutoff = frequency;
        f.UpdateCoefficients();
    }
}

}  // namespace

TLowPassFilter::TLowPassFilter(uint32_t sampleRate) { Construct(*this, sampleRate); }

void TLowPassFilter::SetCutoff(double frequency) { ApplyCutoff(*this, frequency); }

void TLowPassFilter::Reset() { x1 = x2 = y1 = y2 = 0.0; }

void TLowPassFilter::Process(double* out, const double* in, int32_t count) { RunBiquad(*this, out, in, count); }

void TLowPassFilter::UpdateCoefficients()
{
    const double r = resonance;
    const double c = 1.0 / std::tan(Pi * cutoff / sampleRate);
    a1 = 1.0 / (1.0 + c * (r + c));
    a2 = 2.0 * a1;
    a3 = a1;
    b1 = (1.0 - c * c) * 2.0 * a1;
    b2 = (1.0 - (r - c) * c) * a1;
}

THighPassFilter::THighPassFilter(uint32_t sampleRate) { Construct(*this, sampleRate); }

void THighPassFilter::SetCutoff(double frequency) { ApplyCutoff(*this, frequency); }

void THighPassFilter::Reset() { x1 = x2 = y1 = y2 = 0.0; }

void THighPassFilter::Process(double* out, const double* in, int32_t count) { RunBiquad(*this, out, in, count); }

void THighPassFilter::UpdateCoefficients()
{
    const double r = resonance;
    const double c = std::tan(Pi * cutoff / sampleRate);
    a1 = 1.0 / (1.0 + c * (r + c));
    a2 = -2.0 * a1;
    a3 = a1;
    b1 = (c * c - 1.0) * 2.0 * a1;
    b2 = (1.0 - (r - c) * c) * a1;
}
