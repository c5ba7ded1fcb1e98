// The window at work, driven through its handlers and simulated clicks, with the boxes
// recorded and the dialogs answered by the test. The preview plays on SDL's dummy driver.
#include <sys/resource.h>

#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <csignal>

#include "AppInfo.h"
#include "AppTestSupport.h"

using apptest::ReaderFrame;
using apptest::WaitFor;
using apptest::WindowTest;
using namespace std::chrono_literals;

namespace {

const QString NotFoundText = QStringLiteral("ファイルが見つからないか壊れています。");
const QString MonoText = QStringLiteral("モノラルの音源は処理できません。");
const QString DoneText = QStringLiteral("処理は正常に終了しました。");

}  // namespace

class Handlers : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        MakeForm();
    }

    // Loads through the open button, as a user would.
    void Open(const std::string& path)
    {
        dialogAnswers.push_back(QString::fromStdString(path));
        form->OpenFileButton->click();
    }

    // Loads by a drop, which needs no dialog.
    void Load(const std::string& path) { form->WMDropFiles({QString::fromStdString(path)}); }

    std::string Music(const std::string& name, uint32_t frames, uint32_t rate = 44100)
    {
        return WriteWav(name, wavtest::MusicWav(frames, rate));
    }

    void StartPlaying()
    {
        ASSERT_TRUE(form->PlayButton->isEnabled());
        form->PlayButton->click();
        ASSERT_TRUE(form->Player && form->Player->IsPlaying());
        ASSERT_TRUE(form->PlayTimer->isActive());
    }
};

// ---- loading ----

