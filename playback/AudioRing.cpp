#include "playback/AudioRing.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <new>

namespace {

// SDL counts references to its audio subsystem, but its init and quit are not safe to run
// from two threads at once; players may be made and destroyed on different threads.
std::mutex subsystemLock;

// The device period in frames: a power of two no longer than half a block, so that block
// starts are reached close to when they are due and each callback crosses at most one.
Uint16 DevicePeriodFrames(int32_t blockFrames)
{
    int32_t frames = 4096;
    while (frames > 32 && frames > blockFrames / 2) frames /= 2;
    return static_cast<Uint16>(frames);
}

bool ToSdlFormat(const WAVEFORMATEX& format, SDL_AudioFormat& out)
{
    constexpr uint16_t WaveFormatIeeeFloat = 3;
    if (format.wFormatTag == WAVE_FORMAT_PCM) {
        switch (format.wBitsPerSample) {
        case 8: out = AUDIO_U8; return true;
        case 16: out = AUDIO_S16LSB; return true;
        case 32: out = AUDIO_S32LSB; return true;
        default: return false;  // SDL2 has no 24-bit sample format
        }
    }
    if (format.wFormatTag == WaveFormatIeeeFloat && format.wBitsPerSample == 32) {
        out = AUDIO_F32LSB;
        return true;
    }
    return false;
}

}  // namespace

AudioRing::~AudioRing() { Close(); }

AudioRing::OpenResult AudioRing::Open(const WAVEFORMATEX& format, int32_t blockBytesIn,
                                      int32_t blockCountIn)
{
    Close();

    // The sound system first, as a device is made before its format and ring are looked at.
    {
        std::lock_guard<std::mutex> guard(subsystemLock);
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return OpenResult::NoDevice;
        subsystemHeld = true;
    }

    SDL_AudioSpec want{};
    // The ring is laid out in the caller's frames; a record whose frame size disagrees with
    // its channels and depth would make SDL read it with the wrong stride. A rate of 0 would
    // let SDL pick its own and leave the block duration undefined.
    if (!ToSdlFormat(format, want.format) || format.nChannels == 0 || format.nChannels > 8 ||
        format.nBlockAlign != format.nChannels * (format.wBitsPerSample / 8) || format.nSamplesPerSec == 0 ||
        format.nSamplesPerSec > INT_MAX) {
        Close();
        return OpenResult::BadFormat;
    }

    const int64_t totalBytes = static_cast<int64_t>(blockBytesIn) * blockCountIn;
    if (blockBytesIn <= 0 || blockCountIn < 1 || blockBytesIn % format.nBlockAlign != 0 ||
        totalBytes > INT32_MAX) {
        Close();
        return OpenResult::RingFailed;
    }

    try {
        std::lock_guard<std::mutex> guard(lock);
        ring.reset(new uint8_t[static_cast<size_t>(totalBytes)]);
        raised.assign(static_cast<size_t>(blockCountIn), 0);
    } catch (const std::bad_alloc&) {
        Close();
        return OpenResult::RingFailed;
    }

    want.freq = static_cast<int>(format.nSamplesPerSec);
    want.channels = static_cast<Uint8>(format.nChannels);
    want.samples = DevicePeriodFrames(blockBytesIn / format.nBlockAlign);
    want.callback = &AudioRing::DeviceCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    {
        std::lock_guard<std::mutex> guard(subsystemLock);
        // No changes allowed: SDL converts from exactly our format to whatever the device takes.
        device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    }
    if (device == 0) {
        Close();
        return OpenResult::NoDevice;
    }

    std::lock_guard<std::mutex> guard(lock);
    silence = have.silence;
    std::memset(ring.get(), silence, static_cast<size_t>(totalBytes));
    blockBytes = blockBytesIn;
    blockCount = blockCountIn;
    ringBytes = totalBytes;
    position = 0;
    running = false;
    raisedCount = 0;
    return OpenResult::Ok;
}

void AudioRing::Close()
{
    if (device != 0) {
        // Returns once SDL's audio thread has ended, so the callback cannot run after this.
        std::lock_guard<std::mutex> guard(subsystemLock);
        SDL_CloseAudioDevice(device);
        device = 0;
    }
    if (subsystemHeld) {
        std::lock_guard<std::mutex> guard(subsystemLock);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystemHeld = false;
    }
    std::lock_guard<std::mutex> guard(lock);
    ring.reset();
    raised.clear();
    raisedCount = 0;
    blockBytes = blockCount = 0;
    ringBytes = position = 0;
    running = false;
}

bool AudioRing::WriteBlock(const uint8_t* source, int32_t offset)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!ring || offset < 0 || offset % blockBytes != 0 || offset + int64_t{blockBytes} > ringBytes)
        return false;
    std::memcpy(ring.get() + offset, source, static_cast<size_t>(blockBytes));
    return true;
}

void AudioRing::Start()
{
    if (device == 0) return;
    {
        std::lock_guard<std::mutex> guard(lock);
        position = 0;
        std::fill(raised.begin(), raised.end(), 0);
        raisedCount = 0;
        running = true;
        // Block 0's start is reached the moment playback begins there.
        RaiseLocked(0);
    }
    signalled.notify_all();
    SDL_PauseAudioDevice(device, 0);
}

void AudioRing::Stop()
{
    if (device == 0) return;
    {
        std::lock_guard<std::mutex> guard(lock);
        running = false;
    }
    // Takes SDL's device lock, so no callback is midway once this returns.
    SDL_PauseAudioDevice(device, 1);
}

bool AudioRing::IsRunning() const
{
    std::lock_guard<std::mutex> guard(lock);
    return running;
}

int AudioRing::WaitForAnyBlock(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> guard(lock);
    if (!signalled.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return raisedCount > 0; }))
        return -1;
    for (size_t i = 0; i < raised.size(); ++i) {
        if (raised[i]) {
            raised[i] = 0;
            --raisedCount;
            return static_cast<int>(i);
        }
    }
    return -1;
}

void AudioRing::RaiseLocked(int32_t block)
{
    if (!raised[static_cast<size_t>(block)]) {
        raised[static_cast<size_t>(block)] = 1;
        ++raisedCount;
    }
}

void AudioRing::DeviceCallback(void* userData, uint8_t* stream, int len)
{
    static_cast<AudioRing*>(userData)->FillFromRing(stream, len);
}

void AudioRing::FillFromRing(uint8_t* stream, int len)
{
    bool any = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!running || !ring) {
            std::memset(stream, silence, static_cast<size_t>(len));
            return;
        }
        int64_t done = 0;
        while (done < len) {
            const int64_t chunk = std::min<int64_t>(len - done, ringBytes - position);
            std::memcpy(stream + done, ring.get() + position, static_cast<size_t>(chunk));
            // Every block start passed on the way, the end of the ring being block 0's.
            const int64_t before = position;
            position += chunk;
            done += chunk;
            for (int64_t start = (before / blockBytes + 1) * blockBytes; start <= position; start += blockBytes) {
                RaiseLocked(static_cast<int32_t>((start / blockBytes) % blockCount));
                any = true;
            }
            if (position == ringBytes) position = 0;
        }
    }
    if (any) signalled.notify_all();
}
