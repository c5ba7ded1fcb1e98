// marlowin-render: the command-line face of the render (and, with --play, of the preview).
#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/Batch.h"
#include "cli/PlayCommand.h"
#include "cli/RenderCommand.h"

namespace {

constexpr int ExitUsage = 2;

const char* const UsageText =
    "Usage: marlowin-render [options] INPUT.wav OUTPUT.wav\n"
    "       marlowin-render [options] -o DIR INPUT.wav...\n"
    "       marlowin-render [options] --suffix TEXT INPUT.wav...\n"
    "       marlowin-render --play [--volume V] [mix options] INPUT.wav\n"
    "\n"
    "Removes the centre-panned part (usually the lead vocal) of a stereo WAV file and\n"
    "writes the result as a normalised WAV file (mono 16-bit unless asked otherwise).\n"
    "Sources: integer PCM of 8 to 32 bits, 32/64-bit float, A-law, mu-law; RIFF or RF64.\n"
    "\n"
    "Mix options:\n"
    "  --balance B        left/right weighting of the difference, 0 to 1 (default 0.5)\n"
    "  --low-cutoff HZ    low-pass cutoff for the restored bass, 20 to 20000 (default 200)\n"
    "  --high-cutoff HZ   high-pass cutoff for the restored treble, 20 to 20000 (default 7962.14)\n"
    "  --mix M            share of the filtered original, 0 to 1 (default 0.2975)\n"
    "Output:\n"
    "  --bits N           8, 16 or 24 bits per sample (default 16)\n"
    "  --channels N       1 (mono) or 2 (the same signal on both channels) (default 1)\n"
    "Several files:\n"
    "  -o, --output-dir DIR\n"
    "                     write DIR/NAME.wav for each INPUT (DIR is created if missing)\n"
    "  --suffix TEXT      name the output NAME + TEXT + .wav (beside the input unless -o)\n"
    "  -j, --jobs N       render N files at a time (default: one per processor core)\n"
    "Preview:\n"
    "  --play             play the result through the default sound device instead of writing it\n"
    "  --volume V         preview volume, 0 to 1 (default 0.5)\n"
    "Other:\n"
    "  -q, --quiet        no progress display\n"
    "  -h, --help         show this help\n"
    "  --version          show the version\n"
    "\n"
    "Cutoffs above half the source's sample rate are lowered to just below it.\n"
    "With several files, a file that fails is reported and the others go on; no output\n"
    "may replace an input or be written from two inputs (the command then stops at once).\n"
    "Exit status: 0 done, 1 failed (any file), 2 usage error or conflicting outputs.\n";

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


// Parses a whole decimal integer that is one of the allowed values; false for anything else.
bool ParseChoice(const std::string& text, std::initializer_list<int> allowed, int& value)
{
    double parsed = 0;
    if (!ParseNumber(text, -1e9, 1e9, parsed) || parsed != std::floor(parsed) ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    for (int candidate : allowed) {
        if (parsed == candidate) {
            value = candidate;
            return true;
        }
    }
    return false;
}

bool ParseJobs(const std::string& text, unsigned& jobs)
{
    double parsed = 0;
    if (text.find_first_not_of("0123456789") != std::string::npos || !ParseNumber(text, 1, 1024, parsed) ||
        parsed != std::floor(parsed)) {
        return false;
    }
    jobs = static_cast<unsigned>(parsed);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    RenderOptions options = DefaultRenderOptions();
    bool play = false;
    bool volumeGiven = false;
    double volume = 0.5;
    BatchRequest batch;
    bool suffixGiven = false;
    bool jobsGiven = false;
    bool formatGiven = false;
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
    // Options that take a value other than a mix number.
    const char* const valueOptions[] = {"--bits", "--channels", "-o", "--output-dir", "--suffix", "-j", "--jobs"};

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
        if (const auto eq = arg.find('='); eq != std::string::npos && arg.compare(0, 2, "--") == 0) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            haveValue = true;
        } else if (arg.size() > 2 && arg[1] != '-' && (arg[1] == 'o' || arg[1] == 'j')) {
            name = arg.substr(0, 2);  // -oDIR, -j4
            value = arg.substr(2);
            haveValue = true;
        }
        const NumberOption* option = nullptr;
        for (const auto& candidate : numberOptions) {
            if (name == candidate.name) {
                option = &candidate;
            }
        }
        const bool takesValue =
            option || std::find(std::begin(valueOptions), std::end(valueOptions), name) != std::end(valueOptions);
        if (!takesValue) {
            return UsageError("unknown option '" + arg + "'");
        }
        if (!haveValue) {
            if (i + 1 >= argc) {
                return UsageError("option '" + name + "' needs a value");
            }
            value = argv[++i];
        }
        if (name == "--bits") {
            if (!ParseChoice(value, {8, 16, 24}, options.format.bits)) {
                return UsageError("invalid value '" + value + "' for --bits (expected 8, 16 or 24)");
            }
            formatGiven = true;
        } else if (name == "--channels") {
            if (!ParseChoice(value, {1, 2}, options.format.channels)) {
                return UsageError("invalid value '" + value + "' for --channels (expected 1 or 2)");
            }
            formatGiven = true;
        } else if (name == "-o" || name == "--output-dir") {
            if (value.empty()) {
                return UsageError("the output folder name is empty");
            }
            batch.outputDir = value;
            batch.haveOutputDir = true;
        } else if (name == "--suffix") {
            batch.suffix = value;
            suffixGiven = true;
        } else if (name == "-j" || name == "--jobs") {
            if (!ParseJobs(value, batch.jobs)) {
                return UsageError("invalid value '" + value + "' for " + name + " (expected 1 to 1024)");
            }
            jobsGiven = true;
        } else if (!ParseNumber(value, option->low, option->high, *option->target)) {
            char range[64];
            std::snprintf(range, sizeof range, "%g to %g", option->low, option->high);
            return UsageError("invalid value '" + value + "' for " + name + " (expected " + range + ")");
        } else if (option->target == &volume) {
            volumeGiven = true;
        }
    }

    const bool isBatch = batch.haveOutputDir || suffixGiven;
    if (play) {
        if (isBatch || jobsGiven || formatGiven) {
            return UsageError("--play writes no file: -o, --suffix, -j, --bits and --channels do not apply");
        }
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
    if (isBatch) {
        if (files.empty()) {
            return UsageError("missing input files");
        }
        if (!batch.haveOutputDir && batch.suffix.empty()) {
            return UsageError("an empty --suffix needs -o DIR: the outputs would replace the inputs");
        }
        batch.render = options;
        batch.inputs = files;
        return RunBatchCommand(batch);
    }
    if (files.size() != 2) {
        return UsageError(files.size() < 2 ? "missing input or output file"
                                           : "too many files (several inputs need -o DIR or --suffix TEXT)");
    }
    options.input = files[0];
    options.output = files[1];
    return RunRenderCommand(options);
}
