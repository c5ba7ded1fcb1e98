#pragma once
#include <string>

// What `marlowin-render --play` was asked for. Cutoffs are in Hz before the clamp to the
// source's rate; balance, mix level and volume are 0..1.
struct PlayOptions {
    std::string input;
    double balance = 0.5;
    double lowCutoff = 200.0;
    double highCutoff = 7962.143411069945;
    double mixLevel = 0.2975;
    double volume = 0.5;
    bool quiet = false;
};

// Plays the preview of options.input through the default sound device until the source has
// drained or the user presses Ctrl-C. Returns the process exit status (0 done, 1 failure);
// failures are printed as one line naming the file and the reason.
int RunPlayCommand(const PlayOptions& options);
