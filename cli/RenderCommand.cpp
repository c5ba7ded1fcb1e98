#include "cli/RenderCommand.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

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
    return input + ": unsupported format (integer PCM of 8, 16 or 24 bits is needed)";
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

namespace {

// A one-line bar on stderr, redrawn only when the value moves.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    ~ProgressBar() { Finish(); }
    void Show(int percent)
    {
        if (!enabled_ || percent == last_) {
            return;
        }
        last_ = percent;
        constexpr int width = 40;
        const int filled = percent * width / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(width - filled, ' ').c_str(), percent);
        std::fflush(stderr);
    }
    void Finish()
    {
        if (enabled_ && last_ >= 0) {
            std::fputc('\n', stderr);
            last_ = -1;
        }
    }

private:
    bool enabled_;
    int last_ = -1;
};

}  // namespace

int RunRenderCommand(const RenderOptions& options)
{
    TWaveFileReader reader;
    if (!reader.Open(options.input)) {
        std::fprintf(stderr, "marlowin-render: %s\n", DescribeOpenFailure(reader, options.input).c_str());
        return 1;
    }
    if (reader.Format.nChannels != 2) {
        std::fprintf(stderr, "marlowin-render: %s: not stereo (%u channels); only 2-channel sources can be processed\n",
                     options.input.c_str(), static_cast<unsigned>(reader.Format.nChannels));
        return 1;
    }

    const uint32_t rate = reader.Format.nSamplesPerSec;
    MixParameters params;
    params.balance = options.balance;
    params.mixLevel = options.mixLevel;
    params.lowCutoff = ControlValues::ClampCutoff(options.lowCutoff, rate);
    params.highCutoff = ControlValues::ClampCutoff(options.highCutoff, rate);

    auto mixer = std::make_unique<VocalCancelMixer>();
    mixer->PrepareFilters(rate);

    ProgressBar bar(!options.quiet && isatty(STDERR_FILENO));
    const RenderStatus status = RenderToFile(reader, options.input, *mixer, options.output, params,
                                             [&bar](int value) { bar.Show(value); }, options.format);
    bar.Finish();
    if (status != RenderStatus::Ok) {
        std::fprintf(stderr, "marlowin-render: %s\n",
                     DescribeRenderFailure(status, options.input, options.output).c_str());
        return 1;
    }
    return 0;
}
