#include "dsp/RenderJob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>

#include "dsp/VocalCancelMixer.h"
#include "wave/Wavefile.h"

namespace fs = std::filesystem;

bool IsSameFile(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {

// At most the first 64 bytes of a name, cut before a UTF-8 continuation byte, so that the
// temporary name fits where the destination's own name just fits.
std::string NameStart(std::string name)
{
    constexpr size_t Keep = 64;
    if (name.size() > Keep) {
        size_t cut = Keep;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    return name;
}

// A new, empty file beside the destination, created exclusively so that no other file is
// ever truncated; the kernel applies the umask as for any new file.
std::string CreateTemporaryBeside(const fs::path& destination)
{
    static std::atomic<unsigned> counter{0};
    const fs::path folder = destination.has_parent_path() ? destination.parent_path() : fs::path(".");
    const std::string name = NameStart(destination.filename().string());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const fs::path candidate = folder / ("." + name + "." + std::to_string(getpid()) +
                                             "-" + std::to_string(counter++) + "-" +
                                             std::to_string(stamp & 0xFFFFFF) + ".tmp");
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            struct stat existing {};
            if (::stat(destination.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
                // Replacing a file keeps its permissions.
                (void)::fchmod(fd, existing.st_mode & 07777);
            }
            ::close(fd);
            return candidate.string();
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return {};
}

// Makes the rename itself durable, so a crash right after a render cannot lose the result.
void SyncFolder(const fs::path& destination)
{
    const fs::path folder = destination.has_parent_path() ? destination.parent_path() : fs::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path))
    {
        if (!path_.empty()) {
            const fs::path file = path_;
            folder_ = ::open(file.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            name_ = file.filename().string();
        }
    }
    ~TemporaryFile()
    {
        // Through the folder itself, so the file goes even when the folder was renamed meanwhile.
        if (!path_.empty()) {
            if (folder_ >= 0) {
                ::unlinkat(folder_, name_.c_str(), 0);
            } else {
                ::unlink(path_.c_str());
            }
        }
        if (folder_ >= 0) {
            ::close(folder_);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }
    void Release() { path_.clear(); }

private:
    std::string path_;
    std::string name_;
    int folder_ = -1;
};

}  // namespace

RenderStatus RenderToFile(TWaveFileReader& reader, const std::string& sourcePath, VocalCancelMixer& mixer,
                          const std::string& outputPath, const MixParameters& params, const RenderProgress& progress,
                          OutputFormat format)
{
    if (IsSameFile(sourcePath, outputPath) || reader.IsReading(outputPath)) {
        return RenderStatus::SameAsSource;
    }
    // Through a link, the file it names is replaced, not the link.
    std::error_code ec;
    fs::path destination = outputPath;
    if (fs::is_symlink(destination, ec)) {
        destination = fs::weakly_canonical(destination, ec);
        if (ec) {
            return RenderStatus::CannotCreate;
        }
    }
    if (fs::is_directory(destination, ec)) {
        return RenderStatus::CannotCreate;
    }

    // A device or a pipe is written in place: renaming a file over it would replace it.
    struct stat existing {};
    const bool exists = ::stat(destination.c_str(), &existing) == 0;
    const bool special = exists && !S_ISREG(existing.st_mode);
    // A file that could not be opened for writing is not replaced behind its back by the
    // rename. Root may write anything, so the write bits decide for it too.
    if (exists && !special &&
        ((existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(destination.c_str(), W_OK) != 0)) {
        return RenderStatus::CannotCreate;
    }
    TemporaryFile temporary(special ? std::string() : CreateTemporaryBeside(destination));
    if (!special && temporary.path().empty()) {
        return RenderStatus::CannotCreate;
    }
    TWaveFileWriter writer;
    if (!writer.Create(special ? destination.string() : temporary.path(),
                       static_cast<int32_t>(reader.Format.nSamplesPerSec), format.bits, format.channels)) {
        return RenderStatus::CannotCreate;
    }

    mixer.LowPassFilter->SetCutoff(params.lowCutoff);
    mixer.LowPassFilter->Reset();
    mixer.HighPassFilter->SetCutoff(params.highCutoff);
    mixer.HighPassFilter->Reset();
    auto report = [&](int value) {
        if (progress) {
            progress(value);
        }
    };
    report(0);

    // A source cut short during the first pass reads alike in both passes, so the frame counts
    // cannot tell; its size and modification time can.
    TWaveFileReader::FileStamp sourceBefore;
    const bool haveSourceBefore = reader.GetFileStamp(sourceBefore);

    // First pass: the peak at unit gain.
    reader.Rewind();
    double peak = 0.0;
    uint64_t firstPassFrames = 0;
    while (const uint32_t n = reader.Read(mixer.LeftBuffer, mixer.RightBuffer, BlockFrames)) {
        const double blockPeak = mixer.MixBlock(n, params.balance, params.mixLevel, 1.0);
        if (blockPeak > peak) {
            peak = blockPeak;
        }
        firstPassFrames += n;
        report(static_cast<int>(reader.GetPosition() * 50.0));
    }
    if (peak == 0.0) {
        peak = 1.0;
    }

    // Second pass: the same mix at 1 / peak, written out. The filters keep the history of the
    // end of the first pass, as the two passes always have.
    reader.Rewind();
    const double gain = 1.0 / peak;
    uint64_t secondPassFrames = 0;
    while (const uint32_t n = reader.Read(mixer.LeftBuffer, mixer.RightBuffer, BlockFrames)) {
        mixer.MixBlock(n, params.balance, params.mixLevel, gain);
        if (!writer.Write(mixer.MixBuffer, n)) {
            writer.Close();
            return RenderStatus::WriteFailed;
        }
        secondPassFrames += n;
        report(static_cast<int>(reader.GetPosition() * 50.0 + 50.0));
    }
    if (!writer.Close()) {
        return RenderStatus::WriteFailed;
    }
    if (secondPassFrames != firstPassFrames) {
        return RenderStatus::SourceChanged;
    }
    TWaveFileReader::FileStamp sourceAfter;
    if (haveSourceBefore && (!reader.GetFileStamp(sourceAfter) || !(sourceAfter == sourceBefore))) {
        return RenderStatus::SourceChanged;
    }
    if (special) {
        return RenderStatus::Ok;
    }
    if (::rename(temporary.path().c_str(), destination.c_str()) != 0) {
        return RenderStatus::CannotCreate;
    }
    temporary.Release();
    SyncFolder(destination);
    return RenderStatus::Ok;
}
