#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "wave/WaveFormat.h"

// The player's sound output: a looping ring of BlockCount x BlockBytes bytes played on the
// default output device, with an auto-reset signal per block raised each time the play
// position reaches that block's start. This is the only code that talks to SDL, so another
// platform only swaps this file pair.
//
// The SDL callback only copies out of the ring and raises signals; it takes the ring's lock
// for no longer than one memcpy and never waits for the feeder.
class AudioRing {
public:
    enum class OpenResult {
        Ok,
        NoDevice,     // the audio subsystem or the default output device cannot be opened
        BadFormat,    // the format cannot be expressed to the device
        RingFailed,   // the ring's size is unusable or its memory cannot be had
    };

    AudioRing() = default;
    ~AudioRing();
    AudioRing(const AudioRing&) = delete;
    AudioRing& operator=(const AudioRing&) = delete;

    // Opens the default output device in exactly this format (SDL converts to whatever the
    // hardware wants) and allocates a zeroed ring. The device starts stopped.
    OpenResult Open(const WAVEFORMATEX& format, int32_t blockBytes, int32_t blockCount);
    void Close();

    // Copies BlockBytes bytes from source into the ring at offset (a block start). Safe while
    // the ring plays. False for an offset that is not a block start inside the ring.
    bool WriteBlock(const uint8_t* source, int32_t offset);

    // Plays the ring in a loop from position 0. Clears stale signals and raises block 0's.
    void Start();
    // Stops playing; no further signals are raised until the next Start.
    void Stop();
    bool IsRunning() const;

    // Waits until any block signal is raised, clears it (auto-reset) and returns its index;
    // the lowest index wins when several are raised. -1 after timeoutMs without a signal.
    int WaitForAnyBlock(uint32_t timeoutMs);

    // The byte value the device treats as silence in this format (0x80 for 8-bit, else 0).
    uint8_t SilenceByte() const { return silence; }

private:
    static void DeviceCallback(void* userData, uint8_t* stream, int len);
    void FillFromRing(uint8_t* stream, int len);
    void RaiseLocked(int32_t block);

    uint32_t device = 0;        // SDL_AudioDeviceID; 0 = none
    bool subsystemHeld = false; // this object holds one reference on SDL's audio subsystem
    uint8_t silence = 0;

    mutable std::mutex lock;    // guards everything below
    std::condition_variable signalled;
    std::unique_ptr<uint8_t[]> ring;
    int32_t blockBytes = 0;
    int32_t blockCount = 0;
    int64_t ringBytes = 0;
    int64_t position = 0;       // next byte of the ring the device will take
    bool running = false;
    std::vector<uint8_t> raised; // one auto-reset flag per block
    int32_t raisedCount = 0;
};
