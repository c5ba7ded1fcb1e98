#pragma once
// Running a built program in a child process as a user would, and a file size limit that
// makes writes fail as on a full disk.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace testproc {

// Past `bytes` a write fails with EFBIG instead of raising SIGXFSZ, as on a full disk. It
// applies to the whole process and to every program it starts afterwards.
inline void LimitFileSize(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

// LimitFileSize for the life of the object; lift it before checking what was written.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : previous_(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        LimitFileSize(bytes);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    void (*previous_)(int) = nullptr;
    rlimit saved_{};
};

struct ProcessResult {
    int status = -1;  // exit status; -1 when the program did not exit normally
    int signal = 0;   // the signal that ended it; 0 when it exited
    std::string out;
    std::string err;

    // Lines of stderr, without their line ends.
    std::vector<std::string> ErrLines() const
    {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < err.size()) {
            size_t end = err.find('\n', start);
            if (end == std::string::npos) end = err.size();
            lines.push_back(err.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
};

// Starts program with args. inChild runs in the child just before the exec (redirections,
// limits) and calls _exit(127) when it cannot do its part. The child's id, or -1.
inline pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
                   const std::function<void()>& inChild)
{
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        if (inChild) inChild();
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// How a child ended, from the status waitpid gave for it.
inline void NoteEnd(int wstatus, ProcessResult& result)
{
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
}

struct RunOptions {
    std::function<void()> inChild;            // limits to set in the child before the exec
    std::function<void(pid_t)> whileRunning;  // runs in the test while the child runs
};

// Runs program with args to its end. Its stdout and stderr go through files in scratch,
// which are removed again, so a chatty program never blocks on a full pipe.
inline ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                         const std::string& scratch, const RunOptions& options = {})
{
    const std::string outPath = scratch + "/.stdout";
    const std::string errPath = scratch + "/.stderr";
    const pid_t child = Spawn(program, args, [&] {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        if (options.inChild) options.inChild();
    });
    ProcessResult result;
    if (child > 0) {
        if (options.whileRunning) options.whileRunning(child);
        int wstatus = 0;
        if (waitpid(child, &wstatus, 0) == child) NoteEnd(wstatus, result);
    }
    const auto slurp = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    return result;
}

}  // namespace testproc
