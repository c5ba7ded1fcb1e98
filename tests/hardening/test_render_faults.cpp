// The render under faults: a full disk at many points of the second pass, an output folder
// that disappears, a source that shrinks while it is read. Each is reported, leaves no
// partial file, and leaves an existing destination as it was.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "TestFiles.h"
#include "TestProcess.h"
#include "WavBuilder.h"
#include "dsp/RenderJob.h"
#include "dsp/VocalCancelMixer.h"
#include "wave/Wavefile.h"

using namespace wavtest;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t SourceFrames = 100000;  // 49 blocks of 2048 frames
constexpr uintmax_t OutputBytes = 46 + 2 * SourceFrames;
const Bytes OldDestination = {'k', 'e', 'e', 'p', ' ', 'm', 'e'};

class Faults : public ::testing::Test {
protected:
    // Renders source to output; onProgress runs inside the progress callback.
    RenderStatus Run(const std::string& source, const std::string& output,
                     const std::function<void(int)>& onProgress = {})
    {
        TWaveFileReader reader;
        if (!reader.Open(source)) {
            ADD_FAILURE() << "cannot open " << source;
            return RenderStatus::CannotCreate;
        }
        auto mixer = std::make_unique<VocalCancelMixer>();
        mixer->PrepareFilters(reader.Format.nSamplesPerSec);
        return RenderToFile(reader, source, *mixer, output, {}, [&](int v) {
            if (onProgress) onProgress(v);
        });
    }
    TempDir dir;
};

// Every block boundary of the second pass (and one byte either side), the writer's 64 KiB
// buffer boundaries, the last sample and the size fields patched at the end.
TEST_F(Faults, DiskFullAtEveryBlockOfTheSecondPass)
{
    WriteFile(dir / "in.wav", MusicWav(SourceFrames));
    WriteFile(dir / "out.wav", OldDestination);
    std::vector<rlim_t> limits = {1, 45, 46, 47, 65535, 65536, 65537, 131072, OutputBytes - 1};
    for (uint32_t block = 1; block * BlockFrames < SourceFrames; block += 3) {
        const rlim_t at = 46 + 2 * block * BlockFrames;
        limits.insert(limits.end(), {at - 1, at, at + 1});
    }
    for (const rlim_t limit : limits) {
        RenderStatus status;
        {
            testproc::FileSizeLimit full(limit);
            status = Run(dir / "in.wav", dir / "out.wav");
        }
        EXPECT_EQ(status, RenderStatus::WriteFailed) << limit;
        EXPECT_EQ(ReadFile(dir / "out.wav"), OldDestination) << limit;
        ASSERT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"})) << limit;
    }
    // Exactly enough room is enough.
    {
        testproc::FileSizeLimit full(OutputBytes);
        EXPECT_EQ(Run(dir / "in.wav", dir / "out.wav"), RenderStatus::Ok);
    }
    EXPECT_EQ(fs::file_size(dir.path() / "out.wav"), OutputBytes);
}

// A real full filesystem (ENOSPC rather than EFBIG), where the machine lets us mount one.
class SmallFilesystem : public Faults {
protected:
    void SetUp() override
    {
        mountPoint = dir.path() / "small";
        fs::create_directory(mountPoint);
        if (::mount("marlowin-test", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=512k,mode=0755") != 0) {
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root in a mount namespace that allows it)";
        }
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted) ::umount2(mountPoint.c_str(), MNT_DETACH);
    }
    fs::path mountPoint;
    bool mounted = false;
};

TEST_F(SmallFilesystem, FullFilesystemAtSeveralPointsLeavesTheOldDestination)
{
    WriteFile(dir / "in.wav", MusicWav(SourceFrames));
    const std::string output = (mountPoint / "out.wav").string();
    WriteFile(output, OldDestination);
    // The filler takes all room but `room` bytes (tmpfs counts whole pages).
    const std::string filler = (mountPoint / "filler").string();
    for (const uintmax_t room : {uintmax_t{0}, uintmax_t{4096}, uintmax_t{65536}, uintmax_t{131072}}) {
        fs::remove(filler);
        const uintmax_t free = fs::space(mountPoint).available;
        ASSERT_GT(free, room);
        WriteFile(filler, Bytes(free - room, 0));
        EXPECT_EQ(Run(dir / "in.wav", output), RenderStatus::WriteFailed) << room;
        EXPECT_EQ(ReadFile(output), OldDestination) << room;
        EXPECT_EQ(FolderEntries(mountPoint), (std::vector<std::string>{"filler", "out.wav"})) << room;
    }
}

