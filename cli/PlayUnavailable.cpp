// Stands in for the preview in builds without the SDL audio layer.
#include <cstdio>

#include "cli/PlayCommand.h"

int RunPlayCommand(const PlayOptions& options)
{
    std::fprintf(stderr, "marlowin-render: %s: this build has no sound output (built without SDL2)\n",
                 options.input.c_str());
    return 1;
}
