#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "wave/WaveFormat.h"

// Why the last Open failed; the reader itself never prints or shows anything.
enum class WaveOpenError {
    None,
    CannotOpen,         // missing, unreadable, or a folder
    NotRiffWave,        // no "RIFF" ... "WAVE" header
    UnsupportedFormat,  // no usable "fmt "/"data" pair, or a format we cannot decode
};

// Reads a RIFF/WAVE (or RF64/BW64) file and delivers frames as doubles on the full-scale range
// -1.0 .. +1.0: integer PCM of 8, 16, 24 and 32 bits, IEEE float of 32 and 64 bits (kept as they
// are, also beyond full scale), and 8-bit A-law and mu-law; plain or WAVE_FORMAT_EXTENSIBLE.
class TWaveFileReader {
public:
    TWaveFileReader() = default;
    ~TWaveFileReader();
    TWaveFileReader(const TWaveFileReader&) = delete;
    TWaveFileReader& operator=(const TWaveFileReader&) = delete;

    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return file != nullptr; }

    // Size and modification time of the file being read (not of whatever its path names now),
    // so that a render can notice a source that changed under it.
    struct FileStamp {
        int64_t size = 0;
        int64_t modifiedNs = 0;
        bool operator==(const FileStamp&) const = default;
    };
    bool GetFileStamp(FileStamp& stamp) const;
    // True when path names the very file being read (by identity, whatever the spelling),
    // also after that file was moved or renamed since Open.
    bool IsReading(const std::string& path) const;
    // Fills up to count frames into left/right; returns the frames delivered, 0 at the end.
    uint32_t Read(double* left, double* right, uint32_t count);
    void Rewind();
    double GetPosition() const;
    void SetPosition(double fraction);

    WaveOpenError LastError() const { return lastError; }
    // A short English reason for an UnsupportedFormat failure ("no \"data\" chunk", ...);
    // empty otherwise.
    const std::string& LastErrorDetail() const { return lastErrorDetail; }

    WAVEFORMATEX Format{};
    int64_t DataStart = 0;
    uint64_t DataSize = 0;    // bytes of the "data" body as its header states them
    uint64_t FrameCount = 0;  // DataSize / nBlockAlign, rounded down

    // How the samples of the open file are stored; chosen once by Open.
    enum class SampleEncoding { None, Unsigned8, Int16, Int24, Int32, Float32, Float64, ALaw, MuLaw };
    SampleEncoding Encoding() const { return encoding; }

private:
    int64_t CurrentFrame() const;
    void DecodeFrames(const uint8_t* bytes, uint32_t frames, double* left, double* right) const;

    FILE* file = nullptr;
    SampleEncoding encoding = SampleEncoding::None;
    WaveOpenError lastError = WaveOpenError::None;
    std::string lastErrorDetail;
    std::vector<uint8_t> readBuffer;  // bounded; never sized by what the file claims
};

// Writes full-scale doubles as an integer PCM RIFF/WAVE file and patches the sizes at Close.
class TWaveFileWriter {
public:
    TWaveFileWriter() = default;
    ~TWaveFileWriter();
    TWaveFileWriter(const TWaveFileWriter&) = delete;
    TWaveFileWriter& operator=(const TWaveFileWriter&) = delete;

    bool Create(const std::string& path, int32_t sampleRate, int32_t bits, int32_t channels);
    bool Write(const double* samples, uint32_t count);
    // Completes and closes the file. True only if every byte since Create, the size fields,
    // the final flush and the close all succeeded.
    bool Close();
    bool IsWriting() const { return file != nullptr; }

    WAVEFORMATEX Format{};
    int64_t DataStart = 0;
    int64_t RiffSizePos = 4;
    int64_t DataSizePos = 0;

private:
    bool WriteBytes(const void* bytes, size_t size);

    FILE* file = nullptr;
    bool failed = false;
};
