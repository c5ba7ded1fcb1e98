#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "PreviewReference.h"
#include "WavBuilder.h"
#include "playback/PreviewFeed.h"

namespace {

class PreviewFeedTest : public ::testing::Test {
protected:
    void Load(uint32_t frames, const PreviewSettings& s = PreviewSettings{})
    {
        settings = s;
        path = dir / "source.wav";
        wavtest::WriteFile(path, wavtest::MusicWav(frames));
        ASSERT_TRUE(reader.Open(path));
        mixer.PrepareFilters(reader.Format.nSamplesPerSec);
        mixer.LowPassFilter->SetCutoff(s.lowCutoff);
        mixer.LowPassFilter->Reset();
        mixer.HighPassFilter->SetCutoff(s.highCutoff);
        mixer.HighPassFilter->Reset();
        feed = std::make_unique<PreviewFeed>(reader, mixer);
        feed->SetBalance(s.balance);
        feed->SetMixLevel(s.mixLevel);
        feed->SetVolume(s.volume);
        reference = std::make_unique<PreviewReference>(path, s);
    }

    std::vector<uint8_t> Fill(uint32_t byteCount, uint32_t* result)
    {
        std::vector<uint8_t> block(byteCount, 0xAA);
        *result = PreviewCallback(block.data(), byteCount, feed.get());
        return block;
    }

    wavtest::TempDir dir;
    std::string path;
    PreviewSettings settings;
    TWaveFileReader reader;
    VocalCancelMixer mixer;
    std::unique_ptr<PreviewFeed> feed;
    std::unique_ptr<PreviewReference> reference;
};

TEST_F(PreviewFeedTest, ShortSourceIsCompletedWithTheFilterDecayThenReportsTheEnd)
{
    Load(1000, PreviewSettings{0.3, 0.6, 0.8, 150.0, 5000.0});
    uint32_t n = 0;
    auto block = Fill(4096, &n);
    EXPECT_EQ(n, 1000u);
    EXPECT_EQ(block, reference->Next(2048));

    block = Fill(4096, &n);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(block, reference->Next(2048));  // a whole block of what zero input makes
}

TEST_F(PreviewFeedTest, LongerRunMatchesTheReferenceBlockForBlock)
{
    Load(5 * 2048 + 17, PreviewSettings{0.55, 0.2975, 0.5, 200.0, 7962.0});
    for (int i = 0; i < 7; ++i) {
        uint32_t n = 0, expectedN = 0;
        const auto block = Fill(4096, &n);
        EXPECT_EQ(block, reference->Next(2048, &expectedN)) << "block " << i;
        EXPECT_EQ(n, expectedN);
    }
}

TEST_F(PreviewFeedTest, BarValueIsThePositionBeforeTheBlockTruncated)
{
    Load(4097);  // 2048 / 4097 of 400 is 199.95..., 4096 / 4097 of 400 is 399.90...
    uint32_t n = 0;
    EXPECT_EQ(feed->TakeBarValue(), -1);
    const int expected[] = {0, 199, 399, 400};
    for (int value : expected) {
        Fill(4096, &n);
        EXPECT_EQ(feed->TakeBarValue(), value);
        EXPECT_EQ(feed->TakeBarValue(), -1);  // taken once
    }
}

TEST_F(PreviewFeedTest, ZeroVolumeIsSilence)
{
    Load(3000, PreviewSettings{0.5, 0.9, 0.0, 200.0, 7962.0});
    uint32_t n = 0;
    const auto block = Fill(4096, &n);
    EXPECT_EQ(n, 2048u);
    EXPECT_EQ(block, std::vector<uint8_t>(4096, 0));
}

TEST_F(PreviewFeedTest, NeverReadsMoreThanOneBlockOfFrames)
{
    Load(6000);
    uint32_t n = 0;
    const auto block = Fill(6000, &n);
    EXPECT_EQ(n, 2048u);
    const auto expected = reference->Next(2048);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), block.begin()));
    EXPECT_TRUE(std::all_of(block.begin() + 4096, block.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(PreviewFeedTest, SeekAndCutoffTakeEffectAtTheNextBlockWithHistoryKept)
{
    Load(8192);
    uint32_t n = 0;
    EXPECT_EQ(Fill(4096, &n), reference->Next(2048));

    feed->Seek(0.5);
    feed->SetLowCutoff(1000.0);
    feed->SetHighCutoff(3000.0);
    feed->SetBalance(0.7);
    reference->reader.SetPosition(0.5);
    reference->mixer.LowPassFilter->SetCutoff(1000.0);   // no Reset: the history carries on
    reference->mixer.HighPassFilter->SetCutoff(3000.0);
    reference->settings.balance = 0.7;

    EXPECT_EQ(Fill(4096, &n), reference->Next(2048));
    EXPECT_EQ(feed->TakeBarValue(), 200);
    EXPECT_EQ(mixer.LowPassFilter->cutoff, 1000.0);
}

TEST(PreviewFeedWithoutFilters, GivesSilenceAndTheEnd)
{
    TWaveFileReader reader;
    VocalCancelMixer mixer;
    PreviewFeed feed(reader, mixer);
    std::vector<uint8_t> block(4096, 0xAA);
    EXPECT_EQ(PreviewCallback(block.data(), 4096, &feed), 0u);
    EXPECT_EQ(block, std::vector<uint8_t>(4096, 0));
    feed.SetLowCutoff(100.0);  // no filters to change: nothing happens
    feed.Seek(0.5);            // no file open: nothing happens
}

}  // namespace
