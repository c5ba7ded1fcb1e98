#pragma once
// Runs the built marlowin-render in a child process with a CPU-time cap (a hang ends as a
// failure, not as a stuck test) and, outside sanitizer builds, an address-space cap.
#include <sys/resource.h>

#include <string>
#include <vector>

#include "TestProcess.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MARLOWIN_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MARLOWIN_UNDER_SANITIZER 1
#endif
#endif

namespace hardening {

using RunResult = testproc::ProcessResult;

inline RunResult RunRender(const std::vector<std::string>& args, const std::string& scratch)
{
    testproc::RunOptions options;
    options.inChild = [] {
        rlimit cpu{20, 20};
        setrlimit(RLIMIT_CPU, &cpu);
#ifndef MARLOWIN_UNDER_SANITIZER
        // Far below any size a malformed header can claim, far above what a render needs.
        rlimit memory{256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &memory);
#endif
    };
    return testproc::Run(MARLOWIN_RENDER_PROGRAM, args, scratch, options);
}

}  // namespace hardening
