#include "playback/Streamingplay.h"

#include <cstring>
#include <limits>
#include <new>
#include <system_error>

#include "playback/AudioRing.h"

namespace {

const char* const TooFewBlocksText = "ブロック数は2以上でなければなりません。";
const char* const DeviceFailedText = "DirectSoundの初期化に失敗しました。";
const char* const FormatFailedText = "プライマリバッファの作成に失敗しました。";
const char* const RingFailedText = "サウンドバッファの作成に失敗しました。";

}  // namespace

TStreamingPlay::TStreamingPlay(const WAVEFORMATEX& format, int32_t blockFrames, int32_t blockCount)
{
    if (blockCount < 2) throw EStreamingPlayError(TooFewBlocksText);

    // A product beyond 32 bits is no usable block; the ring refuses a size of 0.
    const int64_t bytes = int64_t{blockFrames} * format.nBlockAlign;
    BlockBytes = (bytes > 0 && bytes <= std::numeric_limits<int32_t>::max()) ? static_cast<int32_t>(bytes) : 0;
    BlockCount = blockCount;
    BlockSeconds = format.nSamplesPerSec != 0
                       ? static_cast<double>(blockFrames) / static_cast<double>(format.nSamplesPerSec)
                       : 0.0;

    ring = std::make_unique<AudioRing>();
    const char* failure = nullptr;
    switch (ring->Open(format, BlockBytes, BlockCount)) {
    case AudioRing::OpenResult::Ok: break;
    case AudioRing::OpenResult::NoDevice: failure = DeviceFailedText; break;
    case AudioRing::OpenResult::BadFormat: failure = FormatFailedText; break;
    case AudioRing::OpenResult::RingFailed: failure = RingFailedText; break;
    }
    if (!failure) {
        WorkBuffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(BlockBytes)]);
        if (!WorkBuffer) failure = RingFailedText;
    }
    if (failure) {
        ReleaseAll();
        throw EStreamingPlayError(failure);
    }
}

TStreamingPlay::~TStreamingPlay()
{
    // With the ring stopped the feeder leaves at its next wait time-out at the latest.
    Stop();
    if (feeder.joinable()) feeder.join();
    ReleaseAll();
}

void TStreamingPlay::ReleaseAll()
{
    WorkBuffer.reset();
    ring.reset();
}

bool TStreamingPlay::Play(FillCallback callback, void* userData)
{
    // One run at a time: the record and the work buffer belong to the running feeder.
    if (isPlaying.load() || !ring || !callback) return false;
    if (feeder.joinable()) feeder.join();

    feedRecord.player = this;
    feedRecord.callback = callback;
    feedRecord.userData = userData;
    stopRequested.store(false);
    isPlaying.store(true);
    try {
        feeder = std::thread(FeederThreadProc, &feedRecord);
    } catch (const std::system_error&) {
        // Nobody will ever clear the flag otherwise, and the owner's wait would never end.
        isPlaying.store(false);
        return false;
    }
    return true;
}

bool TStreamingPlay::Stop()
{
    stopRequested.store(true);
    if (ring) ring->Stop();
    return true;
}

bool TStreamingPlay::WriteBlock(const uint8_t* source, int32_t offset)
{
    return ring->WriteBlock(source, offset);
}

void TStreamingPlay::FeederThreadProc(FeedRecord* record)
{
    TStreamingPlay* const player = record->player;
    AudioRing& ring = *player->ring;
    uint8_t* const work = player->WorkBuffer.get();
    const int32_t blockBytes = player->BlockBytes;
    const int32_t blockCount = player->BlockCount;

    // Silence in every block but the last, which the first callback's block fills before
    // the play position gets there.
    for (int32_t i = 0; i <= blockCount - 2; ++i) {
        std::memset(work, ring.SilenceByte(), static_cast<size_t>(blockBytes));
        if (!player->WriteBlock(work, i * blockBytes)) {
            player->isPlaying.store(false);
            return;
        }
    }

    ring.Start();
    // A Stop that came before the ring was started would otherwise be lost.
    if (player->stopRequested.load()) ring.Stop();

    // Twice the block duration: once the ring stops no block start is reached any more,
    // which is how an external Stop is noticed.
    const double timeoutMs = 2000.0 * player->BlockSeconds;
    const uint32_t waitMs = timeoutMs >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(timeoutMs);

    int32_t k = blockCount - 1;
    int32_t drain = blockCount - 1;
    while (drain > 0) {
        if (ring.WaitForAnyBlock(waitMs) < 0) break;
        uint32_t n = 0;
        try {
            n = record->callback(work, static_cast<uint32_t>(blockBytes), record->userData);
        } catch (...) {
            // An exception cannot cross the thread's end; treat it like a failed write.
            break;
        }
        if (n != 0) {
            if (!player->WriteBlock(work, k * blockBytes)) break;
        } else {
            --drain;
        }
        k = (k + 1) % blockCount;
    }

    // On every way out, so a stalled feed never leaves the ring looping its last blocks.
    ring.Stop();
    player->isPlaying.store(false);
}
