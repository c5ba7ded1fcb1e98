#pragma once
// Assembles WAV files byte by byte in test code, so no binary fixtures live in the repo.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace wavtest {

using Bytes = std::vector<uint8_t>;

// resize + memcpy rather than insert: GCC 12 warns falsely about vector<uint8_t>::insert.
inline void Append(Bytes& b, const uint8_t* bytes, size_t size)
{
    const size_t old = b.size();
    b.resize(old + size);
    if (size) std::memcpy(b.data() + old, bytes, size);
}
inline void Append(Bytes& b, const Bytes& more) { Append(b, more.data(), more.size()); }

inline void Put16(Bytes& b, uint32_t v) { b.push_back(v & 0xFF); b.push_back((v >> 8) & 0xFF); }
inline void Put24(Bytes& b, uint32_t v) { Put16(b, v & 0xFFFF); b.push_back((v >> 16) & 0xFF); }
inline void Put32(Bytes& b, uint32_t v) { Put16(b, v & 0xFFFF); Put16(b, v >> 16); }
inline void PutId(Bytes& b, const char* id) { Append(b, reinterpret_cast<const uint8_t*>(id), 4); }

// A chunk with its header; pad adds the RIFF pad byte after an odd body.
inline Bytes Chunk(const char* id, const Bytes& body, bool pad = true)
{
    Bytes b;
    PutId(b, id);
    Put32(b, static_cast<uint32_t>(body.size()));
    Append(b, body);
    if (pad && (body.size() & 1)) b.push_back(0);
    return b;
}

// A chunk header that states statedSize whatever the body really holds.
inline Bytes ChunkStated(const char* id, uint32_t statedSize, const Bytes& body)
{
    Bytes b;
    PutId(b, id);
    Put32(b, statedSize);
    Append(b, body);
    return b;
}

inline Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                     uint16_t blockAlign = 0, size_t bodySize = 16)
{
    if (blockAlign == 0) blockAlign = static_cast<uint16_t>(channels * bits / 8);
    Bytes b;
    Put16(b, tag);
    Put16(b, channels);
    Put32(b, rate);
    Put32(b, rate * blockAlign);
    Put16(b, blockAlign);
    Put16(b, bits);
    while (b.size() < bodySize) b.push_back(0);
    b.resize(bodySize);
    return b;
}

// "RIFF" size "WAVE" + chunks; riffSize 0 means "computed".
inline Bytes Riff(const std::vector<Bytes>& chunks, uint32_t riffSize = 0)
{
    Bytes b;
    PutId(b, "RIFF");
    size_t total = 4;
    for (const auto& c : chunks) total += c.size();
    Put32(b, riffSize ? riffSize : static_cast<uint32_t>(total));
    PutId(b, "WAVE");
    for (const auto& c : chunks) Append(b, c);
    return b;
}

// Integer PCM sample codes, interleaved, encoded little-endian at the given depth.
inline Bytes PcmData(const std::vector<int32_t>& codes, int bits)
{
    Bytes b;
    for (int32_t c : codes) {
        if (bits == 8) b.push_back(static_cast<uint8_t>(c));
        else if (bits == 16) Put16(b, static_cast<uint32_t>(c));
        else if (bits == 24) Put24(b, static_cast<uint32_t>(c));
        else Put32(b, static_cast<uint32_t>(c));
    }
    return b;
}

// A plain PCM file: a 16-byte "fmt " then "data".
inline Bytes PcmWav(uint16_t channels, uint32_t rate, uint16_t bits, const std::vector<int32_t>& codes)
{
    return Riff({Chunk("fmt ", FmtBody(1, channels, rate, bits)), Chunk("data", PcmData(codes, bits))});
}

// Stereo 16-bit file with deterministic, musically varied content: a centred tone plus
// different tones on each side, so that the mix exercises every stage.
inline Bytes MusicWav(uint32_t frames, uint32_t rate = 44100, uint16_t bits = 16)
{
    std::vector<int32_t> codes;
    codes.reserve(frames * 2);
    const double full = std::ldexp(1.0, bits - 1) - 1;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double centre = 0.4 * std::sin(2 * M_PI * 440 * t);
        const double l = centre + 0.3 * std::sin(2 * M_PI * 97 * t) + 0.1 * std::sin(2 * M_PI * 9000 * t);
        const double r = centre + 0.25 * std::sin(2 * M_PI * 3100 * t + 1.0);
        int32_t lc = static_cast<int32_t>(std::lround(l * full));
        int32_t rc = static_cast<int32_t>(std::lround(r * full));
        if (bits == 8) { lc += 128; rc += 128; }
        codes.push_back(lc);
        codes.push_back(rc);
    }
    return PcmWav(2, rate, bits, codes);
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A fresh empty folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "marlowin-test-XXXXXX").string();
        path_ = mkdtemp(templ.data());
    }
    ~TempDir() { std::error_code ec; std::filesystem::remove_all(path_, ec); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace wavtest
