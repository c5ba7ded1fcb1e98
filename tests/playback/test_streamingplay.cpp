#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

#include "PlayerTestSupport.h"
#include "PreviewReference.h"
#include "playback/PreviewFeed.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t Rate = 44100;
constexpr int32_t Frames = 2048;
const auto BlockTime = std::chrono::microseconds(Frames * 1000000LL / Rate);

std::string ConstructionError(const WAVEFORMATEX& format, int32_t frames, int32_t blocks)
{
    try {
        TStreamingPlay player(format, frames, blocks);
    } catch (const EStreamingPlayError& e) {
        return e.what();
    }
    return "";
}

// A scripted feed: the first nonZeroCalls calls (all, if forever) fill the block with the
// sample value base + call number and return the frame count; the others fill it with
// ZeroCallValue and return 0, a value that must therefore never be heard.
constexpr int16_t ZeroCallValue = 0x7777;
struct Script {
    int nonZeroCalls = 0;
    bool forever = false;
    int16_t base = 100;
    std::atomic<int> calls{0};
};

uint32_t ScriptCallback(uint8_t* buffer, uint32_t byteCount, void* userData)
{
    auto* script = static_cast<Script*>(userData);
    const int call = ++script->calls;
    const bool more = script->forever || call <= script->nonZeroCalls;
    const int16_t value = more ? static_cast<int16_t>(script->base + call) : ZeroCallValue;
    for (uint32_t i = 0; i + 1 < byteCount; i += 2) {
        buffer[i] = static_cast<uint8_t>(value & 0xFF);
        buffer[i + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
    }
    return more ? byteCount / 2 : 0;
}

TEST(StreamingPlayConstruction, MeasuresItsRing)
{
    TStreamingPlay player(MonoPcm16(Rate), 2048, 4);
    EXPECT_EQ(player.BlockBytes, 4096);
    EXPECT_EQ(player.BlockCount, 4);
    EXPECT_EQ(player.BlockSeconds, 2048.0 / 44100.0);
    EXPECT_EQ(static_cast<int>(2000.0 * player.BlockSeconds), 92);
    EXPECT_FALSE(player.IsPlaying());
}

TEST(StreamingPlayConstruction, RefusesWithTheSystemsTexts)
{
    EXPECT_EQ(ConstructionError(MonoPcm16(Rate), Frames, 1), "ブロック数は2以上でなければなりません。");
    EXPECT_EQ(ConstructionError(MonoPcm16(Rate), Frames, 0), "ブロック数は2以上でなければなりません。");
    EXPECT_EQ(ConstructionError(MonoPcm16(Rate), Frames, 2), "");

    WAVEFORMATEX deep = MonoPcm16(Rate);  // no 24-bit output format to hand the device
    deep.wBitsPerSample = 24;
    deep.nBlockAlign = 3;
    EXPECT_EQ(ConstructionError(deep, Frames, 4), "プライマリバッファの作成に失敗しました。");
    EXPECT_EQ(ConstructionError(MonoPcm16(0), Frames, 4), "プライマリバッファの作成に失敗しました。");

    EXPECT_EQ(ConstructionError(MonoPcm16(Rate), 0, 4), "サウンドバッファの作成に失敗しました。");
    EXPECT_EQ(ConstructionError(MonoPcm16(Rate), 0x40000000, 4), "サウンドバッファの作成に失敗しました。");
}

TEST(StreamingPlayConstruction, NoUsableDeviceGivesTheInitialisationText)
{
    ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    EXPECT_EQ(ConstructionError(MonoPcm16(Rate), Frames, 4), "DirectSoundの初期化に失敗しました。");
    // The device comes first, before its format and the ring are looked at.
    WAVEFORMATEX deep = MonoPcm16(Rate);
    deep.wBitsPerSample = 24;
    deep.nBlockAlign = 3;
    EXPECT_EQ(ConstructionError(deep, Frames, 4), "DirectSoundの初期化に失敗しました。");
    EXPECT_EQ(ConstructionError(MonoPcm16(Rate), 0, 4), "DirectSoundの初期化に失敗しました。");
}

TEST(StreamingPlayConstruction, SeveralPlayersOverAProcessLife)
{
    // One after another, as the window replaces its player for each source (the headless
    // drivers open one device at a time).
    for (int round = 0; round < 3; ++round) {
        auto first = std::make_unique<TStreamingPlay>(MonoPcm16(Rate), Frames, 4);
        first.reset();
        TStreamingPlay second(MonoPcm16(22050), 512, 2);
        Script script;
        ASSERT_TRUE(second.Play(ScriptCallback, &script));
        ASSERT_TRUE(WaitUntilStopped(second));
        EXPECT_EQ(script.calls.load(), 1);
    }
}

struct DrainCase {
    int32_t blocks;
    int nonZeroCalls;
    int expectedCalls;
};

class StreamingPlayDrain : public ::testing::TestWithParam<DrainCase> {};

// The drain counter starts at blocks - 1 and only falls, one per zero result.
TEST_P(StreamingPlayDrain, StopsAfterBlocksMinusOneZeroResults)
{
    const DrainCase c = GetParam();
    TStreamingPlay player(MonoPcm16(Rate), Frames, c.blocks);
    Script script;
    script.nonZeroCalls = c.nonZeroCalls;
    ASSERT_TRUE(player.Play(ScriptCallback, &script));
    ASSERT_TRUE(WaitUntilStopped(player));
    EXPECT_EQ(script.calls.load(), c.expectedCalls);
}

INSTANTIATE_TEST_SUITE_P(Cases, StreamingPlayDrain,
                         ::testing::Values(DrainCase{4, 0, 3}, DrainCase{4, 5, 8}, DrainCase{2, 0, 1},
                                           DrainCase{2, 3, 4}, DrainCase{3, 1, 3}));

TEST(StreamingPlayStop, WhileFeedingEndsTheFeederAndNoCallbackFollows)
{
    TStreamingPlay player(MonoPcm16(Rate), Frames, 4);
    Script script;
    script.forever = true;
    ASSERT_TRUE(player.Play(ScriptCallback, &script));
    EXPECT_FALSE(player.Play(ScriptCallback, &script));  // one run at a time
    while (script.calls.load() < 5) std::this_thread::sleep_for(1ms);
    player.Stop();
    ASSERT_TRUE(WaitUntilStopped(player));
    const int calls = script.calls.load();
    std::this_thread::sleep_for(3 * BlockTime);
    EXPECT_EQ(script.calls.load(), calls);
}

TEST(StreamingPlayStop, RightAfterPlayIsNotLost)
{
    TStreamingPlay player(MonoPcm16(Rate), Frames, 4);
    Script script;
    script.forever = true;
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(player.Play(ScriptCallback, &script));
        player.Stop();
        ASSERT_TRUE(WaitUntilStopped(player)) << "round " << round;
    }
}

