// Batch rendering: output names, conflicts refused before anything starts, parallel renders
// equal to one-by-one renders, and a bad file among good ones.
#include <gtest/gtest.h>

#include "CliRunner.h"
#include "cli/Batch.h"

namespace {

using namespace wavtest;
namespace fs = std::filesystem;

BatchRequest Request(std::vector<std::string> inputs, const std::string& outputDir, const std::string& suffix)
{
    BatchRequest request;
    request.inputs = std::move(inputs);
    request.haveOutputDir = !outputDir.empty();
    request.outputDir = outputDir;
    request.suffix = suffix;
    return request;
}

TEST(PlanBatch, OutputNames)
{
    struct Case {
        std::vector<std::string> inputs;
        std::string dir, suffix;
        std::vector<std::string> outputs;
    };
    for (const Case& c : {
             Case{{"a/song.wav", "b/Take 2.WAV", "c/x.y.wav", "noext"}, "out", "",
                  {"out/song.wav", "out/Take 2.wav", "out/x.y.wav", "out/noext.wav"}},
             Case{{"a/song.wav", "top.wav"}, "", "-karaoke", {"a/song-karaoke.wav", "top-karaoke.wav"}},
             Case{{"a/song.wav", "b/song.wav"}, "", "_k", {"a/song_k.wav", "b/song_k.wav"}},
             Case{{"a/song.wav"}, "out", "_k", {"out/song_k.wav"}},
         }) {
        std::vector<BatchItem> items;
        EXPECT_EQ(PlanBatch(Request(c.inputs, c.dir, c.suffix), items), "");
        ASSERT_EQ(items.size(), c.outputs.size());
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].input, c.inputs[i]);
            EXPECT_EQ(items[i].output, c.outputs[i]);
        }
    }
}

TEST(PlanBatch, ConflictsNameTheFiles)
{
    TempDir dir;
    for (const char* sub : {"x", "y", "z"}) fs::create_directories(dir.path() / sub);
    for (const char* name : {"x/a.wav", "y/a.wav", "x/a_k.wav"}) WriteFile(dir / name, MusicWav(10));
    fs::create_hard_link(dir / "x/a.wav", dir / "z/a.wav");
    struct Case {
        std::vector<std::string> inputs;
        std::string dir, suffix;
        std::vector<std::string> named;  // every one must appear in the message
    };
    for (const Case& c : {
             // two sources, one output
             Case{{dir / "x/a.wav", dir / "y/a.wav"}, dir / "out", "", {dir / "x/a.wav", dir / "y/a.wav"}},
             // the same source twice, spelt differently
             Case{{dir / "x/a.wav", dir / "x/../x/./a.wav"}, dir / "out", "", {dir / "x/a.wav"}},
             // an output onto its own source
             Case{{dir / "x/a.wav"}, dir / "x", "", {dir / "x/a.wav"}},
             // an output onto another source
             Case{{dir / "x/a.wav", dir / "x/a_k.wav"}, "", "_k", {dir / "x/a_k.wav"}},
             // an output onto another name of a source
             Case{{dir / "x/a.wav"}, dir / "z", "", {dir / "z/a.wav", dir / "x/a.wav"}},
         }) {
        std::vector<BatchItem> items;
        const std::string problem = PlanBatch(Request(c.inputs, c.dir, c.suffix), items);
        EXPECT_FALSE(problem.empty()) << c.inputs[0];
        for (const auto& name : c.named) EXPECT_NE(problem.find(name), std::string::npos) << problem;
    }
}

class Batch : public ::testing::Test {
protected:
    CliResult Run(const std::vector<std::string>& args) { return RunRender(args, io.path().string()); }
    // Sources of different lengths and rates, so that the workers finish out of order.
    std::vector<std::string> MakeSources(size_t count)
    {
        fs::create_directories(dir.path() / "in");
        std::vector<std::string> paths;
        for (size_t i = 0; i < count; ++i) {
            const std::string path = dir / ("in/song" + std::to_string(i) + ".wav");
            WriteFile(path, MusicWav(static_cast<uint32_t>(30000 + 17000 * ((i * 5) % count)),
                                     i % 3 == 2 ? 48000 : 44100, i % 2 ? 24 : 16));
            paths.push_back(path);
        }
        return paths;
    }
    TempDir dir;
    TempDir io;
};

TEST_F(Batch, ParallelOutputEqualsOneByOne)
{
    const auto sources = MakeSources(7);
    for (const auto& options : {std::vector<std::string>{}, std::vector<std::string>{"--bits", "24", "--channels", "2",
                                                                                      "--mix", "0.6"}}) {
        const std::string single = dir / "single";
        const std::string batch = dir / "batch";
        fs::remove_all(single);
        fs::remove_all(batch);
        fs::create_directories(single);
        for (const auto& s : sources) {
            std::vector<std::string> args = options;
            args.push_back(s);
            args.push_back(single + "/" + fs::path(s).filename().string());
            ASSERT_EQ(Run(args).status, 0);
        }
        std::vector<std::string> args = options;
        for (const auto& a : {std::string("-j"), std::string("3"), std::string("-o"), batch}) args.push_back(a);
        args.insert(args.end(), sources.begin(), sources.end());
        const CliResult r = Run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_EQ(FolderEntries(batch), FolderEntries(single));
        for (const auto& s : sources) {
            const std::string name = fs::path(s).filename().string();
            EXPECT_EQ(ReadFile(batch + "/" + name), ReadFile(single + "/" + name)) << name;
        }
    }
}

