#pragma once
#include <cstdint>
#include <string>

// The mapping from slider positions to mix parameters, shared by the window and the
// command line so that a default render from either is byte-identical.
namespace ControlValues {

constexpr int BalanceMax = 400;    // BalanceBar 0..400, tick 20
constexpr int MixLevelMax = 400;   // MixLevelBar 0..400, tick 20
constexpr int VolumeMax = 320;     // VolumeBar 0..320, tick 16
constexpr int CutoffMin = 100;     // cutoff bars 100..400, tick 100
constexpr int CutoffMax = 400;
constexpr int PositionBarMax = 400;

constexpr double DefaultBalance = 0.5;
constexpr double DefaultMixLevel = 0.3;  // lands on position 119, see FractionToPosition
constexpr double DefaultVolume = 0.5;

// (position - min) / (max - min).
double PositionToFraction(int position, int minimum, int maximum);
// (max - min) * x + min with a 64-bit significand, truncated toward zero, kept in range.
// 0.3 of 400 gives 119: the double nearest 0.3 times 400 is just below 120.
int FractionToPosition(double x, int minimum, int maximum);

// 2 * 10^(position / 100) Hz: 100 -> 20 Hz, 200 -> 200 Hz, 400 -> 20000 Hz.
double PositionToCutoff(int position);
// Keeps a cutoff below half the sample rate, as the filters require: half the rate minus 1 Hz.
double ClampCutoff(double hz, uint32_t sampleRate);
// "%5.0fHz": the cutoff label text.
std::string FormatCutoff(double hz);

// Start positions of the two cutoff bars: 100 log10(100) = 200 and 100 log10(4000) = 360.
int DefaultLowCutoffPosition();
int DefaultHighCutoffPosition();

}  // namespace ControlValues
