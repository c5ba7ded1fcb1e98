// What the window's preview really plays, recorded by SDL's disk driver: play, pause, play on,
// seek, stop and play to the end, then the recording is held against the mix computed
// independently from each start position.
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>

#include "AppTestSupport.h"
#include "playback/PlayerTestSupport.h"
#include "playback/PreviewReference.h"

using apptest::ReaderFrame;
using apptest::WaitFor;
using apptest::WindowTest;
using namespace std::chrono_literals;

namespace {

// Real-time paced and sharing two cores: more patience than the other window tests.
constexpr std::chrono::milliseconds HeardLimit = 10000ms;

// The preview's samples from startFrame on, block by block, as a fresh start of the preview
// makes them: filters reset, the source read from that frame, silence after its end.
std::vector<int16_t> ExpectedFrom(const std::string& path, const PreviewSettings& settings, int64_t startFrame,
                                  size_t blocks)
{
    PreviewReference reference(path, settings);
    std::vector<double> skip(BlockFrames);
    for (int64_t left = startFrame; left > 0;) {
        const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(left, BlockFrames));
        reference.reader.Read(skip.data(), skip.data(), n);
        left -= n;
    }
    std::vector<int16_t> samples;
    for (size_t b = 0; b < blocks; ++b) {
        const auto bytes = reference.Next(BlockFrames);
        for (size_t j = 0; j < bytes.size(); j += 2)
            samples.push_back(static_cast<int16_t>(bytes[j] | (bytes[j + 1] << 8)));
    }
    return samples;
}

// Where the first block of expected starts in heard, from `from` on; -1 when nowhere.
int64_t Find(const std::vector<int16_t>& heard, const std::vector<int16_t>& expected, size_t from)
{
    for (size_t i = from; i + BlockFrames <= heard.size(); ++i) {
        if (std::equal(expected.begin(), expected.begin() + BlockFrames, heard.begin() + i)) return int64_t(i);
    }
    return -1;
}

}  // namespace

class PreviewHeard : public WindowTest {
protected:
    PreviewHeard() : driver("SDL_AUDIODRIVER", "disk"), file("SDL_DISKAUDIOFILE", dir / "heard.raw") {}

    struct Segment {
        int64_t startFrame;
        PreviewSettings settings;
    };

    // Presses play and notes where the preview starts and with which values.
    void Play(std::vector<Segment>& segments)
    {
        segments.push_back({ReaderFrame(form->Reader),
                            {form->GetBalance(), form->GetMixLevel(), form->GetVolume(), form->GetLowCutoff(),
                             form->GetHighCutoff()}});
        form->PlayButton->click();
        ASSERT_TRUE(form->Player->IsPlaying());
    }

    // Lets the preview run until the feed has read `blocks` blocks: the player runs three
    // blocks ahead of what is heard, so six read means about three heard, whatever the pace.
    void HearBlocks(int blocks) { ReadBlocks(blocks, HeardLimit); }

    ScopedEnv driver;
    ScopedEnv file;
};

TEST_F(PreviewHeard, PlayPauseSeekStopAndTheEnd)
{
    const uint32_t frames = 30 * BlockFrames + 700;
    const std::string source = WriteWav("source.wav", wavtest::MusicWav(frames));
    MakeForm();
    form->SetBalance(0.4);
    form->SetMixLevel(0.5);
    form->SetVolume(0.8);
    form->WMDropFiles({QString::fromStdString(source)});
    ASSERT_TRUE(boxes.empty());

    std::vector<Segment> segments;
    Play(segments);
    HearBlocks(6);
    form->PlayButton->click();  // pause
    const int64_t paused = ReaderFrame(form->Reader);

    form->LowCutoffBar->setValue(250);  // heard from the next start
    Play(segments);
    EXPECT_EQ(segments.back().startFrame, paused);  // the preview goes on where it left
    HearBlocks(6);
    form->PlayButton->click();

    form->PlayPosBar->setSliderPosition(300);
    form->PlayPosBar->triggerAction(QAbstractSlider::SliderMove);
    Play(segments);
    EXPECT_EQ(segments.back().startFrame, frames * 3 / 4);
    HearBlocks(6);
    form->StopButton->click();

    Play(segments);
    EXPECT_EQ(segments.back().startFrame, 0);
    ASSERT_TRUE(WaitFor([&] { return !form->PlayButton->isChecked(); }, HeardLimit));
    form.reset();  // closes the device, so the recording is complete

    const std::vector<int16_t> heard = ReadSamples(dir / "heard.raw");
    size_t at = 0;
    for (size_t s = 0; s < segments.size(); ++s) {
        const size_t blocks = (frames - segments[s].startFrame) / BlockFrames + 2;
        const std::vector<int16_t> expected = ExpectedFrom(source, segments[s].settings, segments[s].startFrame, blocks);
        // Before each start only silence: the gap and the player's silent pre-fill.
        size_t first = at;
        while (first < heard.size() && heard[first] == 0) ++first;
        ASSERT_LT(first, heard.size()) << "segment " << s << " never heard";
        // The expected mix may itself begin with zero samples.
        size_t leadingZeros = 0;
        while (leadingZeros < expected.size() && expected[leadingZeros] == 0) ++leadingZeros;
        ASSERT_GE(first, at + leadingZeros);
        const size_t begin = first - leadingZeros;
        size_t matched = 0;
        while (begin + matched < heard.size() && matched < expected.size() &&
               heard[begin + matched] == expected[matched])
            ++matched;
        EXPECT_GE(matched, size_t{BlockFrames}) << "segment " << s << " first non-zero at " << first << ", previous end "
                                                << at << ", heard " << heard.size() << ", found at "
                                                << Find(heard, expected, at);
        if (s + 1 == segments.size()) {
            // Played to the end: every block but perhaps the cut last one.
            EXPECT_GE(matched + 2 * BlockFrames, size_t{frames} - segments[s].startFrame);
        }
        at = begin + matched;
    }
    for (size_t i = at; i < heard.size(); ++i) ASSERT_EQ(heard[i], 0) << "sample " << i << " after the last segment";
}