TEST_F(Handlers, OpenLoadsPreparesAndEnables)
{
    const std::string path = Music("song.wav", 5000);
    Open(path);
    EXPECT_TRUE(boxes.empty()) << BoxTexts().join(u'|').toStdString();
    ASSERT_EQ(dialogDirectories.size(), 1u);
    EXPECT_EQ(dialogDirectories[0], QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    EXPECT_EQ(form->SourcePath, QString::fromStdString(path));
    EXPECT_EQ(form->FileNameBox->text(), QString::fromStdString(path));
    EXPECT_EQ(form->SourceDir, QString::fromStdString(dir.path().string()));
    EXPECT_TRUE(form->Player);
    EXPECT_TRUE(form->Mixer.HasFilters());
    for (QWidget* w : {static_cast<QWidget*>(form->PlayButton), static_cast<QWidget*>(form->StopButton),
                       static_cast<QWidget*>(form->PlayPosBar), static_cast<QWidget*>(form->ProcessButton)}) {
        EXPECT_TRUE(w->isEnabled());
    }
    // The next open starts in the folder of this source.
    Open(path);
    EXPECT_EQ(dialogDirectories.value(1), QString::fromStdString(dir.path().string()));
}

TEST_F(Handlers, CancelledOpenChangesNothing)
{
    form->OpenFileButton->click();
    EXPECT_EQ(dialogs.size(), 1u);
    EXPECT_TRUE(form->SourcePath.isEmpty());
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(form->ProcessButton->isEnabled());
}

TEST_F(Handlers, LowerRateClampsTheLabelWithoutMovingTheBar)
{
    form->HighCutoffBar->setValue(380);
    EXPECT_EQ(form->HighFcLabel->text(), QStringLiteral("12619Hz"));
    Open(Music("low.wav", 3000, 22050));
    EXPECT_EQ(form->SampleRate, 22050u);
    EXPECT_EQ(form->HighCutoffBar->value(), 380);
    EXPECT_EQ(form->HighFcLabel->text(), QStringLiteral("11024Hz"));
    EXPECT_EQ(form->LowFcLabel->text(), QStringLiteral("  200Hz"));
}

struct RefusedFile {
    const char* name;
    wavtest::Bytes bytes;
    QString message;
};

class RefusedLoads : public Handlers, public ::testing::WithParamInterface<int> {
protected:
    RefusedFile Case() const
    {
        using namespace wavtest;
        switch (GetParam()) {
        case 0: return {"mono.wav", PcmWav(1, 44100, 16, std::vector<int32_t>(4000, 1000)), MonoText};
        case 1: return {"six.wav", PcmWav(6, 44100, 16, std::vector<int32_t>(6 * 4000, 1000)), MonoText};
        case 2: return {"text.wav", Bytes{'h', 'e', 'l', 'l', 'o'}, NotFoundText};
        default: return {"missing.wav", {}, NotFoundText};
        }
    }
};

// A refused file leaves the previous source loaded, playable and renderable, with the reader
// where it stood.
TEST_P(RefusedLoads, KeepThePreviousSource)
{
    const std::string good = Music("good.wav", 6000);
    Open(good);
    ASSERT_TRUE(boxes.empty());
    form->PlayPosBar->setSliderPosition(200);
    form->PlayPosBar->triggerAction(QAbstractSlider::SliderMove);
    const int64_t frame = ReaderFrame(form->Reader);
    ASSERT_EQ(frame, 3000);

    RefusedFile refused = Case();
    std::string path = dir / refused.name;
    if (!refused.bytes.empty()) WriteWav(refused.name, refused.bytes);
    Open(path);
    ASSERT_EQ(BoxTexts(), QStringList{refused.message});
    EXPECT_EQ(boxes[0].kind, MessageKind::Error);
    EXPECT_EQ(boxes[0].owner, form.get());
    EXPECT_EQ(form->SourcePath, QString::fromStdString(good));
    EXPECT_EQ(form->FileNameBox->text(), QString::fromStdString(good));
    EXPECT_EQ(form->Reader.Format.nChannels, 2);
    EXPECT_EQ(ReaderFrame(form->Reader), frame);
    EXPECT_TRUE(form->PlayButton->isEnabled());

    dialogAnswers.push_back(QString::fromStdString(dir / "out.wav"));
    form->ProcessButton->click();
    EXPECT_EQ(BoxTexts().last(), DoneText);
    TWaveFileReader out;
    ASSERT_TRUE(out.Open(dir / "out.wav"));
    EXPECT_EQ(out.FrameCount, 6000u);
}

static std::string RefusedName(const ::testing::TestParamInfo<int>& info)
{
    const char* names[] = {"Mono", "SixChannels", "NotRiff", "Missing"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Window, RefusedLoads, ::testing::Values(0, 1, 2, 3), RefusedName);

TEST_F(Handlers, RefusedFirstLoadLeavesNoSource)
{
    Open(WriteWav("mono.wav", wavtest::PcmWav(1, 8000, 8, std::vector<int32_t>(100, 128))));
    EXPECT_EQ(BoxTexts(), QStringList{MonoText});
    EXPECT_TRUE(form->SourcePath.isEmpty());
    EXPECT_EQ(form->SampleRate, 44100u);
    EXPECT_FALSE(form->Reader.IsOpen());
    EXPECT_FALSE(form->ProcessButton->isEnabled());
}

// ---- drops ----

TEST_F(Handlers, DropRules)
{
    const std::string a = Music("a.wav", 3000);
    const std::string b = Music("b.wav", 3000);
    form->WMDropFiles({QString::fromStdString(a), QString::fromStdString(b)});
    EXPECT_EQ(BoxTexts(), QStringList{QStringLiteral("ファイルは１つしかドロップできません。")});
    EXPECT_TRUE(form->SourcePath.isEmpty());

    boxes.clear();
    const std::string text = WriteWav("notes.txt", wavtest::MusicWav(3000));
    form->WMDropFiles({QString::fromStdString(text)});
    const std::string folderDot = WriteWav("x.wav.d", wavtest::MusicWav(3000));
    form->WMDropFiles({QString::fromStdString(folderDot)});
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(form->SourcePath.isEmpty());

    const std::string capital = Music("LOUD.WAV", 3000);
    form->WMDropFiles({QString::fromStdString(capital)});
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(form->SourcePath, QString::fromStdString(capital));
    EXPECT_TRUE(form->PlayButton->isEnabled());
}

TEST_F(Handlers, DropThroughTheToolkit)
{
    const std::string path = Music("dropped.Wav", 3000);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &drop);
    ASSERT_TRUE(WaitFor([&] { return !form->SourcePath.isEmpty(); }));
    EXPECT_EQ(form->SourcePath, QString::fromStdString(path));

    // A drag that carries no local file is not taken.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://www.tarvek.example/a.wav"))});
    QDragEnterEvent webEnter(QPoint(10, 10), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    webEnter.setAccepted(false);
    QCoreApplication::sendEvent(form.get(), &webEnter);
    EXPECT_FALSE(webEnter.isAccepted());
}

// ---- preview states ----

// The preview runs on the feeder thread here; these need no dialog, so they also run clean
// under the thread sanitizer (the dialogs' folder watcher lives in the uninstrumented toolkit).
class Preview : public Handlers {};

TEST_F(Preview, PlayPauseContinuesWhereThePreviewLeft)
{
    Load(Music("long.wav", 60 * BlockFrames));
    StartPlaying();
    EXPECT_EQ(form->PlayButton->text(), QStringLiteral("一時停止"));
    ReadBlocks(3);
    form->PlayButton->click();  // pause
    EXPECT_FALSE(form->Player->IsPlaying());
    EXPECT_FALSE(form->PlayButton->isChecked());
    EXPECT_EQ(form->PlayButton->text(), QStringLiteral("再生"));
    EXPECT_FALSE(form->PlayTimer->isActive());
    const int64_t paused = ReaderFrame(form->Reader);
    EXPECT_GE(paused, 3 * int64_t{BlockFrames});
    EXPECT_EQ(paused % BlockFrames, 0);
    EXPECT_EQ(form->PlayPosBar->value(), static_cast<int>(form->Feed.LastPosition() * 400));

    StartPlaying();
    ReadBlocks(1);
    form->PlayButton->click();
    EXPECT_GT(ReaderFrame(form->Reader), paused);
}

TEST_F(Preview, StopRewindsAndPlayStartsAtTheFirstFrame)
{
    Load(Music("long.wav", 60 * BlockFrames));
    StartPlaying();
    ReadBlocks(4);
    ASSERT_TRUE(WaitFor([&] { return form->PlayPosBar->value() > 0; }));  // the timer moves the bar
    form->StopButton->click();
    EXPECT_FALSE(form->Player->IsPlaying());
    EXPECT_FALSE(form->PlayButton->isChecked());
    EXPECT_EQ(form->PlayButton->text(), QStringLiteral("再生"));
    EXPECT_FALSE(form->PlayTimer->isActive());
    EXPECT_EQ(form->PlayPosBar->value(), 0);
    EXPECT_EQ(ReaderFrame(form->Reader), 0);

    StartPlaying();
    ReadBlocks(1);
    form->PlayButton->click();
    // The feed reports the position before each block; the first one came from frame 0.
    EXPECT_GT(ReaderFrame(form->Reader), 0);
}

TEST_F(Preview, SeekWhilePausedPlaysFromThere)
{
    const uint32_t frames = 40 * BlockFrames;
    Load(Music("long.wav", frames));
    StartPlaying();
    ReadBlocks(1);
    form->PlayButton->click();

    // A click on the bar's right arrow, then a drag of the thumb, as the toolkit delivers them.
    form->show();
    const int before = form->PlayPosBar->value();
    QTest::mouseClick(form->PlayPosBar, Qt::LeftButton, {}, QPoint(form->PlayPosBar->width() - 4, 8));
    EXPECT_EQ(form->PlayPosBar->value(), before + 1);
    EXPECT_EQ(ReaderFrame(form->Reader), static_cast<int64_t>(frames * ((before + 1) / 400.0)));

    form->PlayPosBar->setSliderDown(true);
    form->PlayPosBar->setSliderPosition(300);
    form->PlayPosBar->setSliderDown(false);
    EXPECT_EQ(ReaderFrame(form->Reader), frames * 3 / 4);

    form->PlayButton->click();
    ASSERT_TRUE(WaitFor([&] { return form->Feed.LastPosition() > 0.0; }));
    form->PlayButton->click();
    EXPECT_GE(ReaderFrame(form->Reader), frames * 3 / 4 + BlockFrames);
}

TEST_F(Preview, EndOfSourceReturnsToReady)
{
    Load(Music("short.wav", 3 * BlockFrames + 100));
    StartPlaying();
    ASSERT_TRUE(WaitFor([&] { return !form->PlayButton->isChecked(); }));
    EXPECT_EQ(form->PlayButton->text(), QStringLiteral("再生"));
    EXPECT_FALSE(form->PlayTimer->isActive());
    EXPECT_EQ(form->PlayPosBar->value(), 0);
    EXPECT_EQ(ReaderFrame(form->Reader), 0);
}

TEST_F(Preview, TheBarIsLeftAloneWhileTheUserHoldsIt)
{
    Load(Music("long.wav", 200 * BlockFrames));
    StartPlaying();
    form->PlayPosBar->setSliderDown(true);
    form->PlayPosBar->setValue(5);
    ReadBlocks(8);
    QTest::qWait(250);
    EXPECT_EQ(form->PlayPosBar->value(), 5);
    form->PlayPosBar->setSliderDown(false);  // the release seeks to 5
    ASSERT_TRUE(WaitFor([&] { return form->PlayPosBar->value() != 5; }));
    form->PlayButton->click();
}

TEST_F(Preview, RefusalsWhilePlaying)
{
    const std::string path = Music("long.wav", 60 * BlockFrames);
    Load(path);
    StartPlaying();
    const size_t dialogsBefore = dialogs.size();
    form->OpenFileButton->click();
    form->ProcessButton->click();
    form->WMDropFiles({QString::fromStdString(path)});
    EXPECT_EQ(BoxTexts(), (QStringList{QStringLiteral("再生中は読み込みできません。再生を停止して下さい。"),
                                       QStringLiteral("再生を停止して下さい。"),
                                       QStringLiteral("再生中はドロップできません。再生を停止して下さい。")}));
    for (const auto& box : boxes) EXPECT_EQ(box.kind, MessageKind::Info);
    EXPECT_EQ(dialogs.size(), dialogsBefore);
    EXPECT_TRUE(form->Player->IsPlaying());
    form->StopButton->click();
}

// A seek followed at once by a pause: the bar stays where the user put it, not at the
// position of a block the feed had read before the seek.
TEST_F(Preview, PauseRightAfterASeekKeepsTheBarWhereTheUserPutIt)
{
    const uint32_t frames = 200 * BlockFrames;
    Load(Music("long.wav", frames));
    StartPlaying();
    // Let the feed read another block without the window picking up its bar value.
    const int64_t start = ReaderFrame(form->Reader);
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (ReaderFrame(form->Reader) <= start && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_GT(ReaderFrame(form->Reader), start);

    form->PlayPosBar->setSliderDown(true);
    form->PlayPosBar->setSliderPosition(300);
    form->PlayPosBar->setSliderDown(false);  // the release seeks
    form->PlayButton->click();                // pause
    EXPECT_EQ(form->PlayPosBar->value(), 300);
    EXPECT_GE(ReaderFrame(form->Reader), int64_t{frames} * 3 / 4);
}

TEST_F(Preview, CutoffChangesWhilePlayingReachTheFilters)
{
    Load(Music("long.wav", 60 * BlockFrames));
    StartPlaying();
    form->LowCutoffBar->setValue(300);
    form->HighCutoffBar->setValue(250);
    ReadBlocks(1);
    form->PlayButton->click();
    EXPECT_DOUBLE_EQ(form->Mixer.LowPassFilter->cutoff, form->GetLowCutoff());
    EXPECT_DOUBLE_EQ(form->Mixer.HighPassFilter->cutoff, form->GetHighCutoff());
    EXPECT_EQ(form->LowFcLabel->text(), QStringLiteral(" 2000Hz"));
}

TEST_F(Preview, ClosingWhilePlayingStopsThePreviewFirst)
{
    Load(Music("long.wav", 60 * BlockFrames));
    StartPlaying();
    form->show();
    form->ExitButton->click();
    EXPECT_FALSE(form->isVisible());
    form.reset();  // the close handler waits for the feeder before the reader closes
    EXPECT_TRUE(boxes.empty());
}

// ---- rendering ----

class Render : public Handlers {
protected:
    std::vector<int> progress;
    std::vector<int> progressAtBox;

    void Watch()
    {
        QObject::connect(form->ProgressBar, &QProgressBar::valueChanged, [this](int v) { progress.push_back(v); });
        onBox = [this](const MessageRecord&) { progressAtBox.push_back(form->ProgressBar->value()); };
    }
};

TEST_F(Render, ProgressOfOneBlock)
{
    Open(Music("one.wav", 2048));
    Watch();
    dialogAnswers.push_back(QString::fromStdString(dir / "out.wav"));
    form->ProcessButton->click();
    EXPECT_EQ(BoxTexts(), QStringList{DoneText});
    EXPECT_EQ(boxes[0].kind, MessageKind::Info);
    EXPECT_EQ(progress, (std::vector<int>{50, 100, 0}));
    EXPECT_EQ(progressAtBox, std::vector<int>{100});
    TWaveFileReader out;
    ASSERT_TRUE(out.Open(dir / "out.wav"));
    EXPECT_EQ(out.FrameCount, 2048u);
    EXPECT_EQ(out.Format.nChannels, 1);
    EXPECT_EQ(out.Format.wBitsPerSample, 16);
    EXPECT_EQ(form->DestDir, QString::fromStdString(dir.path().string()));
}

TEST_F(Render, ProgressOfABlockAndOneFrame)
{
    Open(Music("two.wav", 2049));
    Watch();
    dialogAnswers.push_back(QString::fromStdString(dir / "out.wav"));
    form->ProcessButton->click();
    EXPECT_EQ(BoxTexts(), QStringList{DoneText});
    EXPECT_EQ(progress, (std::vector<int>{49, 50, 99, 100, 0}));
    TWaveFileReader out;
    ASSERT_TRUE(out.Open(dir / "out.wav"));
    EXPECT_EQ(out.FrameCount, 2049u);
}

TEST_F(Render, SaveDialogStartsInDestDirWithAnEmptyName)
{
    Open(Music("one.wav", 100));
    form->DestDir = QString::fromStdString(dir.path().string());
    form->PrepareDialogs();
    form->SaveDialog->selectFile(QStringLiteral("old.wav"));
    form->ProcessButton->click();  // cancelled
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1], form->SaveDialog);
    EXPECT_EQ(dialogDirectories[1], form->DestDir);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dir / "old.wav")));
}

