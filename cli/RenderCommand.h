#pragma once
#include <string>

#include "dsp/RenderJob.h"

// What the renderer was asked for; cutoffs are in Hz before the clamp to the source's rate.
struct RenderOptions {
    std::string input;
    std::string output;
    double balance = 0.5;
    double lowCutoff = 200.0;
    double highCutoff = 7962.143411069945;
    double mixLevel = 0.2975;
    OutputFormat format;
    bool quiet = false;
};

// The defaults are the window's start positions read through the window's own mappings, so
// that a render with defaults is byte-identical to one from the window.
RenderOptions DefaultRenderOptions();

// Opens, checks and renders options.input to options.output, passing the render's progress
// (0..100) on. Returns "" when done, else the one line "FILE: reason". Safe to run on several
// threads at once for different files.
std::string RenderOne(const RenderOptions& options, const RenderProgress& progress);

// Renders one file with a progress bar on a terminal. Returns the exit status (0 done, 1 failed); a failure prints one line
// naming the file and the reason on stderr.
int RunRenderCommand(const RenderOptions& options);

// One line "FILE: reason" for a source the reader refused.
std::string DescribeOpenFailure(const class TWaveFileReader& reader, const std::string& input);

// One line "FILE: reason" for a failure; empty when status is Ok.
std::string DescribeRenderFailure(RenderStatus status, const std::string& input, const std::string& output);