// The folder goes away during the first or the second pass: the temporary file goes with it,
// the render reports that the output could not be put in place, and nothing is recreated.
TEST_F(Faults, OutputFolderRemovedMidRender)
{
    WriteFile(dir / "in.wav", MusicWav(SourceFrames));
    for (const int at : {10, 75}) {
        const fs::path folder = dir.path() / "out";
        fs::create_directory(folder);
        WriteFile((folder / "out.wav").string(), OldDestination);
        bool removed = false;
        const RenderStatus status = Run(dir / "in.wav", (folder / "out.wav").string(), [&](int v) {
            if (v >= at && !removed) {
                fs::remove_all(folder);
                removed = true;
            }
        });
        EXPECT_TRUE(removed);
        EXPECT_EQ(status, RenderStatus::CannotCreate) << at;
        EXPECT_FALSE(fs::exists(folder)) << at;
        EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.wav"})) << at;
    }
}

// The folder is renamed away mid-render: the render fails, and neither the old nor the new
// name of the folder is left holding a temporary file.
TEST_F(Faults, OutputFolderRenamedMidRender)
{
    WriteFile(dir / "in.wav", MusicWav(SourceFrames));
    const fs::path folder = dir.path() / "out";
    const fs::path moved = dir.path() / "moved";
    fs::create_directory(folder);
    WriteFile((folder / "out.wav").string(), OldDestination);
    bool renamed = false;
    const RenderStatus status = Run(dir / "in.wav", (folder / "out.wav").string(), [&](int v) {
        if (v >= 60 && !renamed) {
            fs::rename(folder, moved);
            renamed = true;
        }
    });
    EXPECT_TRUE(renamed);
    EXPECT_EQ(status, RenderStatus::CannotCreate);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(FolderEntries(moved), (std::vector<std::string>{"out.wav"}));
    EXPECT_EQ(ReadFile((moved / "out.wav").string()), OldDestination);
}

// The source is cut short while a pass reads it, at several points of either pass.
TEST_F(Faults, SourceShrinkingWhileReadIsReported)
{
    const Bytes source = MusicWav(SourceFrames);
    // (progress at the cut, bytes of the data kept). A cut in the first pass beyond what it has
    // read gives both passes the same shorter file: only the file itself can tell.
    const std::pair<int, uint64_t> cuts[] = {{5, 4 * 90000}, {25, 4 * 1000 + 2}, {40, 4 * 99999},
                                             {50, 4 * 1000}, {60, 4 * 50000},    {99, 4 * 99000 + 1}};
    for (const auto& cutAt : cuts) {
        const int at = cutAt.first;
        const uint64_t kept = cutAt.second;
        WriteFile(dir / "in.wav", source);
        WriteFile(dir / "out.wav", OldDestination);
        bool cut = false;
        const RenderStatus status = Run(dir / "in.wav", dir / "out.wav", [&](int v) {
            if (v >= at && !cut) {
                fs::resize_file(dir.path() / "in.wav", 44 + kept);
                cut = true;
            }
        });
        EXPECT_TRUE(cut);
        EXPECT_EQ(status, RenderStatus::SourceChanged) << "cut at " << at;
        EXPECT_EQ(ReadFile(dir / "out.wav"), OldDestination) << at;
        EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.wav", "out.wav"})) << at;
    }
}

// Rewritten in place with other samples of the same length between the passes: the frame
// counts agree, but what was measured in the first pass is not what the second would write.
TEST_F(Faults, SourceRewrittenBetweenThePassesIsReported)
{
    WriteFile(dir / "in.wav", MusicWav(SourceFrames));
    // Back-dated, so the rewrite shows in the time stamp however coarse the file system's clock.
    const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "in.wav").c_str(), past, 0), 0);
    WriteFile(dir / "out.wav", OldDestination);
    bool rewritten = false;
    const RenderStatus status = Run(dir / "in.wav", dir / "out.wav", [&](int v) {
        if (v >= 50 && !rewritten) {
            std::FILE* f = std::fopen((dir / "in.wav").c_str(), "r+b");
            ASSERT_NE(f, nullptr);
            std::fseek(f, 44 + 4 * 5000, SEEK_SET);
            const Bytes loud(4 * 100, 0x7F);
            std::fwrite(loud.data(), 1, loud.size(), f);
            std::fclose(f);
            rewritten = true;
        }
    });
    EXPECT_TRUE(rewritten);
    EXPECT_EQ(status, RenderStatus::SourceChanged);
    EXPECT_EQ(ReadFile(dir / "out.wav"), OldDestination);
}

}  // namespace
