#pragma once
// Runs the built marlowin-render in a child process with a CPU-time cap (a hang ends as a
// failure, not as a stuck test) and, outside sanitizer builds, an address-space cap.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "WavBuilder.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MARLOWIN_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MARLOWIN_UNDER_SANITIZER 1
#endif
#endif

namespace hardening {

struct RunResult {
    int status = -1;  // exit status; -1 when killed by a signal
    int signal = 0;
    std::string err;
};

inline RunResult RunRender(const std::vector<std::string>& args, const std::string& scratch)
{
    const std::string errPath = scratch + "/.stderr";
    std::vector<std::string> all = {MARLOWIN_RENDER_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = ::open("/dev/null", O_WRONLY);
        if (err < 0 || null < 0) _exit(127);
        dup2(null, 1);
        dup2(err, 2);
        rlimit cpu{20, 20};
        setrlimit(RLIMIT_CPU, &cpu);
#ifndef MARLOWIN_UNDER_SANITIZER
        // Far below any size a malformed header can claim, far above what a render needs.
        rlimit memory{256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &memory);
#endif
        execv(argv[0], argv.data());
        _exit(127);
    }
    RunResult result;
    int wstatus = 0;
    if (child > 0 && waitpid(child, &wstatus, 0) == child) {
        if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
        if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
    }
    const auto err = wavtest::ReadFile(errPath);
    result.err.assign(err.begin(), err.end());
    ::unlink(errPath.c_str());
    return result;
}

}  // namespace hardening
