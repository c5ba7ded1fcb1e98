#include "cli/RenderCommand.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/ProgressBar.h"
#include "dsp/ControlValues.h"
#include "dsp/VocalCancelMixer.h"
#include "wave/Wavefile.h"

RenderOptions DefaultRenderOptions()
{
    using namespace ControlValues;
    RenderOptions options;
    options.balance = PositionToFraction(FractionToPosition(DefaultBalance, 0, BalanceMax), 0, BalanceMax);
    options.mixLevel = PositionToFraction(FractionToPosition(DefaultMixLevel, 0, MixLevelMax), 0, MixLevelMax);
    options.lowCutoff = PositionToCutoff(DefaultLowCutoffPosition());
    options.highCutoff = PositionToCutoff(DefaultHighCutoffPosition());
    return options;
}

std::string DescribeOpenFailure(const TWaveFileReader& reader, const std::string& input)
{
    switch (reader.LastError()) {
    case WaveOpenError::CannotOpen:
        return input + ": the file is missing or unreadable";
    case WaveOpenError::NotRiffWave:
        return input + ": not a RIFF/WAVE file";
    case WaveOpenError::UnsupportedFormat:
    case WaveOpenError::None:
        break;
    }
    const std::string& detail = reader.LastErrorDetail();
    return input + ": unsupported format" + (detail.empty() ? std::string() : " (" + detail + ")");
}

std::string DescribeRenderFailure(RenderStatus status, const std::string& input, const std::string& output)
{
    switch (status) {
    case RenderStatus::Ok:
        return {};
    case RenderStatus::CannotCreate:
        return output + ": the output cannot be created";
    case RenderStatus::SameAsSource:
        return output + ": the output is the input file";
    case RenderStatus::WriteFailed:
        return output + ": a write failed (disk full or I/O error); nothing was written";
    case RenderStatus::SourceChanged:
        return input + ": the file changed while it was read; nothing was written";
    }
    return output + ": render failed";
}

std::string RenderOne(const RenderOptions& options, const RenderProgress& progress)
{
    TWaveFileReader reader;
    if (!reader.Open(options.input)) {
        return DescribeOpenFailure(reader, options.input);
    }
    if (reader.Format.nChannels != 2) {
        const unsigned channels = reader.Format.nChannels;
        return options.input + ": not stereo (" + std::to_string(channels) + (channels == 1 ? " channel" : " channels") +
               "); only 2-channel sources can be processed";
    }

    const uint32_t rate = reader.Format.nSamplesPerSec;
    MixParameters params;
    params.balance = options.balance;
    params.mixLevel = options.mixLevel;
    params.lowCutoff = ControlValues::ClampCutoff(options.lowCutoff, rate);
    params.highCutoff = ControlValues::ClampCutoff(options.highCutoff, rate);

    // Each render has its own mixer: the core's render shares nothing between separate objects.
    auto mixer = std::make_unique<VocalCancelMixer>();
    mixer->PrepareFilters(rate);
    const RenderStatus status =
        RenderToFile(reader, options.input, *mixer, options.output, params, progress, options.format);
    return DescribeRenderFailure(status, options.input, options.output);
}

int RunRenderCommand(const RenderOptions& options)
{
    ProgressBar bar(!options.quiet && isatty(STDERR_FILENO));
    const std::string failure = RenderOne(options, [&bar](int value) { bar.Show(value); });
    bar.Finish();
    if (!failure.empty()) {
        std::fprintf(stderr, "marlowin-render: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}
