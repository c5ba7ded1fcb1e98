#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "wave/Wavefile.h"

namespace {

// Reads larger than this are split, so no request, however large, allocates more than this
// plus one frame; a normal 2048-frame block of a stereo file is still a single read.
constexpr size_t ReadChunkBytes = 64 * 1024;

uint16_t Le16(const uint8_t* b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }
uint32_t Le32(const uint8_t* b)
{
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

bool IsId(const uint8_t* b, const char* id) { return std::memcmp(b, id, 4) == 0; }

// The record is kept field by field so the reader does not depend on the host's byte order.
void FormatFromBytes(WAVEFORMATEX& f, const uint8_t* b, size_t size)
{
    uint8_t body[18] = {};
    std::memcpy(body, b, std::min<size_t>(size, sizeof body));
    f.wFormatTag = Le16(body + 0);
    f.nChannels = Le16(body + 2);
    f.nSamplesPerSec = Le32(body + 4);
    f.nAvgBytesPerSec = Le32(body + 8);
    f.nBlockAlign = Le16(body + 12);
    f.wBitsPerSample = Le16(body + 14);
    f.cbSize = 0;
}

constexpr double Scale8 = 1.0 / 128.0;
constexpr double Scale16 = 1.0 / 32768.0;
constexpr double Scale32 = 1.0 / 2147483648.0;

inline double Sample8(const uint8_t* b) { return (static_cast<int>(b[0]) - 128) * Scale8; }
inline double Sample16(const uint8_t* b) { return static_cast<int16_t>(Le16(b)) * Scale16; }
inline double Sample24(const uint8_t* b)
{
    const uint32_t bits = (static_cast<uint32_t>(b[2]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
                          (static_cast<uint32_t>(b[0]) << 8);
    return static_cast<int32_t>(bits) * Scale32;
}

template <double (*Sample)(const uint8_t*)>
void DecodeInterleaved(const uint8_t* bytes, uint32_t frames, uint32_t blockAlign, uint32_t sampleBytes,
                       uint32_t channels, double* left, double* right)
{
    if (channels == 1) {
        for (uint32_t i = 0; i < frames; ++i) {
            left[i] = right[i] = Sample(bytes + size_t(i) * blockAlign);
        }
        return;
    }
    // Two channels or more: the first two are left and right.
    for (uint32_t i = 0; i < frames; ++i) {
        const uint8_t* frame = bytes + size_t(i) * blockAlign;
        left[i] = Sample(frame);
        right[i] = Sample(frame + sampleBytes);
    }
}

}  // namespace

TWaveFileReader::~TWaveFileReader() { Close(); }

void TWaveFileReader::Close()
{
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
}

bool TWaveFileReader::Open(const std::string& path)
{
    Close();
    Format = {};
    DataStart = 0;
    DataSize = 0;
    FrameCount = 0;
    lastError = WaveOpenError::None;

    auto fail = [this](WaveOpenError why) {
        Close();
        lastError = why;
        return false;
    };

    file = std::fopen(path.c_str(), "rb");
    if (!file) {
        return fail(WaveOpenError::CannotOpen);
    }
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        return fail(WaveOpenError::CannotOpen);
    }
    // The walk stops at the end of a regular file without seeking past it; other files end
    // where a read comes up short.
    const int64_t fileSize = S_ISREG(info.st_mode) ? static_cast<int64_t>(info.st_size) : INT64_MAX;

    uint8_t header[12];
    if (std::fread(header, 1, sizeof header, file) != sizeof header || !IsId(header, "RIFF") ||
        !IsId(header + 8, "WAVE")) {
        return fail(WaveOpenError::NotRiffWave);
    }

    bool haveFmt = false;
    bool haveData = false;
    bool fmtBeforeData = false;
    size_t fmtBytes = 0;
    int64_t pos = 12;
    // Every chunk moves pos forward by at least 8 bytes, so the walk ends within the file.
    while (pos <= fileSize - 8) {
        uint8_t chunk[8];
        if (fseeko(file, pos, SEEK_SET) != 0 || std::fread(chunk, 1, 8, file) != 8) {
            break;
        }
        const uint32_t size = Le32(chunk + 4);
        const int64_t body = pos + 8;
        if (IsId(chunk, "fmt ")) {
            uint8_t bytes[18];
            fmtBytes = std::fread(bytes, 1, std::min<size_t>(size, sizeof bytes), file);
            FormatFromBytes(Format, bytes, fmtBytes);
            haveFmt = true;
        } else if (IsId(chunk, "data")) {
            DataSize = size;
            DataStart = body;
            haveData = true;
            fmtBeforeData = haveFmt;
        }
        pos = body + static_cast<int64_t>(size) + (size & 1);
    }

    const uint32_t sampleBytes = Format.wBitsPerSample / 8u;
    const bool decodable = haveFmt && haveData && fmtBeforeData && fmtBytes >= 16 && Format.nChannels > 0 &&
                           (Format.wBitsPerSample == 8 || Format.wBitsPerSample == 16 ||
                            Format.wBitsPerSample == 24) &&
                           Format.nBlockAlign == Format.nChannels * sampleBytes && Format.nSamplesPerSec > 0 &&
                           Format.nSamplesPerSec <= 0x7FFFFFFFu;
    if (!decodable) {
        return fail(WaveOpenError::UnsupportedFormat);
    }
    FrameCount = DataSize / Format.nBlockAlign;
    if (fseeko(file, DataStart, SEEK_SET) != 0) {
        return fail(WaveOpenError::CannotOpen);
    }
    return true;
}

int64_t TWaveFileReader::CurrentFrame() const
{
    const int64_t offset = ftello(file) - DataStart;
    return offset > 0 ? offset / Format.nBlockAlign : 0;
}

uint32_t TWaveFileReader::Read(double* left, double* right, uint32_t count)
{
    if (!file) {
        return 0;
    }
    const uint64_t p = static_cast<uint64_t>(CurrentFrame());
    const uint64_t remaining = FrameCount > p ? FrameCount - p : 0;
    if (count > remaining) {
        count = static_cast<uint32_t>(remaining);
    }
    const uint32_t blockAlign = Format.nBlockAlign;
    const uint32_t framesPerChunk = static_cast<uint32_t>(std::max<size_t>(1, ReadChunkBytes / blockAlign));

    uint32_t delivered = 0;
    while (delivered < count) {
        const uint32_t frames = std::min(count - delivered, framesPerChunk);
        const size_t bytes = size_t(frames) * blockAlign;
        if (readBuffer.size() < bytes) {
            readBuffer.resize(bytes);
        }
        const size_t got = std::fread(readBuffer.data(), 1, bytes, file);
        const uint32_t whole = static_cast<uint32_t>(got / blockAlign);
        DecodeFrames(readBuffer.data(), whole, left + delivered, right + delivered);
        delivered += whole;
        if (whole < frames) {
            break;  // the file ended early (or a read failed): deliver what arrived
        }
    }
    return delivered;
}

void TWaveFileReader::DecodeFrames(const uint8_t* bytes, uint32_t frames, double* left, double* right) const
{
    const uint32_t channels = Format.nChannels;
    const uint32_t blockAlign = Format.nBlockAlign;
    switch (Format.wBitsPerSample) {
    case 8:
        DecodeInterleaved<Sample8>(bytes, frames, blockAlign, 1, channels, left, right);
        break;
    case 16:
        DecodeInterleaved<Sample16>(bytes, frames, blockAlign, 2, channels, left, right);
        break;
    case 24:
        DecodeInterleaved<Sample24>(bytes, frames, blockAlign, 3, channels, left, right);
        break;
    default:
        break;
    }
}

void TWaveFileReader::Rewind()
{
    if (file) {
        fseeko(file, DataStart, SEEK_SET);
    }
}

double TWaveFileReader::GetPosition() const
{
    if (!file || DataSize == 0) {
        return 0.0;
    }
    return static_cast<double>(ftello(file) - DataStart) / static_cast<double>(DataSize);
}

void TWaveFileReader::SetPosition(double fraction)
{
    if (!file || !(fraction >= 0.0 && fraction <= 1.0)) {
        return;
    }
    const uint64_t frame = static_cast<uint64_t>(static_cast<double>(FrameCount) * fraction);
    fseeko(file, DataStart + static_cast<int64_t>(frame * Format.nBlockAlign), SEEK_SET);
}
