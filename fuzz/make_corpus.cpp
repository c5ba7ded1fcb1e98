// Writes the fuzzer's seed corpus: small sources, a few frames each, that between them reach
// every sample encoding and every chunk the reader knows. Run: marlowin_fuzz_corpus DIR
#include <cstdio>
#include <utility>
#include <vector>

#include "WavBuilder.h"

using namespace wavtest;

namespace {

// Five stereo frames of varied codes at the given depth (offset for 8-bit).
Bytes Frames(int bits, int channels = 2)
{
    std::vector<int32_t> codes;
    const int32_t top = bits == 8 ? 127 : bits == 16 ? 32767 : bits == 24 ? 8388607 : 2147483647;
    for (int i = 0; i < 5 * channels; ++i) {
        int32_t c = (i % 3 == 0) ? top : (i % 3 == 1) ? -top - 1 : i * 37;
        if (bits == 8) c += 128;
        codes.push_back(c);
    }
    return PcmData(codes, bits);
}

Bytes Floats32()
{
    Bytes b;
    for (float v : {0.5f, -0.5f, 1.5f, -1.0f, 0.0f, 0.25f}) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        Put32(b, bits);
    }
    return b;
}

Bytes Floats64()
{
    Bytes b;
    for (double v : {0.5, -0.5, 2.0, -1.0}) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        Put32(b, static_cast<uint32_t>(bits));
        Put32(b, static_cast<uint32_t>(bits >> 32));
    }
    return b;
}

// WAVE_FORMAT_EXTENSIBLE with the sub-format tag in its GUID.
Bytes Extensible(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t subTag)
{
    Bytes b = FmtBody(0xFFFE, channels, rate, bits, 0, 18);
    b[16] = 22;  // cbSize
    Put16(b, bits);
    Put32(b, 3);  // front left | front right
    Put16(b, subTag);
    for (uint8_t v : {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
        b.push_back(v);
    }
    return b;
}

Bytes Rf64(const Bytes& fmt, const Bytes& data)
{
    Bytes ds64;
    Put32(ds64, 0);  // RIFF size, low and high
    Put32(ds64, 0);
    Put32(ds64, static_cast<uint32_t>(data.size()));
    Put32(ds64, 0);
    Put32(ds64, 0);  // sample count
    Put32(ds64, 0);
    Put32(ds64, 0);  // table length
    Bytes b;
    PutId(b, "RF64");
    Put32(b, 0xFFFFFFFF);
    PutId(b, "WAVE");
    Append(b, Chunk("ds64", ds64));
    Append(b, Chunk("fmt ", fmt));
    Append(b, ChunkStated("data", 0xFFFFFFFF, data));
    return b;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: marlowin_fuzz_corpus DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const Bytes fmt16 = FmtBody(1, 2, 44100, 16);
    Bytes partial = Frames(16);
    partial.resize(partial.size() - 3);
    const std::vector<std::pair<const char*, Bytes>> seeds = {
        {"pcm8-stereo.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 8)), Chunk("data", Frames(8))})},
        {"pcm16-stereo.wav", Riff({Chunk("fmt ", fmt16), Chunk("data", Frames(16))})},
        {"pcm16-mono.wav", Riff({Chunk("fmt ", FmtBody(1, 1, 22050, 16)), Chunk("data", Frames(16, 1))})},
        {"pcm24-stereo.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 96000, 24)), Chunk("data", Frames(24))})},
        {"pcm32-stereo.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 48000, 32)), Chunk("data", Frames(32))})},
        {"float32-stereo.wav", Riff({Chunk("fmt ", FmtBody(3, 2, 48000, 32, 0, 18)), Chunk("fact", {3, 0, 0, 0}),
                                     Chunk("data", Floats32())})},
        {"float64-stereo.wav", Riff({Chunk("fmt ", FmtBody(3, 2, 48000, 64)), Chunk("data", Floats64())})},
        {"alaw-stereo.wav", Riff({Chunk("fmt ", FmtBody(6, 2, 8000, 8, 0, 18)), Chunk("data", Frames(8))})},
        {"mulaw-stereo.wav", Riff({Chunk("fmt ", FmtBody(7, 2, 8000, 8, 0, 18)), Chunk("data", Frames(8))})},
        {"extensible24.wav", Riff({Chunk("fmt ", Extensible(2, 48000, 24, 1)), Chunk("data", Frames(24))})},
        {"extensible-float.wav", Riff({Chunk("fmt ", Extensible(2, 48000, 32, 3)), Chunk("data", Floats32())})},
        {"rf64.wav", Rf64(fmt16, Frames(16))},
        {"odd-chunk-before-data.wav",
         Riff({Chunk("fmt ", fmt16), Chunk("LIST", {'I', 'N', 'F', 'O', 'x'}), Chunk("data", Frames(16))})},
        {"chunks-after-data.wav",
         Riff({Chunk("fmt ", fmt16), Chunk("data", Frames(16)), Chunk("LIST", Bytes(6, 'z')), Chunk("JUNK", {})})},
        {"fmt40.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16, 0, 40)), Chunk("data", Frames(16))})},
        {"data-past-end.wav", Riff({Chunk("fmt ", fmt16), ChunkStated("data", 4000, Frames(16))})},
        {"partial-last-frame.wav", Riff({Chunk("fmt ", fmt16), Chunk("data", partial)})},
        {"data-before-fmt.wav", Riff({Chunk("data", Frames(16)), Chunk("fmt ", fmt16)})},
        {"no-data.wav", Riff({Chunk("fmt ", fmt16)})},
    };
    for (const auto& [name, bytes] : seeds) {
        WriteFile(dir / name, bytes);
    }
    std::printf("%zu seeds in %s\n", seeds.size(), dir.c_str());
    return 0;
}
