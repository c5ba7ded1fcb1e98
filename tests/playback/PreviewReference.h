#pragma once
// An independent walk through the preview's block steps, for comparing what the feed or the
// player produced: read, pad with silence, mix at the volume gain, convert.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "dsp/VocalCancelMixer.h"
#include "playback/Waveutils.h"
#include "wave/Wavefile.h"

struct PreviewSettings {
    double balance = 0.5;
    double mixLevel = 0.2975;
    double volume = 0.5;
    double lowCutoff = 200.0;
    double highCutoff = 7962.0;
};

class PreviewReference {
public:
    PreviewReference(const std::string& path, const PreviewSettings& s) : settings(s)
    {
        reader.Open(path);
        mixer.PrepareFilters(reader.Format.nSamplesPerSec);
        mixer.LowPassFilter->SetCutoff(s.lowCutoff);
        mixer.LowPassFilter->Reset();
        mixer.HighPassFilter->SetCutoff(s.highCutoff);
        mixer.HighPassFilter->Reset();
    }

    // One block of frames mono 16-bit bytes; framesRead gets what the source gave.
    std::vector<uint8_t> Next(uint32_t frames, uint32_t* framesRead = nullptr)
    {
        const uint32_t n = reader.Read(mixer.LeftBuffer, mixer.RightBuffer, frames);
        std::fill(mixer.LeftBuffer + n, mixer.LeftBuffer + frames, 0.0);
        std::fill(mixer.RightBuffer + n, mixer.RightBuffer + frames, 0.0);
        mixer.MixBlock(frames, settings.balance, settings.mixLevel, settings.volume);
        std::vector<uint8_t> bytes(2 * size_t{frames});
        ConvertToPcm16(bytes.data(), mixer.MixBuffer, frames);
        if (framesRead) *framesRead = n;
        return bytes;
    }

    PreviewSettings settings;
    TWaveFileReader reader;
    VocalCancelMixer mixer;
};