TEST(StreamingPlayStop, PlayAgainAfterTheFeederEnded)
{
    TStreamingPlay player(MonoPcm16(Rate), Frames, 4);
    Script script;
    ASSERT_TRUE(player.Play(ScriptCallback, &script));
    ASSERT_TRUE(WaitUntilStopped(player));
    EXPECT_EQ(script.calls.load(), 3);
    script.calls = 0;
    script.nonZeroCalls = 2;
    ASSERT_TRUE(player.Play(ScriptCallback, &script));
    ASSERT_TRUE(WaitUntilStopped(player));
    EXPECT_EQ(script.calls.load(), 5);
}

TEST(StreamingPlayStop, DestroyingAPlayingPlayerWaitsForItsFeeder)
{
    Script script;
    script.forever = true;
    {
        TStreamingPlay player(MonoPcm16(Rate), Frames, 4);
        ASSERT_TRUE(player.Play(ScriptCallback, &script));
        while (script.calls.load() < 2) std::this_thread::sleep_for(1ms);
    }
    const int calls = script.calls.load();
    std::this_thread::sleep_for(2 * BlockTime);
    EXPECT_EQ(script.calls.load(), calls);
}

// What the disk driver recorded, as runs of equal samples.
struct SampleRun {
    int16_t value;
    size_t count;
};

std::vector<SampleRun> Runs(const std::vector<int16_t>& samples)
{
    std::vector<SampleRun> runs;
    for (int16_t s : samples) {
        if (!runs.empty() && runs.back().value == s) ++runs.back().count;
        else runs.push_back({s, 1});
    }
    return runs;
}

class StreamingPlayHeard : public ::testing::Test {
protected:
    StreamingPlayHeard() : driver("SDL_AUDIODRIVER", "disk"), file("SDL_DISKAUDIOFILE", dir / "heard.raw") {}

    // From runs[i]: at least minSilence zero samples, then one full block per value in
    // order, then perhaps part of the block holding `partial` (the last written block,
    // whose start the drain stop coincides with). Returns the index after them.
    size_t ExpectPlayed(const std::vector<SampleRun>& runs, size_t i, size_t minSilence, std::vector<int16_t> values,
                        int16_t partial)
    {
        EXPECT_LT(i, runs.size());
        if (i >= runs.size()) return i;
        EXPECT_EQ(runs[i].value, 0);
        EXPECT_GE(runs[i].count, minSilence);
        ++i;
        for (int16_t v : values) {
            EXPECT_LT(i, runs.size());
            if (i >= runs.size()) return i;
            EXPECT_EQ(runs[i].value, v);
            EXPECT_EQ(runs[i].count, static_cast<size_t>(Frames));
            ++i;
        }
        if (i < runs.size() && runs[i].value == partial) {
            EXPECT_LE(runs[i].count, static_cast<size_t>(Frames));
            ++i;
        }
        return i;
    }