TEST_F(Render, PlayingAfterARenderStartsAtTheBeginning)
{
    Open(Music("long.wav", 60 * BlockFrames));
    StartPlaying();
    ReadBlocks(3);
    form->PlayButton->click();  // paused part-way
    ASSERT_GT(ReaderFrame(form->Reader), 0);
    dialogAnswers.push_back(QString::fromStdString(dir / "out.wav"));
    form->ProcessButton->click();
    EXPECT_EQ(BoxTexts(), QStringList{DoneText});
    EXPECT_EQ(ReaderFrame(form->Reader), 0);
    EXPECT_EQ(form->PlayPosBar->value(), 0);
    EXPECT_EQ(form->ProgressBar->value(), 0);
}

// The preview has just ended by itself and PlayTimer has not yet seen it when the render
// starts: the timer's end-of-source handling (which rewinds the reader) must not run inside
// the render's passes.
TEST_F(Render, TheEndOfThePreviewIsNotHandledInsideTheRender)
{
    Open(Music("short.wav", 3000));
    StartPlaying();
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (form->Player->IsPlaying() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(1ms);  // no events: the timer tick stays pending
    }
    ASSERT_FALSE(form->Player->IsPlaying());
    ASSERT_TRUE(form->PlayTimer->isActive());

    std::vector<bool> timerOnDuringRender;
    QObject::connect(form->ProgressBar, &QProgressBar::valueChanged, [&](int v) {
        progress.push_back(v);
        if (progress.size() == 1) {
            std::this_thread::sleep_for(60ms);  // long enough for the render to let events through
        }
        if (boxes.empty()) timerOnDuringRender.push_back(form->PlayTimer->isActive());
    });
    dialogAnswers.push_back(QString::fromStdString(dir / "out.wav"));
    form->ProcessButton->click();
    EXPECT_EQ(BoxTexts(), QStringList{DoneText});
    EXPECT_EQ(progress, (std::vector<int>{34, 50, 84, 100, 0}));
    EXPECT_EQ(timerOnDuringRender, std::vector<bool>(4, true));
    TWaveFileReader out;
    ASSERT_TRUE(out.Open(dir / "out.wav"));
    EXPECT_EQ(out.FrameCount, 3000u);

    // Afterwards the timer finds the ended preview and returns to Ready.
    ASSERT_TRUE(WaitFor([&] { return !form->PlayTimer->isActive(); }));
    EXPECT_FALSE(form->PlayButton->isChecked());
    EXPECT_EQ(ReaderFrame(form->Reader), 0);
}

