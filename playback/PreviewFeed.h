#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "wave/WaveFormat.h"

class TWaveFileReader;
class VocalCancelMixer;

// What the preview callback needs, handed over between the user-interface thread and the
// player's feeder thread without ever making the feeder wait for the user-interface thread:
// - slider values are atomics, read whole once per block;
// - a seek or a cutoff change takes the block lock, so it lands between blocks, never inside
//   a read or a filter pass (the user-interface thread never holds it while waiting for the feeder);
// - the position-bar value is left in an atomic for the user-interface thread to pick up.
// The preview is always mono 16-bit PCM at the source's rate, whatever the source's depth,
// played through a ring of PreviewBlockCount blocks of BlockFrames frames.
WAVEFORMATEX PreviewFormat(uint32_t sampleRate);
constexpr int32_t PreviewBlockCount = 4;

class PreviewFeed {
public:
    PreviewFeed(TWaveFileReader& reader, VocalCancelMixer& mixer);

    void SetBalance(double value) { balance.store(value); }
    void SetMixLevel(double value) { mixLevel.store(value); }
    void SetVolume(double value) { volume.store(value); }
    double Balance() const { return balance.load(); }
    double MixLevel() const { return mixLevel.load(); }
    double Volume() const { return volume.load(); }

    // Thread-safe while the preview plays; takes effect at the next block.
    void Seek(double fraction);
    void SetLowCutoff(double hz);
    void SetHighCutoff(double hz);

    // The newest position-bar value (0..PositionBarMax) the feed has left since the last call,
    // or -1 when there is none.
    int TakeBarValue() { return barValue.exchange(-1); }
    // The source position (0.0..1.0) seen before the newest block was read; finer than the
    // bar value, for displays that show time.
    double LastPosition() const { return lastPosition.load(); }

    // One preview block: see PreviewCallback.
    uint32_t FillBlock(uint8_t* buffer, uint32_t byteCount);

private:
    TWaveFileReader& reader;
    VocalCancelMixer& mixer;
    std::mutex blockLock;
    std::atomic<double> balance{0.5};
    std::atomic<double> mixLevel{0.2975};
    std::atomic<double> volume{0.5};
    std::atomic<int> barValue{-1};
    std::atomic<double> lastPosition{0.0};
};

// The player's fill callback; userData is a PreviewFeed. Fills byteCount bytes of mono 16-bit
// preview audio and returns the frames read from the source, 0 once it is exhausted.
uint32_t PreviewCallback(uint8_t* buffer, uint32_t byteCount, void* userData);
