#include "playback/Waveutils.h"

#include <cstring>

uint32_t ConvertToPcm16(void* dest, const double* source, uint32_t count)
{
    auto* out = static_cast<uint8_t*>(dest);
    for (uint32_t i = 0; i < count; ++i) {
        double x = (source[i] + 1.0) * 32768.0;
        // Written so that NaN, which fails every comparison, lands on 0.0.
        if (x > 65535.0) x = 65535.0;
        else if (!(x >= 0.0)) x = 0.0;
        const int32_t v = static_cast<int32_t>(x + 0.5) - 32768;
        const uint16_t bits = static_cast<uint16_t>(static_cast<int16_t>(v));
        out[2 * i] = static_cast<uint8_t>(bits & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>(bits >> 8);
    }
    return count;
}
