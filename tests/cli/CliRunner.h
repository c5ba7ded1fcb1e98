#pragma once
// Runs marlowin-render in a child process and collects what it said and how it ended.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "TestProcess.h"

using CliResult = testproc::ProcessResult;

// fileSizeLimit > 0 caps the size of every file the program writes, so that a write fails
// as on a full disk.
inline CliResult RunRender(const std::vector<std::string>& args, const std::string& scratch, long fileSizeLimit = 0)
{
    testproc::RunOptions options;
    if (fileSizeLimit > 0) options.inChild = [fileSizeLimit] { testproc::LimitFileSize(static_cast<rlim_t>(fileSizeLimit)); };
    return testproc::Run(MARLOWIN_RENDER_PROGRAM, args, scratch, options);
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
    const pid_t child = testproc::Spawn(MARLOWIN_RENDER_PROGRAM, args, [&] {
        const int slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        const int null = ::open("/dev/null", O_WRONLY);
        if (slave < 0 || null < 0) _exit(127);
        dup2(null, 1);
        dup2(slave, 2);
        ::close(master);
    });
    if (child < 0) {
        ::close(master);
        return result;
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
    testproc::NoteEnd(wstatus, result);
    // The terminal turns line ends into CR LF.
    result.err.erase(std::remove(result.err.begin(), result.err.end(), '\r'), result.err.end());
    return result;
}
