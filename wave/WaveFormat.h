#pragma once
#include <cstdint>

// The 18-byte little-endian wave format record, laid out exactly as the body of a "fmt " chunk.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX must be 18 bytes with no gaps");

constexpr uint16_t WAVE_FORMAT_PCM = 1;

// Frames per processing and preview block.
constexpr uint32_t BlockFrames = 2048;
