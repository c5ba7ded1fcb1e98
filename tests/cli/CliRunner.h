#pragma once
// Runs marlowin-render in a child process and collects what it said and how it ended.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "WavBuilder.h"

struct CliResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
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

// fileSizeLimit > 0 caps the size of every file the program writes (RLIMIT_FSIZE, with
// SIGXFSZ ignored so that the write fails as on a full disk).
inline CliResult RunRender(const std::vector<std::string>& args, const std::string& scratch, long fileSizeLimit = 0)
{
    const std::string outPath = scratch + "/.stdout";
    const std::string errPath = scratch + "/.stderr";
    std::vector<std::string> all = {MARLOWIN_RENDER_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        if (fileSizeLimit > 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    CliResult result;
    int wstatus = 0;
    if (child > 0 && waitpid(child, &wstatus, 0) == child && WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    }
    const auto out = wavtest::ReadFile(outPath);
    const auto err = wavtest::ReadFile(errPath);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    return result;
}

// The files in a folder, hidden ones included (left-over temporary files are hidden).
inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the program with stderr on a pseudo-terminal and returns all it wrote there, or
// status -1 when no terminal can be had.
inline CliResult RunRenderOnTerminal(const std::vector<std::string>& args)
{
    CliResult result;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (master >= 0) ::close(master);
        return result;
    }
    const std::string slaveName = ptsname(master);
    std::vector<std::string> all = {MARLOWIN_RENDER_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        const int null = ::open("/dev/null", O_WRONLY);
        if (slave < 0 || null < 0) _exit(127);
        dup2(null, 1);
        dup2(slave, 2);
        ::close(master);
        execv(argv[0], argv.data());
        _exit(127);
    }
    // Drain the terminal while the program runs, so that it never blocks on a full buffer.
    int wstatus = 0;
    bool exited = false;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                result.err.append(buffer, static_cast<size_t>(n));
                continue;
            }
        }
        if (exited) break;  // one more empty poll after the exit: everything is read
        exited = waitpid(child, &wstatus, WNOHANG) == child;
    }
    ::close(master);
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    // The terminal turns line ends into CR LF.
    result.err.erase(std::remove(result.err.begin(), result.err.end(), '\r'), result.err.end());
    return result;
}