TEST_F(Batch, ABadFileIsReportedAndTheOthersGoOn)
{
    auto sources = MakeSources(4);
    const std::string bad = dir / "in/broken.wav";
    WriteFile(bad, Bytes(100, 0));
    sources.insert(sources.begin() + 2, bad);
    const std::string missing = dir / "in/missing.wav";
    sources.push_back(missing);

    const CliResult r = Run({"-j", "2", "--suffix", "_vc", "-q"});  // no inputs: usage error
    EXPECT_EQ(r.status, 2);
    std::vector<std::string> args = {"-j", "2", "--suffix", "_vc"};
    args.insert(args.end(), sources.begin(), sources.end());
    const CliResult result = Run(args);
    EXPECT_EQ(result.status, 1);
    const auto lines = result.ErrLines();
    ASSERT_EQ(lines.size(), 3u) << result.err;
    std::vector<std::string> sorted(lines.begin(), lines.begin() + 2);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted[0], "marlowin-render: " + bad + ": not a RIFF/WAVE file");
    EXPECT_EQ(sorted[1], "marlowin-render: " + missing + ": the file is missing or unreadable");
    EXPECT_EQ(lines[2], "marlowin-render: 2 of 6 files failed");

    // Every good file was rendered beside its source, and each equals a single render.
    for (size_t i = 0; i < 4; ++i) {
        const std::string src = dir / ("in/song" + std::to_string(i) + ".wav");
        const std::string out = dir / ("in/song" + std::to_string(i) + "_vc.wav");
        ASSERT_TRUE(fs::exists(out)) << out;
        ASSERT_EQ(Run({src, dir / "check.wav"}).status, 0);
        EXPECT_EQ(ReadFile(out), ReadFile(dir / "check.wav"));
    }
    EXPECT_FALSE(fs::exists(dir / "in/broken_vc.wav"));
    for (const auto& name : FolderEntries(dir.path() / "in")) EXPECT_NE(name[0], '.') << name;  // no temporaries
}

TEST_F(Batch, TwoInputsOntoOneOutputAreRefusedBeforeAnythingStarts)
{
    fs::create_directories(dir.path() / "x");
    fs::create_directories(dir.path() / "y");
    WriteFile(dir / "x/a.wav", MusicWav(5000));
    WriteFile(dir / "y/a.wav", MusicWav(6000));
    WriteFile(dir / "x/b.wav", MusicWav(7000));
    const CliResult r = Run({"-o", dir / "out", dir / "x/b.wav", dir / "x/a.wav", dir / "y/a.wav"});
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(r.ErrLines().size(), 1u) << r.err;
    EXPECT_NE(r.err.find(dir / "x/a.wav"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(dir / "y/a.wav"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out"));  // not even the folder
}

TEST_F(Batch, AnOutputOntoASourceIsRefusedAndTheSourceKept)
{
    const auto sources = MakeSources(2);
    const Bytes before = ReadFile(sources[0]);
    const CliResult r = Run({"-o", dir / "in", sources[0], sources[1]});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("would overwrite the source"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(sources[0]), before);
}

TEST_F(Batch, OneProgressDisplayOnATerminalAndNoneWhenQuiet)
{
    const auto sources = MakeSources(3);
    std::vector<std::string> args = {"-j", "2", "-o", dir / "out"};
    args.insert(args.end(), sources.begin(), sources.end());
    const CliResult shown = RunRenderOnTerminal(args);
    ASSERT_EQ(shown.status, 0) << shown.err;
    // With carriage returns gone, every redraw follows the last: one display that ends with
    // the whole batch done, on its own line.
    EXPECT_EQ(std::count(shown.err.begin(), shown.err.end(), '\n'), 1) << shown.err;
    const std::string end = "] 100%  3/3 files\n";
    ASSERT_GE(shown.err.size(), end.size());
    EXPECT_EQ(shown.err.substr(shown.err.size() - end.size()), end) << shown.err;
    EXPECT_NE(shown.err.find("0/3 files"), std::string::npos);

    // A failure is printed whole on the terminal, between redraws of the bar.
    const std::string bad = dir / "in/broken.wav";
    WriteFile(bad, Bytes(64, 'x'));
    args.push_back(bad);
    const CliResult failed = RunRenderOnTerminal(args);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("marlowin-render: " + bad + ": not a RIFF/WAVE file\n"), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find("] 100%  4/4 files\nmarlowin-render: 1 of 4 files failed\n"), std::string::npos)
        << failed.err;

    args.insert(args.begin(), "-q");
    const CliResult quiet = RunRenderOnTerminal(args);
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(quiet.err, "marlowin-render: " + bad + ": not a RIFF/WAVE file\nmarlowin-render: 1 of 4 files failed\n");
}

}  // namespace
