#pragma once
#include <string>
#include <vector>

#include "cli/RenderCommand.h"

// `marlowin-render [options] -o DIR IN...` or `--suffix TEXT IN...`: many sources, one command.
struct BatchRequest {
    RenderOptions render;  // the mix and output format for every file; input/output unused
    std::vector<std::string> inputs;
    std::string outputDir;  // used when haveOutputDir
    bool haveOutputDir = false;
    std::string suffix;  // appended to each source's name; may be empty with an output folder
    unsigned jobs = 0;   // renders at a time; 0 means one per core
};

struct BatchItem {
    std::string input;
    std::string output;
};

// Works out every output: DIR/<name><suffix>.wav with an output folder, else
// <name><suffix>.wav beside the source, where <name> is the source's file name without its
// extension. Returns "" or, when the plan would lose data (two sources writing one output,
// an output that is one of the sources), one line naming the files.
std::string PlanBatch(const BatchRequest& request, std::vector<BatchItem>& items);

// Plans and renders; returns the exit status: 0 all done, 1 any file failed (each reported
// with its reason while the others go on), 2 a plan that would lose data (nothing started).
int RunBatchCommand(const BatchRequest& request);
