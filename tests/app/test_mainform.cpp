// The window as it starts: layout, control values, and the mappings behind them.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStandardPaths>
#include <QTimer>
#include <cmath>

#include "AppInfo.h"
#include "AppTestSupport.h"

using apptest::WindowTest;

class MainFormStart : public WindowTest {};

TEST_F(MainFormStart, ControlsStartWhereTheLayoutPutsThem)
{
    TMainForm& f = MakeForm();
    EXPECT_EQ(f.BalanceBar->value(), 200);
    EXPECT_EQ(f.LowCutoffBar->value(), 200);
    EXPECT_EQ(f.HighCutoffBar->value(), 360);
    EXPECT_EQ(f.MixLevelBar->value(), 119);
    EXPECT_EQ(f.VolumeBar->value(), 160);  // nothing stored yet
    EXPECT_EQ(f.PlayPosBar->value(), 0);
    EXPECT_EQ(f.ProgressBar->value(), 0);
    EXPECT_DOUBLE_EQ(f.GetMixLevel(), 0.2975);
    EXPECT_EQ(f.LowFcLabel->text(), QStringLiteral("  200Hz"));
    EXPECT_EQ(f.HighFcLabel->text(), QStringLiteral(" 7962Hz"));
    EXPECT_EQ(f.VersionLabel->text(), QStringLiteral("Version 1.00"));
    EXPECT_EQ(f.UrlLabel->text(), QString::fromUtf8(AppInfo::HomePageUrl));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("マーロウィン"));
    EXPECT_TRUE(f.SourcePath.isEmpty());
    EXPECT_EQ(f.SampleRate, 44100u);
    EXPECT_FALSE(f.Player);
    EXPECT_FALSE(f.Mixer.HasFilters());
    EXPECT_TRUE(f.acceptDrops());
    EXPECT_FALSE(f.PlayTimer->isActive());
    EXPECT_EQ(f.PlayTimer->interval(), 100);

    for (QWidget* disabled : {static_cast<QWidget*>(f.PlayButton), static_cast<QWidget*>(f.StopButton),
                              static_cast<QWidget*>(f.PlayPosBar), static_cast<QWidget*>(f.ProcessButton)}) {
        EXPECT_FALSE(disabled->isEnabled()) << disabled->objectName().toStdString();
    }
    for (QWidget* enabled :
         {static_cast<QWidget*>(f.OpenFileButton), static_cast<QWidget*>(f.VolumeBar),
          static_cast<QWidget*>(f.BalanceBar), static_cast<QWidget*>(f.BalCenterButton),
          static_cast<QWidget*>(f.LowCutoffBar), static_cast<QWidget*>(f.HighCutoffBar),
          static_cast<QWidget*>(f.MixLevelBar), static_cast<QWidget*>(f.HelpButton),
          static_cast<QWidget*>(f.ExitButton)}) {
        EXPECT_TRUE(enabled->isEnabled());
    }
}

TEST_F(MainFormStart, GeometryRangesAndTicks)
{
    TMainForm& f = MakeForm();
    EXPECT_EQ(f.size(), QSize(634, 513));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());  // the user cannot resize it

    struct Placed {
        QWidget* widget;
        QWidget* parent;
        QRect rect;
    };
    const Placed placed[] = {
        {f.GroupBox3, &f, {8, 8, 616, 57}},           {f.OpenFileButton, f.GroupBox3, {511, 19, 90, 25}},
        {f.FileNameBox, f.GroupBox3, {16, 21, 489, 21}}, {f.GroupBox1, &f, {8, 71, 616, 98}},
        {f.PlayButton, f.GroupBox1, {16, 21, 66, 25}},  {f.StopButton, f.GroupBox1, {88, 21, 66, 25}},
        {f.VolumeBar, f.GroupBox1, {223, 24, 378, 34}}, {f.PlayPosBar, f.GroupBox1, {80, 64, 521, 17}},
        {f.GroupBox4, &f, {8, 175, 616, 64}},           {f.BalanceBar, f.GroupBox4, {72, 24, 426, 33}},
        {f.BalCenterButton, f.GroupBox4, {526, 24, 75, 25}}, {f.GroupBox5, &f, {8, 245, 616, 140}},
        {f.LowCutoffBar, f.GroupBox5, {88, 18, 468, 34}}, {f.HighCutoffBar, f.GroupBox5, {88, 58, 468, 34}},
        {f.MixLevelBar, f.GroupBox5, {88, 98, 468, 33}}, {f.GroupBox2, &f, {8, 391, 616, 58}},
        {f.ProcessButton, f.GroupBox2, {11, 21, 81, 25}}, {f.ProgressBar, f.GroupBox2, {104, 25, 497, 17}},
        {f.Label11, &f, {8, 455, 133, 24}},             {f.HelpButton, &f, {453, 473, 75, 25}},
        {f.ExitButton, &f, {534, 473, 75, 25}},
    };
    for (const Placed& p : placed) {
        EXPECT_EQ(p.widget->parentWidget(), p.parent);
        EXPECT_EQ(p.widget->geometry(), p.rect) << p.widget->metaObject()->className();
    }
    struct Range {
        QAbstractSlider* bar;
        int minimum, maximum, tick;
    };
    const Range ranges[] = {{f.VolumeBar, 0, 320, 16},     {f.BalanceBar, 0, 400, 20},
                            {f.LowCutoffBar, 100, 400, 100}, {f.HighCutoffBar, 100, 400, 100},
                            {f.MixLevelBar, 0, 400, 20}};
    for (const Range& r : ranges) {
        EXPECT_EQ(r.bar->minimum(), r.minimum);
        EXPECT_EQ(r.bar->maximum(), r.maximum);
        EXPECT_EQ(static_cast<QSlider*>(r.bar)->tickInterval(), r.tick);
        EXPECT_NE(static_cast<QSlider*>(r.bar)->tickPosition(), QSlider::NoTicks);
    }
    EXPECT_EQ(f.PlayPosBar->minimum(), 0);
    EXPECT_EQ(f.PlayPosBar->maximum(), 400);
    EXPECT_EQ(f.PlayPosBar->singleStep(), 1);
    EXPECT_EQ(f.ProgressBar->minimum(), 0);
    EXPECT_EQ(f.ProgressBar->maximum(), 100);
}

