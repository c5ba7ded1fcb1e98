#include "dsp/ControlValues.h"

#include <cmath>
#include <cstdio>

namespace ControlValues {

double PositionToFraction(int position, int minimum, int maximum)
{
    return static_cast<double>(position - minimum) / static_cast<double>(maximum - minimum);
}

int FractionToPosition(double x, int minimum, int maximum)
{
    // The extended significand is what makes 0.3 of 400 land on 119 rather than 120.
    const long double scaled =
        static_cast<long double>(maximum - minimum) * static_cast<long double>(x) + minimum;
    if (!(scaled >= minimum)) {  // below the range, or NaN
        return minimum;
    }
    if (scaled >= maximum) {
        return maximum;
    }
    return static_cast<int>(scaled);  // truncation toward zero
}

double PositionToCutoff(int position)
{
    return 2.0 * std::pow(10.0, position * 0.01);
}

double ClampCutoff(double hz, uint32_t sampleRate)
{
    const double half = sampleRate * 0.5;
    if (!(half > hz)) {
        return half - 1.0;
    }
    return hz;
}

std::string FormatCutoff(double hz)
{
    char text[64];
    std::snprintf(text, sizeof text, "%5.0fHz", hz);
    return text;
}

int DefaultLowCutoffPosition()
{
    return static_cast<int>(100.0 * std::log10(100.0));
}

int DefaultHighCutoffPosition()
{
    return static_cast<int>(100.0 * std::log10(4000.0));
}

}  // namespace ControlValues