TEST_F(Render, OutputThatCannotBeCreatedChangesNothing)
{
    Open(Music("one.wav", 5000));
    form->PlayPosBar->setSliderPosition(100);
    form->PlayPosBar->triggerAction(QAbstractSlider::SliderMove);
    const QString destBefore = form->DestDir;
    Watch();
    dialogAnswers.push_back(QString::fromStdString(dir / "no-such-folder/out.wav"));
    form->ProcessButton->click();
    EXPECT_EQ(BoxTexts(),
              QStringList{QStringLiteral("出力ファイルが別のアプリケーションで開かれています。ファイルを閉じて下さい。")});
    EXPECT_EQ(boxes[0].kind, MessageKind::Error);
    EXPECT_EQ(form->DestDir, destBefore);
    EXPECT_EQ(ReaderFrame(form->Reader), 1250);
    EXPECT_EQ(form->PlayPosBar->value(), 100);
    EXPECT_TRUE(progress.empty());
}

TEST_F(Render, TheSourceItselfIsRefusedAndLeftWhole)
{
    const std::string path = Music("one.wav", 5000);
    const auto before = wavtest::ReadFile(path);
    Open(path);
    dialogAnswers.push_back(QString::fromStdString(path));
    form->ProcessButton->click();
    EXPECT_EQ(BoxTexts(), QStringList{QStringLiteral("ソースファイルと同じファイルには出力できません。")});
    EXPECT_EQ(wavtest::ReadFile(path), before);
    EXPECT_TRUE(form->Reader.IsOpen());
}

