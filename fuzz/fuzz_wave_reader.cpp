// libFuzzer target: the bytes of one input are a source file. It is opened, read to the end
// block by block through the mix, then read again from the start, the middle and the end.
// Every result the reader gives must stay inside what it promised.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dsp/VocalCancelMixer.h"
#include "wave/Wavefile.h"

namespace {

// The reader takes a path, so each input goes into one memory-backed file that is rewritten
// for every run and opened through /proc: no disk traffic, nothing left behind.
struct MemoryFile {
    int fd = -1;
    std::string path;
    MemoryFile()
    {
        fd = memfd_create("marlowin-fuzz", MFD_CLOEXEC);
        if (fd < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    void Fill(const uint8_t* data, size_t size) const
    {
        if (ftruncate(fd, 0) != 0) std::abort();
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<size_t>(n);
        }
    }
};

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

// Reads up to BlockFrames frames and checks the block; returns the frames delivered.
uint32_t ReadBlock(TWaveFileReader& reader, VocalCancelMixer& mixer, uint64_t& delivered)
{
    const uint32_t n = reader.Read(mixer.LeftBuffer, mixer.RightBuffer, BlockFrames);
    Check(n <= BlockFrames, "Read delivered more frames than asked");
    delivered += n;
    Check(delivered <= reader.FrameCount, "Read delivered more frames than FrameCount");
    for (uint32_t i = 0; i < n; ++i) {
        Check(std::isfinite(mixer.LeftBuffer[i]) && std::isfinite(mixer.RightBuffer[i]),
              "a decoded sample is not finite");
    }
    if (n > 0) {
        mixer.MixBlock(n, 0.5, 0.2975, 1.0);
    }
    const double position = reader.GetPosition();
    Check(position >= 0.0 && position <= 1.0, "GetPosition outside 0..1");
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const MemoryFile memory;
    static VocalCancelMixer* const mixer = new VocalCancelMixer;
    memory.Fill(data, size);

    TWaveFileReader reader;
    if (!reader.Open(memory.path)) {
        Check(!reader.IsOpen(), "a failed Open left the reader open");
        Check(reader.LastError() != WaveOpenError::None, "a failed Open gave no reason");
        return 0;
    }
    const WAVEFORMATEX& f = reader.Format;
    Check(f.nChannels > 0 && f.nBlockAlign > 0 && f.nSamplesPerSec > 0, "an accepted format is degenerate");
    Check(reader.DataStart >= 12 && reader.DataStart <= static_cast<int64_t>(size), "DataStart outside the file");
    Check(reader.FrameCount * f.nBlockAlign <= reader.DataSize, "FrameCount beyond DataSize");

    mixer->PrepareFilters(f.nSamplesPerSec);
    uint64_t delivered = 0;
    // A source can hold at most size / nBlockAlign frames, so the loop is bounded by the input.
    while (ReadBlock(reader, *mixer, delivered) > 0) {
    }
    Check(delivered <= size / f.nBlockAlign, "more frames delivered than the file holds");
    Check(reader.Read(mixer->LeftBuffer, mixer->RightBuffer, BlockFrames) == 0, "Read after the end gave frames");

    for (const double fraction : {0.0, 0.5, 1.0}) {
        reader.SetPosition(fraction);
        uint64_t again = 0;
        const uint32_t n = ReadBlock(reader, *mixer, again);
        if (fraction == 1.0) {
            Check(n == 0, "Read after SetPosition(1.0) gave frames");
        }
    }
    reader.Rewind();
    uint64_t again = 0;
    ReadBlock(reader, *mixer, again);
    Check(again == std::min<uint64_t>(delivered, BlockFrames), "the first block after Rewind differs in length");
    reader.Close();
    return 0;
}
