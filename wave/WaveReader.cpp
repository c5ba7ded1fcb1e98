#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "wave/Wavefile.h"

namespace {

// Reads larger than this are split, so no request, however large, allocates more than this
// plus one frame; a normal 2048-frame block of a stereo file is still a single read.
constexpr size_t ReadChunkBytes = 64 * 1024;

constexpr uint16_t TagPcm = 1;
constexpr uint16_t TagFloat = 3;
constexpr uint16_t TagALaw = 6;
constexpr uint16_t TagMuLaw = 7;
constexpr uint16_t TagExtensible = 0xFFFE;

// The "fmt " body is read up to the end of WAVE_FORMAT_EXTENSIBLE's sub-format GUID.
constexpr size_t FmtBytesRead = 40;
// A data chunk of this size in an RF64/BW64 file takes its real size from "ds64".
constexpr uint32_t SizeInDs64 = 0xFFFFFFFFu;

uint16_t Le16(const uint8_t* b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }
uint32_t Le32(const uint8_t* b)
{
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
uint64_t Le64(const uint8_t* b) { return Le32(b) | (static_cast<uint64_t>(Le32(b + 4)) << 32); }

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

// The tag that says how the samples are coded: the file's own tag, or for
// WAVE_FORMAT_EXTENSIBLE the tag that its sub-format GUID carries in its first two bytes
// (every standard sub-format is the tag followed by the same 14 bytes). An extensible record
// without a recognisable GUID keeps 0xFFFE.
uint16_t EffectiveTag(uint16_t tag, const uint8_t* body, size_t size)
{
    static constexpr uint8_t GuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (tag != TagExtensible || size < FmtBytesRead || std::memcmp(body + 26, GuidTail, sizeof GuidTail) != 0) {
        return tag;
    }
    return Le16(body + 24);
}

using Encoding = TWaveFileReader::SampleEncoding;

// 8, 16 and 24 bits decode by their width whatever the tag says, except the two companded
// 8-bit codes; 32 and 64 bits need a tag that says integer or float.
Encoding ChooseEncoding(uint16_t tag, uint16_t bits)
{
    switch (bits) {
    case 8:
        return tag == TagALaw ? Encoding::ALaw : tag == TagMuLaw ? Encoding::MuLaw : Encoding::Unsigned8;
    case 16:
        return Encoding::Int16;
    case 24:
        return Encoding::Int24;
    case 32:
        return tag == TagPcm ? Encoding::Int32 : tag == TagFloat ? Encoding::Float32 : Encoding::None;
    case 64:
        return tag == TagFloat ? Encoding::Float64 : Encoding::None;
    default:
        return Encoding::None;
    }
}

// The G.711 expansions to 16-bit linear codes (mu-law peaks at +-32124, A-law at +-32256),
// on the same 1/32768 scale as 16-bit PCM.
int MuLawToLinear(uint8_t code)
{
    const int u = ~code & 0xFF;
    const int t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
    return (u & 0x80) ? 0x84 - t : t - 0x84;
}
int ALawToLinear(uint8_t code)
{
    const int a = code ^ 0x55;
    int t = (a & 0x0F) << 4;
    const int segment = (a & 0x70) >> 4;
    if (segment == 0) {
        t += 8;
    } else {
        t = (t + 0x108) << (segment - 1);
    }
    return (a & 0x80) ? t : -t;
}

struct CompandTables {
    double alaw[256];
    double mulaw[256];
    CompandTables()
    {
        for (int i = 0; i < 256; ++i) {
            alaw[i] = ALawToLinear(static_cast<uint8_t>(i)) / 32768.0;
            mulaw[i] = MuLawToLinear(static_cast<uint8_t>(i)) / 32768.0;
        }
    }
};
const CompandTables Compand;

constexpr double Scale8 = 1.0 / 128.0;
constexpr double Scale16 = 1.0 / 32768.0;
constexpr double Scale32 = 1.0 / 2147483648.0;

// Float samples are kept as they are, beyond full scale too; only infinities and NaNs become
// silence, since one of them would otherwise poison the filters' history for the rest of the
// file and the normalising gain with it.
inline double Finite(double v) { return std::isfinite(v) ? v : 0.0; }

inline double Sample8(const uint8_t* b) { return (static_cast<int>(b[0]) - 128) * Scale8; }
inline double Sample16(const uint8_t* b) { return static_cast<int16_t>(Le16(b)) * Scale16; }
inline double Sample24(const uint8_t* b)
{
    const uint32_t bits = (static_cast<uint32_t>(b[2]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
                          (static_cast<uint32_t>(b[0]) << 8);
    return static_cast<int32_t>(bits) * Scale32;
}
inline double Sample32(const uint8_t* b) { return static_cast<int32_t>(Le32(b)) * Scale32; }
inline double SampleFloat32(const uint8_t* b) { return Finite(std::bit_cast<float>(Le32(b))); }
inline double SampleFloat64(const uint8_t* b) { return Finite(std::bit_cast<double>(Le64(b))); }
inline double SampleALaw(const uint8_t* b) { return Compand.alaw[b[0]]; }
inline double SampleMuLaw(const uint8_t* b) { return Compand.mulaw[b[0]]; }

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

// True when four bytes that can be a chunk id (printable ASCII) stand at pos.
bool NextChunkIdAt(FILE* file, int64_t pos)
{
    uint8_t id[4];
    if (fseeko(file, pos, SEEK_SET) != 0 || std::fread(id, 1, 4, file) != 4) {
        return false;
    }
    return std::all_of(id, id + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

std::string Hex16(uint16_t v)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", v);
    return text;
}

}  // namespace

TWaveFileReader::~TWaveFileReader() { Close(); }

bool TWaveFileReader::GetFileStamp(FileStamp& stamp) const
{
    struct stat info {};
    if (!file || fstat(fileno(file), &info) != 0) {
        return false;
    }
    stamp.size = static_cast<int64_t>(info.st_size);
    stamp.modifiedNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

bool TWaveFileReader::IsReading(const std::string& path) const
{
    struct stat open {}, named {};
    if (!file || fstat(fileno(file), &open) != 0 || ::stat(path.c_str(), &named) != 0) {
        return false;
    }
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

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
    encoding = SampleEncoding::None;
    lastError = WaveOpenError::None;
    lastErrorDetail.clear();

    auto fail = [this](WaveOpenError why, std::string detail = {}) {
        Close();
        lastError = why;
        lastErrorDetail = std::move(detail);
        return false;
    };
    auto unsupported = [&fail](std::string detail) { return fail(WaveOpenError::UnsupportedFormat, std::move(detail)); };

    // Only a regular file is a source: a named pipe or a terminal would block the open or a
    // read until someone else acts, so the open does not wait and anything else is refused.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return fail(WaveOpenError::CannotOpen);
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || fcntl(fd, F_SETFL, 0) != 0 ||
        !(file = fdopen(fd, "rb"))) {
        ::close(fd);
        return fail(WaveOpenError::CannotOpen);
    }
    // The walk stops at the end of the file without seeking past it.
    const int64_t fileSize = static_cast<int64_t>(info.st_size);

    uint8_t header[12];
    if (std::fread(header, 1, sizeof header, file) != sizeof header || !IsId(header + 8, "WAVE")) {
        return fail(WaveOpenError::NotRiffWave);
    }
    // RF64 and BW64 are RIFF with 64-bit sizes, kept in a "ds64" chunk ahead of the data.
    const bool rf64 = IsId(header, "RF64") || IsId(header, "BW64");
    if (!rf64 && !IsId(header, "RIFF")) {
        return fail(WaveOpenError::NotRiffWave);
    }

    bool haveFmt = false;
    bool haveData = false;
    bool fmtBeforeData = false;
    bool haveDs64 = false;
    bool dataSizeUnknown = false;
    uint64_t ds64DataSize = 0;
    uint8_t fmtBody[FmtBytesRead] = {};
    size_t fmtBytes = 0;
    int64_t pos = 12;
    // Every chunk moves pos forward by at least 8 bytes and a chunk that runs past the end of
    // the file ends the walk, so the walk ends within the file.
    while (pos <= fileSize - 8) {
        uint8_t chunk[8];
        if (fseeko(file, pos, SEEK_SET) != 0 || std::fread(chunk, 1, 8, file) != 8) {
            break;
        }
        uint64_t size = Le32(chunk + 4);
        const int64_t body = pos + 8;
        if (IsId(chunk, "fmt ")) {
            std::memset(fmtBody, 0, sizeof fmtBody);
            fmtBytes = std::fread(fmtBody, 1, std::min<uint64_t>(size, sizeof fmtBody), file);
            FormatFromBytes(Format, fmtBody, fmtBytes);
            haveFmt = true;
        } else if (IsId(chunk, "ds64") && rf64) {
            uint8_t sizes[16];
            if (size >= 24 && std::fread(sizes, 1, sizeof sizes, file) == sizeof sizes) {
                ds64DataSize = Le64(sizes + 8);
                haveDs64 = true;
            }
        } else if (IsId(chunk, "data")) {
            dataSizeUnknown = false;
            if (rf64 && size == SizeInDs64) {
                if (haveDs64) {
                    size = ds64DataSize;
                } else {
                    dataSizeUnknown = true;
                }
            }
            DataSize = size;
            DataStart = body;
            haveData = true;
            fmtBeforeData = haveFmt;
        }
        // A body that runs past the end leaves no room for another header.
        if (size > static_cast<uint64_t>(fileSize - body)) {
            break;
        }
        pos = body + static_cast<int64_t>(size) + static_cast<int64_t>(size & 1);
        if ((size & 1) && !NextChunkIdAt(file, pos) && NextChunkIdAt(file, pos - 1)) {
            // Some writers leave out the pad byte after an odd chunk; the next chunk then
            // starts one byte early, which its id shows.
            --pos;
        }
    }

    if (!haveFmt) {
        return unsupported("no \"fmt \" chunk");
    }
    if (!haveData) {
        return unsupported("no \"data\" chunk");
    }
    if (!fmtBeforeData) {
        return unsupported("the \"data\" chunk comes before the \"fmt \" chunk");
    }
    if (dataSizeUnknown) {
        return unsupported("the \"data\" chunk's size belongs in a \"ds64\" chunk that is missing or short");
    }
    // Offsets into the data must stay representable as file positions.
    if (DataSize > static_cast<uint64_t>(INT64_MAX - DataStart)) {
        return unsupported("the stated data size is impossibly large");
    }
    if (fmtBytes < 16) {
        return unsupported("the \"fmt \" chunk is too short");
    }
    const uint16_t tag = EffectiveTag(Format.wFormatTag, fmtBody, fmtBytes);
    const uint16_t bits = Format.wBitsPerSample;
    encoding = ChooseEncoding(tag, bits);
    if (encoding == SampleEncoding::None) {
        std::string what = "format tag " + Hex16(Format.wFormatTag);
        if (tag != Format.wFormatTag) {
            what += " (sub-format " + Hex16(tag) + ")";
        }
        return unsupported(what + " with " + std::to_string(bits) + " bits per sample cannot be decoded");
    }
    if (Format.nChannels == 0) {
        return unsupported("0 channels");
    }
    if (Format.nBlockAlign != uint32_t(Format.nChannels) * (bits / 8u)) {
        return unsupported("block align " + std::to_string(Format.nBlockAlign) + " does not match " +
                           std::to_string(Format.nChannels) + " channels of " + std::to_string(bits) + " bits");
    }
    if (Format.nSamplesPerSec == 0 || Format.nSamplesPerSec > 0x7FFFFFFFu) {
        return unsupported("sample rate " + std::to_string(Format.nSamplesPerSec) + " is out of range");
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
    switch (encoding) {
    case SampleEncoding::Unsigned8:
        DecodeInterleaved<Sample8>(bytes, frames, blockAlign, 1, channels, left, right);
        break;
    case SampleEncoding::Int16:
        DecodeInterleaved<Sample16>(bytes, frames, blockAlign, 2, channels, left, right);
        break;
    case SampleEncoding::Int24:
        DecodeInterleaved<Sample24>(bytes, frames, blockAlign, 3, channels, left, right);
        break;
    case SampleEncoding::Int32:
        DecodeInterleaved<Sample32>(bytes, frames, blockAlign, 4, channels, left, right);
        break;
    case SampleEncoding::Float32:
        DecodeInterleaved<SampleFloat32>(bytes, frames, blockAlign, 4, channels, left, right);
        break;
    case SampleEncoding::Float64:
        DecodeInterleaved<SampleFloat64>(bytes, frames, blockAlign, 8, channels, left, right);
        break;
    case SampleEncoding::ALaw:
        DecodeInterleaved<SampleALaw>(bytes, frames, blockAlign, 1, channels, left, right);
        break;
    case SampleEncoding::MuLaw:
        DecodeInterleaved<SampleMuLaw>(bytes, frames, blockAlign, 1, channels, left, right);
        break;
    case SampleEncoding::None:
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
    // The product can round above FrameCount once FrameCount needs more than 53 bits.
    const uint64_t frame =
        std::min(FrameCount, static_cast<uint64_t>(static_cast<double>(FrameCount) * fraction));
    fseeko(file, DataStart + static_cast<int64_t>(frame * Format.nBlockAlign), SEEK_SET);
}