    wavtest::TempDir dir;
    ScopedEnv driver;
    ScopedEnv file;
};

TEST_F(StreamingPlayHeard, PreFillSilenceThenEveryWrittenBlockButTheLastNeverAZeroResult)
{
    Script script;
    script.nonZeroCalls = 5;
    {
        TStreamingPlay player(MonoPcm16(Rate), Frames, 4);
        ASSERT_TRUE(player.Play(ScriptCallback, &script));
        ASSERT_TRUE(WaitUntilStopped(player));
    }
    EXPECT_EQ(script.calls.load(), 8);
    const auto runs = Runs(ReadSamples(dir / "heard.raw"));
    size_t i = ExpectPlayed(runs, 0, 3 * Frames, {101, 102, 103, 104}, 105);
    for (; i < runs.size(); ++i) EXPECT_EQ(runs[i].value, 0) << "run " << i;
}

TEST_F(StreamingPlayHeard, PlayAgainHearsTheSilentPreFillBeforeTheNewAudio)
{
    Script first, second;
    first.nonZeroCalls = 6;
    first.base = 1000;
    second.nonZeroCalls = 5;
    second.base = 2000;
    {
        TStreamingPlay player(MonoPcm16(Rate), Frames, 4);
        ASSERT_TRUE(player.Play(ScriptCallback, &first));
        ASSERT_TRUE(WaitUntilStopped(player));
        // Every block of the ring now holds audio of the first run.
        ASSERT_TRUE(player.Play(ScriptCallback, &second));
        ASSERT_TRUE(WaitUntilStopped(player));
    }
    const auto runs = Runs(ReadSamples(dir / "heard.raw"));
    size_t i = ExpectPlayed(runs, 0, 3 * Frames, {1001, 1002, 1003, 1004, 1005}, 1006);
    i = ExpectPlayed(runs, i, 3 * Frames, {2001, 2002, 2003, 2004}, 2005);
    for (; i < runs.size(); ++i) EXPECT_EQ(runs[i].value, 0) << "run " << i;
}

// The preview through the real device path: the bytes heard are the mix of the source at
// the volume gain, block for block, after the silent pre-fill.
TEST_F(StreamingPlayHeard, PreviewFeedIsHeardByteForByte)
{
    const std::string source = dir / "source.wav";
    wavtest::WriteFile(source, wavtest::MusicWav(4 * Frames + 1000));
    const PreviewSettings settings{0.4, 0.35, 0.7, 180.0, 6000.0};

    TWaveFileReader reader;
    ASSERT_TRUE(reader.Open(source));
    VocalCancelMixer mixer;
    mixer.PrepareFilters(Rate);
    mixer.LowPassFilter->SetCutoff(settings.lowCutoff);
    mixer.LowPassFilter->Reset();
    mixer.HighPassFilter->SetCutoff(settings.highCutoff);
    mixer.HighPassFilter->Reset();
    PreviewFeed feed(reader, mixer);
    feed.SetBalance(settings.balance);
    feed.SetMixLevel(settings.mixLevel);
    feed.SetVolume(settings.volume);
    {
        TStreamingPlay player(MonoPcm16(Rate), Frames, 4);
        ASSERT_TRUE(player.Play(PreviewCallback, &feed));
        ASSERT_TRUE(WaitUntilStopped(player));
    }

    PreviewReference reference(source, settings);
    std::vector<int16_t> expected;
    for (uint32_t n = 1; n != 0;) {
        const auto bytes = reference.Next(Frames, &n);
        if (n == 0) break;
        for (size_t j = 0; j < bytes.size(); j += 2) expected.push_back(static_cast<int16_t>(bytes[j] | (bytes[j + 1] << 8)));
    }
    ASSERT_EQ(expected.size(), 5u * Frames);
    ASSERT_NE(expected[0], 0);

    const auto heard = ReadSamples(dir / "heard.raw");
    size_t start = 0;
    while (start < heard.size() && heard[start] == 0) ++start;
    ASSERT_GE(start, 3u * Frames) << "the pre-fill silence comes first";
    ASSERT_GE(heard.size(), start + 4u * Frames);
    // Every block but the last written one, whose start the drain stop coincides with.
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 4 * Frames, heard.begin() + start));
    size_t i = start + 4 * Frames;
    for (size_t j = 4 * Frames; i < heard.size() && j < expected.size() && heard[i] == expected[j]; ++i, ++j) {
    }
    for (; i < heard.size(); ++i) ASSERT_EQ(heard[i], 0) << "sample " << i;
}

}  // namespace