// A write that fails part-way (a file-size limit stands in for a full disk): the error box,
// no success box, no partial file, and an existing destination as it was.
TEST_F(Render, AFailedWriteIsReportedAndLeavesTheDestinationAlone)
{
    Open(Music("big.wav", 20000));
    const std::string out = dir / "out.wav";
    wavtest::WriteFile(out, {'o', 'l', 'd'});
    const QString destBefore = form->DestDir;

    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 8192;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    dialogAnswers.push_back(QString::fromStdString(out));
    form->ProcessButton->click();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(BoxTexts(), QStringList{QStringLiteral("出力ファイルの書き込みに失敗しました。")});
    EXPECT_EQ(wavtest::ReadFile(out), (wavtest::Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(form->DestDir, destBefore);
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 2u);  // the source and the old destination, no leftover
    EXPECT_EQ(form->ProgressBar->value(), 0);
    EXPECT_EQ(ReaderFrame(form->Reader), 0);
}

// ---- without a sound device ----

class NoSoundDevice : public Handlers {
protected:
    void UseDriver(const char* name) { setenv("SDL_AUDIODRIVER", name, 1); }
    void TearDown() override
    {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        Handlers::TearDown();
    }
};

TEST_F(NoSoundDevice, RenderingStillWorksAndPlayWaitsForAPlayer)
{
    UseDriver("no-such-driver");
    Open(Music("one.wav", 5000));
    EXPECT_EQ(BoxTexts(), QStringList{QStringLiteral("DirectSoundの初期化に失敗しました。")});
    EXPECT_EQ(boxes[0].kind, MessageKind::Error);
    EXPECT_FALSE(form->Player);
    EXPECT_TRUE(form->Mixer.HasFilters());
    EXPECT_FALSE(form->PlayButton->isEnabled());
    EXPECT_TRUE(form->StopButton->isEnabled());
    EXPECT_TRUE(form->PlayPosBar->isEnabled());
    EXPECT_TRUE(form->ProcessButton->isEnabled());

    dialogAnswers.push_back(QString::fromStdString(dir / "out.wav"));
    form->ProcessButton->click();
    EXPECT_EQ(BoxTexts().last(), DoneText);
    form->StopButton->click();
    EXPECT_EQ(ReaderFrame(form->Reader), 0);

    // A later preparation with a device makes the preview available.
    UseDriver("dummy");
    Open(Music("two.wav", 5000));
    EXPECT_TRUE(form->Player);
    EXPECT_TRUE(form->PlayButton->isEnabled());

    // And losing the device again takes it away.
    UseDriver("no-such-driver");
    Open(Music("three.wav", 5000, 22050));
    EXPECT_FALSE(form->Player);
    EXPECT_FALSE(form->PlayButton->isEnabled());
    EXPECT_EQ(form->Mixer.LowPassFilter->sampleRate, 22050.0);
}

// ---- the desktop ----

TEST_F(Handlers, HelpAndHomePageOpenInTheBrowser)
{
    form->show();
    form->HelpButton->click();
    QTest::mouseClick(form->UrlLabel, Qt::LeftButton);
    EXPECT_EQ(addresses, (QStringList{QString::fromUtf8(AppInfo::ManualUrl), QString::fromUtf8(AppInfo::HomePageUrl)}));
    EXPECT_TRUE(QString::fromUtf8(AppInfo::ManualUrl).endsWith(QStringLiteral("/modules/manual/Marlowin/")));
    EXPECT_TRUE(QString::fromUtf8(AppInfo::ManualUrl).startsWith(QString::fromUtf8(AppInfo::HomePageUrl)));
}

TEST_F(Handlers, UrlLabelShowsTheHandCursorWhileThePointerIsOnIt)
{
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(form->UrlLabel, &enter);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(form->UrlLabel, &leave);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    QCoreApplication::sendEvent(form->UrlLabel, &enter);
    form.reset();  // closing with the pointer on the label leaves no cursor behind
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}
