// marlowin-render: the command-line face of the render (and, with --play, of the preview).
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/PlayCommand.h"
#include "cli/RenderCommand.h"

namespace {

constexpr int ExitUsage = 2;

const char* const UsageText =
    "Usage: marlowin-render [options] INPUT.wav OUTPUT.wav\n"
    "       marlowin-render --play [--volume V] [mix options] INPUT.wav\n"
    "\n"
    "Removes the centre-panned part (usually the lead vocal) of a stereo WAV file and\n"
    "writes the result as a normalised mono 16-bit WAV file.\n"
    "\n"
    "Mix options:\n"
    "  --balance B        left/right weighting of the difference, 0 to 1 (default 0.5)\n"
    "  --low-cutoff HZ    low-pass cutoff for the restored bass, 20 to 20000 (default 200)\n"
    "  --high-cutoff HZ   high-pass cutoff for the restored treble, 20 to 20000 (default 7962.14)\n"
    "  --mix M            share of the filtered original, 0 to 1 (default 0.2975)\n"
    "Preview:\n"
    "  --play             play the result through the default sound device instead of writing it\n"
    "  --volume V         preview volume, 0 to 1 (default 0.5)\n"
    "Other:\n"
    "  -q, --quiet        no progress display\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n"
    "\n"
    "Cutoffs above half the source's sample rate are lowered to just below it.\n"
    "Exit status: 0 done, 1 failed, 2 usage error.\n";

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "marlowin-render: %s\nTry 'marlowin-render --help' for more information.\n",
                 message.c_str());
    return ExitUsage;
}

// Parses a whole decimal number within [low, high]; false for anything else.
bool ParseNumber(const std::string& text, double low, double high, double& value)
{
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(parsed) || parsed < low ||
        parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    RenderOptions options = DefaultRenderOptions();
    bool play = false;
    bool volumeGiven = false;
    double volume = 0.5;
    std::vector<std::string> files;

    struct NumberOption {
        const char* name;
        double low, high;
        double* target;
    };
    const NumberOption numberOptions[] = {
        {"--balance", 0.0, 1.0, &options.balance},
        {"--low-cutoff", 20.0, 20000.0, &options.lowCutoff},
        {"--high-cutoff", 20.0, 20000.0, &options.highCutoff},
        {"--mix", 0.0, 1.0, &options.mixLevel},
        {"--volume", 0.0, 1.0, &volume},
    };

    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            endOfOptions = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("marlowin-render %s\n", MARLOWIN_VERSION_TEXT);
            return 0;
        }
        if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (arg == "--play") {
            play = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool haveValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            haveValue = true;
        }
        const NumberOption* option = nullptr;
        for (const auto& candidate : numberOptions) {
            if (name == candidate.name) {
                option = &candidate;
            }
        }
        if (!option) {
            return UsageError("unknown option '" + arg + "'");
        }
        if (!haveValue) {
            if (i + 1 >= argc) {
                return UsageError("option '" + name + "' needs a value");
            }
            value = argv[++i];
        }
        if (!ParseNumber(value, option->low, option->high, *option->target)) {
            char range[64];
            std::snprintf(range, sizeof range, "%g to %g", option->low, option->high);
            return UsageError("invalid value '" + value + "' for " + name + " (expected " + range + ")");
        }
        if (option->target == &volume) {
            volumeGiven = true;
        }
    }

    if (play) {
        if (files.size() != 1) {
            return UsageError("--play takes exactly one input file");
        }
        PlayOptions playOptions;
        playOptions.input = files[0];
        playOptions.balance = options.balance;
        playOptions.lowCutoff = options.lowCutoff;
        playOptions.highCutoff = options.highCutoff;
        playOptions.mixLevel = options.mixLevel;
        playOptions.volume = volume;
        playOptions.quiet = options.quiet;
        return RunPlayCommand(playOptions);
    }
    if (volumeGiven) {
        return UsageError("--volume only applies to --play: the rendered file is always normalised");
    }
    if (files.size() != 2) {
        return UsageError(files.size() < 2 ? "missing input or output file" : "too many files");
    }
    options.input = files[0];
    options.output = files[1];
    return RunRenderCommand(options);
}
