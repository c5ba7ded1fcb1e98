#include "cli/Batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "cli/ProgressBar.h"

namespace fs = std::filesystem;

namespace {

// One spelling per file: absolute, with links and dots resolved as far as the path exists.
std::string PathKey(const std::string& path)
{
    std::error_code ec;
    fs::path key = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) {
        key = fs::absolute(path, ec).lexically_normal();
    }
    return key.string();
}

// The whole batch on one bar: the mean of every file's progress, and the count finished.
class BatchProgress {
public:
    BatchProgress(size_t files, bool enabled) : bar_(enabled), percent_(files, 0) {}

    void Update(size_t index, int value)
    {
        std::lock_guard lock(mutex_);
        percent_[index] = value;
        Draw();
    }
    void Done(size_t index, const std::string& failure)
    {
        std::lock_guard lock(mutex_);
        percent_[index] = 100;
        ++finished_;
        if (!failure.empty()) {
            bar_.Clear();
            std::fprintf(stderr, "marlowin-render: %s\n", failure.c_str());
            bar_.Redraw();
        }
        Draw();
    }
    void Finish()
    {
        std::lock_guard lock(mutex_);
        bar_.Finish();
    }

private:
    void Draw()
    {
        long sum = 0;
        for (int p : percent_) {
            sum += p;
        }
        const int total = static_cast<int>(sum / static_cast<long>(percent_.size()));
        bar_.Show(total, "  " + std::to_string(finished_) + "/" + std::to_string(percent_.size()) + " files");
    }

    std::mutex mutex_;
    ProgressBar bar_;
    std::vector<int> percent_;
    size_t finished_ = 0;
};

}  // namespace

std::string PlanBatch(const BatchRequest& request, std::vector<BatchItem>& items)
{
    items.clear();
    for (const auto& input : request.inputs) {
        const fs::path source = input;
        const std::string name = source.stem().string() + request.suffix + ".wav";
        const fs::path folder = request.haveOutputDir ? fs::path(request.outputDir) : source.parent_path();
        items.push_back({input, (folder / name).string()});
    }

    std::map<std::string, size_t> sources;
    for (size_t i = 0; i < items.size(); ++i) {
        const auto [at, added] = sources.emplace(PathKey(items[i].input), i);
        if (!added) {
            return items[i].input + ": given twice (also as " + items[at->second].input + ")";
        }
    }
    std::map<std::string, size_t> outputs;
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string key = PathKey(items[i].output);
        const auto [at, added] = outputs.emplace(key, i);
        if (!added) {
            return items[i].output + ": would be written from both " + items[at->second].input + " and " +
                   items[i].input;
        }
        // An output may not replace any source, not only its own: the renders run at once.
        if (const auto source = sources.find(key); source != sources.end()) {
            return items[i].output + ": the output of " + items[i].input + " would overwrite the source " +
                   items[source->second].input;
        }
        for (const auto& other : items) {
            if (IsSameFile(items[i].output, other.input)) {
                return items[i].output + ": the output of " + items[i].input + " would overwrite the source " +
                       other.input;
            }
        }
    }
    return {};
}

int RunBatchCommand(const BatchRequest& request)
{
    std::vector<BatchItem> items;
    if (const std::string problem = PlanBatch(request, items); !problem.empty()) {
        std::fprintf(stderr, "marlowin-render: %s; nothing was rendered\n", problem.c_str());
        return 2;
    }
    if (request.haveOutputDir) {
        std::error_code ec;
        fs::create_directories(request.outputDir, ec);
        if (ec || !fs::is_directory(request.outputDir)) {
            std::fprintf(stderr, "marlowin-render: %s: the output folder cannot be created\n",
                         request.outputDir.c_str());
            return 1;
        }
    }

    unsigned jobs = request.jobs ? request.jobs : std::max(1u, std::thread::hardware_concurrency());
    jobs = static_cast<unsigned>(std::min<size_t>(jobs, items.size()));

    BatchProgress progress(items.size(), !request.render.quiet && isatty(STDERR_FILENO));
    std::atomic<size_t> next{0};
    std::atomic<size_t> failed{0};
    auto work = [&] {
        for (size_t i = next++; i < items.size(); i = next++) {
            RenderOptions options = request.render;
            options.input = items[i].input;
            options.output = items[i].output;
            const std::string failure = RenderOne(options, [&progress, i](int value) { progress.Update(i, value); });
            if (!failure.empty()) {
                ++failed;
            }
            progress.Done(i, failure);
        }
    };
    std::vector<std::thread> workers;
    for (unsigned w = 1; w < jobs; ++w) {
        workers.emplace_back(work);
    }
    work();
    for (auto& worker : workers) {
        worker.join();
    }
    progress.Finish();

    if (failed > 0) {
        std::fprintf(stderr, "marlowin-render: %zu of %zu files failed\n", failed.load(), items.size());
        return 1;
    }
    return 0;
}
