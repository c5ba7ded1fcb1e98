#pragma once
// Helpers for driving the player headless: environment switches for SDL's dummy and disk
// drivers, bounded waits, and reading back what the disk driver recorded.
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "WavBuilder.h"
#include "playback/PreviewFeed.h"
#include "playback/Streamingplay.h"

// Sets an environment variable for the life of the object; SDL reads these when its audio
// subsystem starts, which the player does each time no other player holds it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

inline WAVEFORMATEX MonoPcm16(uint32_t rate) { return PreviewFormat(rate); }

// Polls IsPlaying the way the window does; false if the feeder is still running at the limit.
inline bool WaitUntilStopped(const TStreamingPlay& player, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (player.IsPlaying()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The 16-bit samples the disk driver wrote.
inline std::vector<int16_t> ReadSamples(const std::string& path)
{
    const auto bytes = wavtest::ReadFile(path);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return samples;
}
