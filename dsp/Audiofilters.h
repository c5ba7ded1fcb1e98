#pragma once
#include <cstdint>

// Second-order Butterworth low-pass: a direct-form-I biquad from the bilinear transform
// with frequency pre-warping and damping sqrt(2).
class TLowPassFilter {
public:
    explicit TLowPassFilter(uint32_t sampleRate);
    void SetCutoff(double frequency);
    void Reset();
    // out and in must be different arrays of at least count elements.
    void Process(double* out, const double* in, int32_t count);
    void UpdateCoefficients();

    double sampleRate;
    double resonance;
    double cutoff;
    double a1, a2, a3, b1, b2;
    double x1, x2, y1, y2;
};

// Second-order Butterworth high-pass; the same biquad with the high-pass coefficients.
class THighPassFilter {
public:
    explicit THighPassFilter(uint32_t sampleRate);
    void SetCutoff(double frequency);
    void Reset();
    void Process(double* out, const double* in, int32_t count);
    void UpdateCoefficients();

    double sampleRate;
    double resonance;
    double cutoff;
    double a1, a2, a3, b1, b2;
    double x1, x2, y1, y2;
};
