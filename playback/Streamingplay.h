#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "wave/WaveFormat.h"

class AudioRing;

// The fill callback: fill byteCount bytes at buffer; return 0 when there is no more audio.
using FillCallback = uint32_t (*)(uint8_t* buffer, uint32_t byteCount, void* userData);

// Thrown by the player's constructor; what() is the UTF-8 message to show the user.
class EStreamingPlayError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Plays an endless stream that a callback produces block by block, through a looping ring
// of BlockCount blocks refilled by a feeder thread.
class TStreamingPlay {
public:
    TStreamingPlay(const WAVEFORMATEX& format, int32_t blockFrames, int32_t blockCount);
    ~TStreamingPlay();
    TStreamingPlay(const TStreamingPlay&) = delete;
    TStreamingPlay& operator=(const TStreamingPlay&) = delete;

    // Starts the feeder. False (and IsPlaying false) when the thread cannot be started.
    bool Play(FillCallback callback, void* userData);
    // Stops the ring; the feeder notices through its wait time-out and ends by itself.
    bool Stop();
    bool IsPlaying() const { return isPlaying.load(); }

    int32_t BlockBytes = 0;
    int32_t BlockCount = 0;
    double BlockSeconds = 0.0;

private:
    struct FeedRecord {
        TStreamingPlay* player = nullptr;
        FillCallback callback = nullptr;
        void* userData = nullptr;
    };
    static void FeederThreadProc(FeedRecord* record);
    bool WriteBlock(const uint8_t* source, int32_t offset);
    void ReleaseAll();

    std::unique_ptr<AudioRing> ring;
    std::unique_ptr<uint8_t[]> WorkBuffer;
    FeedRecord feedRecord;
    std::thread feeder;
    std::atomic<bool> isPlaying{false};
    // Set by Stop, cleared by Play: lets a feeder that starts the ring after an early Stop
    // stop it again instead of playing on with nobody to stop it.
    std::atomic<bool> stopRequested{false};
};
