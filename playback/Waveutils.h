#pragma once
#include <cstdint>

// Writes count signed 16-bit little-endian samples to dest (no alignment needed): 32768 x,
// rounded to nearest with halves up, clipped to -32768..32767; NaN gives -32768. Returns count.
uint32_t ConvertToPcm16(void* dest, const double* source, uint32_t count);
