#pragma once
#include <cstdint>
#include <functional>
#include <string>

class TWaveFileReader;
class VocalCancelMixer;

struct MixParameters {
    double balance = 0.5;
    double lowCutoff = 200.0;    // Hz, already clamped below half the sample rate
    double highCutoff = 2000.0;  // Hz, likewise
    double mixLevel = 0.0;
};

struct OutputFormat {
    int32_t bits = 16;
    int32_t channels = 1;
};

enum class RenderStatus {
    Ok,
    CannotCreate,   // the output (or its temporary file) cannot be created or put in place
    SameAsSource,   // the output names the source file itself
    WriteFailed,    // a write, the final flush or the close failed
    SourceChanged,  // the second pass read other frames than the first: the source changed
};

// Receives the progress bar's value: 0..50 during the first pass, 50..100 during the second.
using RenderProgress = std::function<void(int)>;

// The two-pass normalising render of an open reader to a mono file. The filters of mixer
// must exist. The output is written beside the destination and renamed over it only when
// complete, so a failure leaves no partial file and an existing destination untouched.
// The reader is left at the end of its data; the caller rewinds it.
RenderStatus RenderToFile(TWaveFileReader& reader, const std::string& sourcePath,
                          VocalCancelMixer& mixer, const std::string& outputPath,
                          const MixParameters& params, const RenderProgress& progress,
                          OutputFormat format = {});

// True when the two paths name the same existing file, whatever the spelling or links.
bool IsSameFile(const std::string& a, const std::string& b);