TEST_F(MainFormStart, FocusAndToolTips)
{
    TMainForm& f = MakeForm();
    EXPECT_EQ(f.PlayButton->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(f.FileNameBox->focusPolicy() & Qt::TabFocus);

    // Tab order: group boxes in order, the controls inside each by their index.
    const QWidget* expected[] = {f.OpenFileButton, f.StopButton,   f.VolumeBar,     f.PlayPosBar,
                                 f.BalanceBar,     f.BalCenterButton, f.LowCutoffBar, f.HighCutoffBar,
                                 f.MixLevelBar,    f.ProcessButton, f.HelpButton,    f.ExitButton};
    std::vector<const QWidget*> chain;
    const QWidget* w = f.OpenFileButton;
    do {
        if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != f.OpenFileButton && chain.size() < 100);
    EXPECT_EQ(chain, std::vector<const QWidget*>(std::begin(expected), std::end(expected)));

    // Tool-tip delays, application-wide.
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 200);
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_FallAsleepDelay), 10000);
}

TEST_F(MainFormStart, DialogsAreConfiguredForWavFiles)
{
    TMainForm& f = MakeForm();
    f.OpenFileButton->click();  // cancelled by the test's dialog seam
    ASSERT_NE(f.OpenDialog, nullptr);
    f.PrepareDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0], f.OpenDialog);
    EXPECT_EQ(f.OpenDialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(f.SaveDialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(f.SaveDialog->testOption(QFileDialog::DontConfirmOverwrite));
}

// ---- the setters at their ends and beyond ----

struct SetterCase {
    double x;
    int balance, mix, volume;
};

class ControlSetters : public WindowTest, public ::testing::WithParamInterface<SetterCase> {};

TEST_P(ControlSetters, PositionsAreTruncatedAndKeptInRange)
{
    TMainForm& f = MakeForm();
    const SetterCase c = GetParam();
    f.SetBalance(c.x);
    f.SetMixLevel(c.x);
    f.SetVolume(c.x);
    EXPECT_EQ(f.BalanceBar->value(), c.balance);
    EXPECT_EQ(f.MixLevelBar->value(), c.mix);
    EXPECT_EQ(f.VolumeBar->value(), c.volume);
    EXPECT_DOUBLE_EQ(f.GetBalance(), c.balance / 400.0);
    EXPECT_DOUBLE_EQ(f.GetMixLevel(), c.mix / 400.0);
    EXPECT_DOUBLE_EQ(f.GetVolume(), c.volume / 320.0);
    // The feeder sees the same values without touching the widgets.
    EXPECT_DOUBLE_EQ(f.Feed.Balance(), f.GetBalance());
    EXPECT_DOUBLE_EQ(f.Feed.MixLevel(), f.GetMixLevel());
    EXPECT_DOUBLE_EQ(f.Feed.Volume(), f.GetVolume());
}

INSTANTIATE_TEST_SUITE_P(Window, ControlSetters,
                         ::testing::Values(SetterCase{0.0, 0, 0, 0}, SetterCase{1.0, 400, 400, 320},
                                           SetterCase{0.3, 119, 119, 95}, SetterCase{0.5, 200, 200, 160},
                                           SetterCase{1.5, 400, 400, 320}, SetterCase{-0.25, 0, 0, 0},
                                           SetterCase{1e300, 400, 400, 320}, SetterCase{NAN, 0, 0, 0}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(MainFormStart, BalanceCentreButtonGivesExactly200)
{
    TMainForm& f = MakeForm();
    for (int position : {0, 199, 201, 400}) {
        f.BalanceBar->setValue(position);
        f.BalCenterButton->click();
        EXPECT_EQ(f.BalanceBar->value(), 200);
    }
}

// ---- cutoffs and their labels ----

struct CutoffCase {
    uint32_t sampleRate;
    int position;
    double hz;
    const char* label;
};

class CutoffLabels : public WindowTest, public ::testing::WithParamInterface<CutoffCase> {};

TEST_P(CutoffLabels, LabelShowsTheClampedCutoff)
{
    TMainForm& f = MakeForm();
    const CutoffCase c = GetParam();
    f.SampleRate = c.sampleRate;
    f.LowCutoffBar->setValue(c.position);
    f.HighCutoffBar->setValue(c.position);
    f.UpdateLowFcLabel();
    f.UpdateHighFcLabel();
    EXPECT_NEAR(f.GetLowCutoff(), c.hz, 0.005);
    EXPECT_NEAR(f.GetHighCutoff(), c.hz, 0.005);
    EXPECT_EQ(f.LowFcLabel->text(), QString::fromLatin1(c.label));
    EXPECT_EQ(f.HighFcLabel->text(), QString::fromLatin1(c.label));
}

INSTANTIATE_TEST_SUITE_P(
    Window, CutoffLabels,
    ::testing::Values(CutoffCase{44100, 100, 20.0, "   20Hz"}, CutoffCase{44100, 200, 200.0, "  200Hz"},
                      CutoffCase{44100, 300, 2000.0, " 2000Hz"}, CutoffCase{44100, 360, 7962.14, " 7962Hz"},
                      CutoffCase{44100, 400, 20000.0, "20000Hz"}, CutoffCase{22050, 374, 10990.82, "10991Hz"},
                      CutoffCase{22050, 375, 11024.0, "11024Hz"}, CutoffCase{22050, 400, 11024.0, "11024Hz"},
                      CutoffCase{8000, 330, 3990.52, " 3991Hz"}, CutoffCase{8000, 331, 3999.0, " 3999Hz"},
                      CutoffCase{8000, 400, 3999.0, " 3999Hz"}),
    [](const auto& info) {
        return "Rate" + std::to_string(info.param.sampleRate) + "Position" + std::to_string(info.param.position);
    });

TEST_F(MainFormStart, MovingACutoffBarRefreshesItsLabel)
{
    TMainForm& f = MakeForm();
    f.LowCutoffBar->setValue(100);
    EXPECT_EQ(f.LowFcLabel->text(), QStringLiteral("   20Hz"));
    f.HighCutoffBar->setValue(400);
    EXPECT_EQ(f.HighFcLabel->text(), QStringLiteral("20000Hz"));
}

// A picture of the window for a person to hold against the layout drawing.
TEST_F(MainFormStart, DrawsTheWindowToAPicture)
{
    TMainForm& f = MakeForm();
    f.show();
    QApplication::processEvents();
    const QPixmap picture = f.grab();
    EXPECT_EQ(picture.size() / picture.devicePixelRatio(), QSize(634, 513));
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("mainform.png"));
    EXPECT_TRUE(picture.save(path)) << path.toStdString();
}

// ---- the settings read at creation and written at destruction ----

class WindowSettings : public WindowTest {
protected:
    static QString ReadAll(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll());
    }
};

TEST_F(WindowSettings, ClosingWritesTheThreeKeysAndTheNextStartReadsThem)
{
    TMainForm& f = MakeForm();
    const QString settingsPath = f.SettingsPath;
    EXPECT_TRUE(settingsPath.endsWith(QStringLiteral("/Tarvek/Marlowin/Marlowin.ini")));
    QFile::remove(settingsPath);
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(f.SourceDir, documents);
    EXPECT_EQ(f.DestDir, documents);
    f.SourceDir = QStringLiteral("/music/in");
    f.DestDir = QStringLiteral("/music/out");
    f.VolumeBar->setValue(100);
    form.reset();
    EXPECT_TRUE(boxes.empty());
    const QString text = ReadAll(settingsPath);
    const qsizetype source = text.indexOf(QStringLiteral("SourceDir=/music/in"));
    const qsizetype dest = text.indexOf(QStringLiteral("DestDir=/music/out"));
    const qsizetype volume = text.indexOf(QStringLiteral("Volume=0.3125"));
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Directories]"))) << text.toStdString();
    EXPECT_LT(source, dest);
    EXPECT_LT(text.indexOf(QStringLiteral("[Settings]")), volume);
    EXPECT_LT(dest, volume);

    TMainForm& again = MakeForm();
    EXPECT_EQ(again.SourceDir, QStringLiteral("/music/in"));
    EXPECT_EQ(again.DestDir, QStringLiteral("/music/out"));
    EXPECT_EQ(again.VolumeBar->value(), 100);
}

TEST_F(WindowSettings, AFailedWriteShowsOneBoxAndClosingGoesOn)
{
    TMainForm& f = MakeForm();
    // A path below a regular file can never be written, whatever the user's rights.
    const std::string blocker = dir / "blocker";
    wavtest::WriteFile(blocker, {1, 2, 3});
    f.SettingsPath = QString::fromStdString(blocker) + QStringLiteral("/Tarvek/Marlowin.ini");
    form.reset();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, MessageKind::Error);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Marlowin.iniが別のアプリケーションで開かれています。ファイルを閉じて下さい。"));
}
