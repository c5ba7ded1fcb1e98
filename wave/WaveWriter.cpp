#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "wave/Wavefile.h"

namespace {

// The largest data body a 32-bit RIFF size can describe once the 38 header bytes after the
// RIFF size field and a pad byte are added.
constexpr uint64_t MaxDataBytes = 0xFFFFFFFFull - 39;

void PutLe16(uint8_t* b, uint32_t v)
{
    b[0] = v & 0xFF;
    b[1] = (v >> 8) & 0xFF;
}
void PutLe32(uint8_t* b, uint32_t v)
{
    PutLe16(b, v & 0xFFFF);
    PutLe16(b + 2, v >> 16);
}

// (s + 1) * 2^(bits-1), clipped to the code range, rounded to nearest with halves going up.
template <int Bits>
inline uint32_t Encode(double s)
{
    constexpr double scale = static_cast<double>(1u << (Bits - 1));
    constexpr double top = static_cast<double>((1u << Bits) - 1);
    double x = (s + 1.0) * scale;
    if (x > top) {
        x = top;
    } else if (!(x >= 0.0)) {  // negative, or NaN
        x = 0.0;
    }
    return static_cast<uint32_t>(x + 0.5);
}

}  // namespace

TWaveFileWriter::~TWaveFileWriter() { Close(); }

bool TWaveFileWriter::WriteBytes(const void* bytes, size_t size)
{
    if (std::fwrite(bytes, 1, size, file) != size) {
        failed = true;
        return false;
    }
    return true;
}

bool TWaveFileWriter::Create(const std::string& path, int32_t sampleRate, int32_t bits, int32_t channels)
{
    if (file) {
        Close();
    }
    failed = false;
    file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    std::setvbuf(file, nullptr, _IOFBF, 64 * 1024);

    Format.wFormatTag = WAVE_FORMAT_PCM;
    Format.nChannels = static_cast<uint16_t>(channels);
    Format.nSamplesPerSec = static_cast<uint32_t>(sampleRate);
    Format.wBitsPerSample = static_cast<uint16_t>(bits);
    Format.nBlockAlign = static_cast<uint16_t>(bits * channels / 8);
    Format.nAvgBytesPerSec = static_cast<uint32_t>(sampleRate) * Format.nBlockAlign;
    Format.cbSize = 0;

    uint8_t header[46];
    std::memcpy(header + 0, "RIFF", 4);
    PutLe32(header + 4, 0);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    PutLe32(header + 16, 18);
    PutLe16(header + 20, Format.wFormatTag);
    PutLe16(header + 22, Format.nChannels);
    PutLe32(header + 24, Format.nSamplesPerSec);
    PutLe32(header + 28, Format.nAvgBytesPerSec);
    PutLe16(header + 32, Format.nBlockAlign);
    PutLe16(header + 34, Format.wBitsPerSample);
    PutLe16(header + 36, Format.cbSize);
    std::memcpy(header + 38, "data", 4);
    PutLe32(header + 42, 0);
    RiffSizePos = 4;
    DataSizePos = 42;
    DataStart = 46;
    WriteBytes(header, sizeof header);
    return true;
}

bool TWaveFileWriter::Write(const double* samples, uint32_t count)
{
    if (!file) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    const int bits = Format.wBitsPerSample;
    if (bits != 8 && bits != 16 && bits != 24) {
        return false;
    }
    const size_t sampleBytes = static_cast<size_t>(bits / 8);
    const size_t copies = Format.nChannels == 2 ? 2 : 1;
    const size_t frameBytes = sampleBytes * copies;

    // Refuse data that the 32-bit size fields could not describe rather than wrap them.
    const int64_t written = ftello(file) - DataStart;
    if (written < 0 || static_cast<uint64_t>(written) + uint64_t(count) * frameBytes > MaxDataBytes) {
        failed = true;
        return false;
    }

    // Encode a stretch at a time on the stack and hand it to the buffered stream.
    uint8_t chunk[6 * 1024];
    const size_t framesPerChunk = sizeof chunk / frameBytes;
    uint32_t i = 0;
    while (i < count) {
        const size_t frames = std::min<size_t>(count - i, framesPerChunk);
        uint8_t* out = chunk;
        for (size_t k = 0; k < frames; ++k, ++i) {
            uint8_t code[3];
            switch (bits) {
            case 8:
                code[0] = static_cast<uint8_t>(Encode<8>(samples[i]));
                break;
            case 16:
                PutLe16(code, Encode<16>(samples[i]) - 32768u);
                break;
            default: {
                const uint32_t v = Encode<24>(samples[i]) - 8388608u;
                code[0] = v & 0xFF;
                code[1] = (v >> 8) & 0xFF;
                code[2] = (v >> 16) & 0xFF;
                break;
            }
            }
            for (size_t c = 0; c < copies; ++c) {
                std::memcpy(out, code, sampleBytes);
                out += sampleBytes;
            }
        }
        if (!WriteBytes(chunk, static_cast<size_t>(out - chunk))) {
            return false;
        }
    }
    return true;
}

bool TWaveFileWriter::Close()
{
    if (!file) {
        return true;
    }
    const int64_t end = ftello(file);
    const int64_t n = end - DataStart;
    bool ok = !failed && n >= 0;
    if (n & 1) {
        const uint8_t pad = 0;
        ok = WriteBytes(&pad, 1) && ok;
    }
    uint8_t size[4];
    PutLe32(size, static_cast<uint32_t>(n));
    ok = fseeko(file, DataSizePos, SEEK_SET) == 0 && WriteBytes(size, 4) && ok;
    PutLe32(size, static_cast<uint32_t>(n + 38 + (n & 1)));
    ok = fseeko(file, RiffSizePos, SEEK_SET) == 0 && WriteBytes(size, 4) && ok;
    // Only a flushed, synced and closed file counts as written: a full disk may only tell here.
    ok = (std::fflush(file) == 0) && ok;
    ok = (fsync(fileno(file)) == 0 || errno == EINVAL) && ok;  // EINVAL: a file that cannot sync
    ok = (std::fclose(file) == 0) && ok;
    file = nullptr;
    return ok;
}
