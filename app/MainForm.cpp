#include "MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <thread>

#include "AppInfo.h"
#include "Desktop.h"
#include "MarlowinApplication.h"
#include "Messagebox.h"
#include "dsp/ControlValues.h"
#include "dsp/RenderJob.h"

#if MARLOWIN_HAVE_SETTINGS
#include "Settings.h"
#endif

TMainForm* MainForm = nullptr;

void PlayerDeleter::operator()(TStreamingPlay* player) const noexcept
{
#if MARLOWIN_HAVE_AUDIO
    delete player;
#else
    (void)player;  // never made without the audio layer
#endif
}

namespace {

// File-system form of a path for the reader and the writer.
std::string NarrowPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// The folder part of a path, without a trailing separator except for the root.
QString FolderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

// The extension is the text from the last "." of the file name on; "" when there is none.
bool HasWavExtension(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0) {
        return false;
    }
    // Only A to Z fold, as the rule has it; compare byte for byte otherwise.
    QString extension = name.mid(dot);
    for (QChar& c : extension) {
        if (c >= u'A' && c <= u'Z') {
            c = QChar(c.unicode() + (u'a' - u'A'));
        }
    }
    return extension == QStringLiteral(".wav");
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top)
{
    auto* label = new QLabel(text, parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QSlider* MakeTrackBar(QWidget* parent, int left, int top, int width, int height, int minimum, int maximum,
                      int tick)
{
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setGeometry(left, top, width, height);
    bar->setRange(minimum, maximum);
    bar->setTickInterval(tick);
    bar->setTickPosition(QSlider::TicksBelow);
    return bar;
}

QPushButton* MakeButton(QWidget* parent, const QString& text, int left, int top, int width, int height)
{
    auto* button = new QPushButton(text, parent);
    button->setGeometry(left, top, width, height);
    return button;
}

void SetHint(QWidget* widget, const QString& hint)
{
    widget->setToolTip(hint);
    widget->setToolTipDuration(10000);
}

// Throws with the message for the user when the sound device cannot be set up. A build
// without the audio layer has no preview: no player and no message.
PlayerPtr MakePlayer(const WAVEFORMATEX& format)
{
#if MARLOWIN_HAVE_AUDIO
    return PlayerPtr(new TStreamingPlay(format, static_cast<int32_t>(BlockFrames), PreviewBlockCount));
#else
    (void)format;
    return nullptr;
#endif
}

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent)
{
    CreateControls();
    FormCreate();
}

TMainForm::~TMainForm()
{
    FormDestroy();
    if (MainForm == this) {
        MainForm = nullptr;
    }
}

void TMainForm::CreateControls()
{
    setWindowTitle(QString::fromUtf8(AppInfo::Title));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(634, 513);
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setAutoFillBackground(true);

    GroupBox3 = new QGroupBox(QStringLiteral("ソースファイル"), this);
    GroupBox3->setGeometry(8, 8, 616, 57);
    FileNameBox = new QLineEdit(GroupBox3);
    FileNameBox->setGeometry(16, 21, 489, 21);
    FileNameBox->setReadOnly(true);
    FileNameBox->setFocusPolicy(Qt::ClickFocus);
    {
        QPalette palette = FileNameBox->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Button));
        FileNameBox->setPalette(palette);
    }
    SetHint(FileNameBox, QStringLiteral("ここには入力できません。"));
    OpenFileButton = MakeButton(GroupBox3, QStringLiteral("ファイルを開く..."), 511, 19, 90, 25);
    SetHint(OpenFileButton, QStringLiteral("ソースとなるWAVファイルを選択して開きます。"));

    GroupBox1 = new QGroupBox(QStringLiteral("プレビュー"), this);
    GroupBox1->setGeometry(8, 71, 616, 98);
    PlayButton = MakeButton(GroupBox1, QStringLiteral("再生"), 16, 21, 66, 25);
    PlayButton->setCheckable(true);
    PlayButton->setFocusPolicy(Qt::NoFocus);
    SetHint(PlayButton, QStringLiteral("現在の設定にしたがって再生します。もう一度クリックすると一時停止します。"));
    StopButton = MakeButton(GroupBox1, QStringLiteral("停止"), 88, 21, 66, 25);
    SetHint(StopButton, QStringLiteral("再生を停止して先頭に戻します。"));
    Label2 = MakeLabel(GroupBox1, QStringLiteral("再生音量"), 176, 29);
    VolumeBar = MakeTrackBar(GroupBox1, 223, 24, 378, 34, 0, ControlValues::VolumeMax, 16);
    SetHint(VolumeBar, QStringLiteral("再生時の音量を調整します。出力ファイルには影響を与えません。"));
    Label1 = MakeLabel(GroupBox1, QStringLiteral("再生位置"), 16, 66);
    PlayPosBar = new QScrollBar(Qt::Horizontal, GroupBox1);
    PlayPosBar->setGeometry(80, 64, 521, 17);
    PlayPosBar->setRange(0, ControlValues::PositionBarMax);
    PlayPosBar->setSingleStep(1);
    PlayPosBar->setPageStep(1);  // no page size: a click in the track moves one step too
    PlayPosBar->setFocusPolicy(Qt::StrongFocus);  // a tab stop like the other controls
    SetHint(PlayPosBar, QStringLiteral("再生する位置を指定します。"));

    GroupBox4 = new QGroupBox(QStringLiteral("ボーカルキャンセル"), this);
    GroupBox4->setGeometry(8, 175, 616, 64);
    Label3 = MakeLabel(GroupBox4, QStringLiteral("定位"), 16, 28);
    Label5 = MakeLabel(GroupBox4, QStringLiteral("左"), 54, 28);
    BalanceBar = MakeTrackBar(GroupBox4, 72, 24, 426, 33, 0, ControlValues::BalanceMax, 20);
    SetHint(BalanceBar, QStringLiteral("左右チャンネルの差分を求める割合を調整します。通常は中央でOKです。"));
    Label4 = MakeLabel(GroupBox4, QStringLiteral("右"), 504, 28);
    BalCenterButton = MakeButton(GroupBox4, QStringLiteral("中央に戻す"), 526, 24, 75, 25);
    SetHint(BalCenterButton, QStringLiteral("定位を中央に戻します。"));

    GroupBox5 = new QGroupBox(QStringLiteral("原音"), this);
    GroupBox5->setGeometry(8, 245, 616, 140);
    Label6 = MakeLabel(GroupBox5, QStringLiteral("ローパスフィルタ"), 11, 22);
    LowCutoffBar = MakeTrackBar(GroupBox5, 88, 18, 468, 34, ControlValues::CutoffMin, ControlValues::CutoffMax, 100);
    SetHint(LowCutoffBar, QStringLiteral("原音に対して指定した周波数より低い音を通過させます。"));
    LowFcLabel = MakeLabel(GroupBox5, QString(), 558, 22);
    Label7 = MakeLabel(GroupBox5, QStringLiteral("ハイパスフィルタ"), 11, 63);
    HighCutoffBar = MakeTrackBar(GroupBox5, 88, 58, 468, 34, ControlValues::CutoffMin, ControlValues::CutoffMax, 100);
    SetHint(HighCutoffBar, QStringLiteral("原音に対して指定した周波数より高い音を通過させます。"));
    HighFcLabel = MakeLabel(GroupBox5, QString(), 558, 63);
    Label8 = MakeLabel(GroupBox5, QStringLiteral("ミックス"), 11, 103);
    Label9 = MakeLabel(GroupBox5, QStringLiteral("0%"), 72, 103);
    MixLevelBar = MakeTrackBar(GroupBox5, 88, 98, 468, 33, 0, ControlValues::MixLevelMax, 20);
    SetHint(MixLevelBar, QStringLiteral("原音とボーカルキャンセル音の混合割合を調整します。右いっぱいにすると原音のみになります。"));
    Label10 = MakeLabel(GroupBox5, QStringLiteral("100%"), 558, 103);

    GroupBox2 = new QGroupBox(QStringLiteral("ファイルへ出力"), this);
    GroupBox2->setGeometry(8, 391, 616, 58);
    ProcessButton = MakeButton(GroupBox2, QStringLiteral("処理開始..."), 11, 21, 81, 25);
    SetHint(ProcessButton, QStringLiteral("出力するファイルを指定して処理を開始します。"));
    ProgressBar = new QProgressBar(GroupBox2);
    ProgressBar->setGeometry(104, 25, 497, 17);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    Label11 = new QLabel(QStringLiteral("Marlowin"), this);
    Label11->setGeometry(8, 455, 133, 24);
    {
        QFont font(QStringLiteral("Times New Roman"));
        font.setPixelSize(21);
        font.setBold(true);
        font.setItalic(true);
        Label11->setFont(font);
        QPalette palette = Label11->palette();
        palette.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
        Label11->setPalette(palette);
    }
    VersionLabel = MakeLabel(this, QStringLiteral("Version"), 160, 463);
    Label12 = MakeLabel(this, QStringLiteral("Presented by Tarvek"), 8, 485);
    UrlLabel = MakeLabel(this, QStringLiteral("siteurl"), 144, 485);
    {
        UrlLabel->setFont(QFont(QStringLiteral("Tahoma"), 8));
        QPalette palette = UrlLabel->palette();
        palette.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xFF));
        UrlLabel->setPalette(palette);
        UrlLabel->installEventFilter(this);
    }
    HelpButton = MakeButton(this, QStringLiteral("ヘルプ(&H)"), 453, 473, 75, 25);
    HelpButton->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
    SetHint(HelpButton, QStringLiteral("オンラインマニュアルをブラウザで開きます。"));
    ExitButton = MakeButton(this, QStringLiteral("終了(&X)"), 534, 473, 75, 25);
    ExitButton->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    SetHint(ExitButton, QStringLiteral("アプリケーションを終了します。"));

    // Labels are drawn over the track bars beside them, so that a long caption such as
    // "ローパスフィルタ" is not cut by the bar's empty margin.
    for (QLabel* label : findChildren<QLabel*>()) {
        label->raise();
    }

    // Tab order: group boxes in their order, and the controls inside each by their index.
    QWidget* const tabOrder[] = {OpenFileButton, StopButton,    VolumeBar,     PlayPosBar,
                                 BalanceBar,     BalCenterButton, LowCutoffBar, HighCutoffBar,
                                 MixLevelBar,    ProcessButton, HelpButton,    ExitButton};
    for (size_t i = 1; i < std::size(tabOrder); ++i) {
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }

    PlayTimer = new QTimer(this);
    PlayTimer->setInterval(100);

    connect(OpenFileButton, &QPushButton::clicked, this, &TMainForm::OpenFileButtonClick);
    connect(PlayButton, &QPushButton::clicked, this, &TMainForm::PlayButtonClick);
    connect(StopButton, &QPushButton::clicked, this, &TMainForm::StopButtonClick);
    connect(PlayTimer, &QTimer::timeout, this, &TMainForm::PlayTimerTimer);
    // actionTriggered comes for every user action (arrows, track, drag, wheel, keys) and
    // never for the feed's own moves of the bar.
    connect(PlayPosBar, &QScrollBar::actionTriggered, this, &TMainForm::PlayPosBarScroll);
    connect(PlayPosBar, &QScrollBar::sliderReleased, this, &TMainForm::PlayPosBarScroll);
    connect(BalCenterButton, &QPushButton::clicked, this, &TMainForm::BalCenterButtonClick);
    connect(LowCutoffBar, &QSlider::valueChanged, this, &TMainForm::LowCutoffBarChange);
    connect(HighCutoffBar, &QSlider::valueChanged, this, &TMainForm::HighCutoffBarChange);
    connect(ProcessButton, &QPushButton::clicked, this, &TMainForm::ProcessButtonClick);
    connect(HelpButton, &QPushButton::clicked, this, &TMainForm::HelpButtonClick);
    connect(ExitButton, &QPushButton::clicked, this, &QWidget::close);
    // The feeder reads the slider values from the feed, never from the widgets.
    connect(BalanceBar, &QSlider::valueChanged, this, [this] { Feed.SetBalance(GetBalance()); });
    connect(MixLevelBar, &QSlider::valueChanged, this, [this] { Feed.SetMixLevel(GetMixLevel()); });
    connect(VolumeBar, &QSlider::valueChanged, this, [this] { Feed.SetVolume(GetVolume()); });
}

// The dialogs are made when first needed: each brings a folder-watching thread with it that a
// session without a dialog has no use for.
void TMainForm::PrepareDialogs()
{
    if (OpenDialog) {
        return;
    }
    OpenDialog = new QFileDialog(this);
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setFileMode(QFileDialog::ExistingFile);
    OpenDialog->setNameFilter(QStringLiteral("WAVファイル(*.wav)"));
    OpenDialog->setDefaultSuffix(QStringLiteral("wav"));
    OpenDialog->setSizeGripEnabled(true);
    SaveDialog = new QFileDialog(this);
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setFileMode(QFileDialog::AnyFile);
    SaveDialog->setNameFilter(QStringLiteral("WAVファイル(*.wav)"));
    SaveDialog->setDefaultSuffix(QStringLiteral("wav"));
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    SaveDialog->setSizeGripEnabled(true);
}

void TMainForm::FormCreate()
{
    setAcceptDrops(true);
    if (!qobject_cast<TApplicationStyle*>(QApplication::style())) {
        QApplication::setStyle(new TApplicationStyle(QApplication::style()->name()));
    }
    Player.reset();
    Mixer.LowPassFilter.reset();
    Mixer.HighPassFilter.reset();
    SourcePath.clear();
    SampleRate = 44100;

    UpdateEnabledStates();
    PlayPosBar->setValue(PlayPosBar->minimum());
    SetBalance(ControlValues::DefaultBalance);
    LowCutoffBar->setValue(ControlValues::DefaultLowCutoffPosition());
    HighCutoffBar->setValue(ControlValues::DefaultHighCutoffPosition());
    UpdateLowFcLabel();
    UpdateHighFcLabel();
    SetMixLevel(ControlValues::DefaultMixLevel);
    VersionLabel->setText(QString::asprintf("Version %s", MARLOWIN_VERSION_TEXT));
    VersionLabel->adjustSize();
    UrlLabel->setText(QString::fromUtf8(AppInfo::HomePageUrl));
    UrlLabel->adjustSize();

#if MARLOWIN_HAVE_SETTINGS
    const Settings::Folders folders = Settings::Locate();
    SettingsPath = folders.settingsPath;
    const Settings::Values values = Settings::Read(SettingsPath, folders.documents, QLocale());
    SourceDir = values.sourceDir;
    DestDir = values.destDir;
    SetVolume(values.volume);
#else
    SetVolume(ControlValues::DefaultVolume);
#endif
    // The bars send their values on change; these make sure the feed starts from them.
    Feed.SetBalance(GetBalance());
    Feed.SetMixLevel(GetMixLevel());
    Feed.SetVolume(GetVolume());

    // Centred on the desktop when it opens.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TMainForm::FormDestroy()
{
    if (destroyed) {
        return;
    }
    destroyed = true;
    PlayTimer->stop();
    StopPlayback();
    Reader.Close();
    Mixer.LowPassFilter.reset();
    Mixer.HighPassFilter.reset();
    Player.reset();
    if (handCursorSet) {
        QGuiApplication::restoreOverrideCursor();
        handCursorSet = false;
    }
#if MARLOWIN_HAVE_SETTINGS
    if (!Settings::Write(SettingsPath, Settings::Values{SourceDir, DestDir, GetVolume()}, QLocale())) {
        ShowErrorMessage(QStringLiteral("Marlowin.iniが別のアプリケーションで開かれています。ファイルを閉じて下さい。"),
                         this);
    }
#endif
}

// ---- control values ----

double TMainForm::GetBalance() const
{
    return ControlValues::PositionToFraction(BalanceBar->value(), BalanceBar->minimum(), BalanceBar->maximum());
}

double TMainForm::GetMixLevel() const
{
    return ControlValues::PositionToFraction(MixLevelBar->value(), MixLevelBar->minimum(), MixLevelBar->maximum());
}

double TMainForm::GetVolume() const
{
    return ControlValues::PositionToFraction(VolumeBar->value(), VolumeBar->minimum(), VolumeBar->maximum());
}

void TMainForm::SetBalance(double x)
{
    BalanceBar->setValue(ControlValues::FractionToPosition(x, BalanceBar->minimum(), BalanceBar->maximum()));
}

void TMainForm::SetMixLevel(double x)
{
    MixLevelBar->setValue(ControlValues::FractionToPosition(x, MixLevelBar->minimum(), MixLevelBar->maximum()));
}

void TMainForm::SetVolume(double x)
{
    VolumeBar->setValue(ControlValues::FractionToPosition(x, VolumeBar->minimum(), VolumeBar->maximum()));
}

double TMainForm::GetLowCutoff() const
{
    return ControlValues::ClampCutoff(ControlValues::PositionToCutoff(LowCutoffBar->value()), SampleRate);
}

double TMainForm::GetHighCutoff() const
{
    return ControlValues::ClampCutoff(ControlValues::PositionToCutoff(HighCutoffBar->value()), SampleRate);
}

void TMainForm::UpdateLowFcLabel()
{
    LowFcLabel->setText(QString::fromStdString(ControlValues::FormatCutoff(GetLowCutoff())));
    LowFcLabel->adjustSize();
}

void TMainForm::UpdateHighFcLabel()
{
    HighFcLabel->setText(QString::fromStdString(ControlValues::FormatCutoff(GetHighCutoff())));
    HighFcLabel->adjustSize();
}

// ---- states ----

bool TMainForm::IsPreviewPlaying() const
{
    return Player && Player->IsPlaying();
}

// The one place that decides which controls work. A prepared source can be stopped, sought
// and rendered even without a sound device; playing needs a player.
void TMainForm::UpdateEnabledStates()
{
    const bool prepared = !SourcePath.isEmpty() && Mixer.HasFilters();
    PlayButton->setEnabled(prepared && Player != nullptr);
    StopButton->setEnabled(prepared);
    PlayPosBar->setEnabled(prepared);
    ProcessButton->setEnabled(prepared);
}

// The newest position the feed reported; left alone while the user holds the thumb.
void TMainForm::ApplyBarValue()
{
    const int value = Feed.TakeBarValue();
    if (value >= 0 && !PlayPosBar->isSliderDown()) {
        PlayPosBar->setValue(value);
    }
}

void TMainForm::ReleasePlayButton()
{
    PlayButton->setChecked(false);
    PlayButton->setText(QStringLiteral("再生"));
}

// ---- handlers ----

bool TMainForm::LoadSource(const QString& path)
{
    // A separate reader checks the new file first, so that a refused or broken file leaves
    // the current source loaded, playable and renderable.
    const std::string narrow = NarrowPath(path);
    {
        TWaveFileReader probe;
        if (!probe.Open(narrow)) {
            ShowErrorMessage(QStringLiteral("ファイルが見つからないか壊れています。"), this);
            return false;
        }
        if (probe.Format.nChannels != 2) {
            ShowErrorMessage(QStringLiteral("モノラルの音源は処理できません。"), this);
            return false;
        }
    }
    if (!Reader.Open(narrow) || Reader.Format.nChannels != 2) {
        // The file changed between the two opens: go back to the previous source.
        if (!SourcePath.isEmpty()) {
            Reader.Open(NarrowPath(SourcePath));
        } else {
            Reader.Close();
        }
        ShowErrorMessage(QStringLiteral("ファイルが見つからないか壊れています。"), this);
        return false;
    }
    SourcePath = path;
    SourceDir = FolderOf(path);
    FileNameBox->setText(path);
    SampleRate = Reader.Format.nSamplesPerSec;
    UpdateLowFcLabel();
    UpdateHighFcLabel();
    return true;
}

bool TMainForm::PrepareSource()
{
    Player.reset();  // never playing here: every caller is refused while playing

    const WAVEFORMATEX format = PreviewFormat(SampleRate);

    bool made = true;
    try {
        Player = MakePlayer(format);
    } catch (const std::exception& e) {
        // Without a sound device the render still works: the rest of the preparation goes on.
        ShowErrorMessage(QString::fromUtf8(e.what()), this);
        made = false;
    }
    Mixer.PrepareFilters(SampleRate);
    (void)Feed.TakeBarValue();  // nothing left over from the previous source
    PlayPosBar->setValue(PlayPosBar->minimum());
    UpdateEnabledStates();
    return made && Player != nullptr;
}

void TMainForm::StopPlayback()
{
    if (!Player) {
        return;
    }
#if MARLOWIN_HAVE_AUDIO
    Player->Stop();
#endif
    while (Player->IsPlaying()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TMainForm::WMDropFiles(const QStringList& paths)
{
    if (IsPreviewPlaying()) {
        ShowInfoMessage(QStringLiteral("再生中はドロップできません。再生を停止して下さい。"), this);
        return;
    }
    if (paths.size() > 1) {
        ShowErrorMessage(QStringLiteral("ファイルは１つしかドロップできません。"), this);
        return;
    }
    const QString path = paths.value(0);
    if (HasWavExtension(path) && LoadSource(path)) {
        PrepareSource();
    }
}

void TMainForm::OpenFileButtonClick()
{
    if (IsPreviewPlaying()) {
        ShowInfoMessage(QStringLiteral("再生中は読み込みできません。再生を停止して下さい。"), this);
        return;
    }
    PrepareDialogs();
    OpenDialog->setDirectory(SourceDir);
    const QString path = RunFileDialog(*OpenDialog);
    if (!path.isEmpty() && LoadSource(path)) {
        PrepareSource();
    }
}

void TMainForm::PlayButtonClick()
{
    if (PlayButton->isChecked()) {
        if (SourcePath.isEmpty() || !Player || Player->IsPlaying()) {
            return;
        }
        Mixer.LowPassFilter->SetCutoff(GetLowCutoff());
        Mixer.LowPassFilter->Reset();
        Mixer.HighPassFilter->SetCutoff(GetHighCutoff());
        Mixer.HighPassFilter->Reset();
#if MARLOWIN_HAVE_AUDIO
        Player->Play(PreviewCallback, &Feed);
#endif
        PlayButton->setText(QStringLiteral("一時停止"));
        PlayTimer->start();
    } else {
        StopPlayback();
        PlayButton->setText(QStringLiteral("再生"));
        PlayTimer->stop();
        ApplyBarValue();  // the bar shows where the preview stopped
    }
}

void TMainForm::StopButtonClick()
{
    if (SourcePath.isEmpty()) {
        return;
    }
    ReleasePlayButton();
    StopPlayback();
    PlayTimer->stop();
    (void)Feed.TakeBarValue();
    PlayPosBar->setValue(PlayPosBar->minimum());
    Reader.Rewind();
}

void TMainForm::PlayTimerTimer()
{
    // The render lets timer events through to repaint its progress; the end of a preview
    // that it overtook is handled at a tick after it, never by rewinding the reader mid-pass.
    if (rendering) {
        return;
    }
    if (IsPreviewPlaying()) {
        ApplyBarValue();
        return;
    }
    // The preview reached the end of the source and the player stopped by itself.
    ReleasePlayButton();
    PlayTimer->stop();
    (void)Feed.TakeBarValue();
    PlayPosBar->setValue(PlayPosBar->minimum());
    Reader.Rewind();
}

void TMainForm::PlayPosBarScroll()
{
    // During actionTriggered the new position is in sliderPosition; value follows later.
    Feed.Seek(static_cast<double>(PlayPosBar->sliderPosition()) / static_cast<double>(PlayPosBar->maximum()));
    // A value the feed left before the seek would pull the bar back from where the user put it.
    (void)Feed.TakeBarValue();
}

void TMainForm::BalCenterButtonClick()
{
    SetBalance(ControlValues::DefaultBalance);
}

void TMainForm::LowCutoffBarChange()
{
    UpdateLowFcLabel();
    if (Mixer.LowPassFilter) {
        Feed.SetLowCutoff(GetLowCutoff());
    }
}

void TMainForm::HighCutoffBarChange()
{
    UpdateHighFcLabel();
    if (Mixer.HighPassFilter) {
        Feed.SetHighCutoff(GetHighCutoff());
    }
}

void TMainForm::ProcessButtonClick()
{
    if (IsPreviewPlaying()) {
        ShowInfoMessage(QStringLiteral("再生を停止して下さい。"), this);
        return;
    }
    if (SourcePath.isEmpty() || !Mixer.HasFilters()) {
        return;
    }
    PrepareDialogs();
    SaveDialog->setDirectory(DestDir);
    SaveDialog->selectFile(QString());
    const QString path = RunFileDialog(*SaveDialog);
    if (path.isEmpty()) {
        return;
    }
    RenderToFile(path);
}

void TMainForm::RenderToFile(const QString& path)
{
    MixParameters params;
    params.balance = GetBalance();
    params.lowCutoff = GetLowCutoff();
    params.highCutoff = GetHighCutoff();
    params.mixLevel = GetMixLevel();

    // The window stays inert during the render: only paint and timer events are handled, and
    // only often enough that the bar visibly moves.
    bool started = false;
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    auto progress = [&](int value) {
        started = true;
        if (value == ProgressBar->value()) {
            return;
        }
        ProgressBar->setValue(value);
        if (sinceRepaint.elapsed() >= 50) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            sinceRepaint.restart();
        }
    };
    RenderStatus status;
    {
        rendering = true;
        const auto inertUntilHere = qScopeGuard([this] { rendering = false; });
        status = ::RenderToFile(Reader, NarrowPath(SourcePath), Mixer, NarrowPath(path), params, progress);
    }

    switch (status) {
    case RenderStatus::Ok:
        DestDir = FolderOf(path);
        ShowInfoMessage(QStringLiteral("処理は正常に終了しました。"), this);
        break;
    case RenderStatus::CannotCreate:
        ShowErrorMessage(QStringLiteral("出力ファイルが別のアプリケーションで開かれています。ファイルを閉じて下さい。"),
                         this);
        break;
    case RenderStatus::SameAsSource:
        ShowErrorMessage(QStringLiteral("ソースファイルと同じファイルには出力できません。"), this);
        break;
    case RenderStatus::WriteFailed:
        ShowErrorMessage(QStringLiteral("出力ファイルの書き込みに失敗しました。"), this);
        break;
    case RenderStatus::SourceChanged:
        ShowErrorMessage(QStringLiteral("処理中にソースファイルが変更されたため、出力できませんでした。"), this);
        break;
    }
    // A render that never started reading leaves everything as it was.
    if (status == RenderStatus::Ok || started) {
        ProgressBar->setValue(0);
        PlayPosBar->setValue(PlayPosBar->minimum());
        Reader.Rewind();
    }
}

void TMainForm::HelpButtonClick()
{
    OpenAddress(QUrl(QString::fromUtf8(AppInfo::ManualUrl)));
}

void TMainForm::UrlLabelClick()
{
    OpenAddress(QUrl(UrlLabel->text()));
}

void TMainForm::UrlLabelMouseEnter()
{
    if (!handCursorSet) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::PointingHandCursor));
        handCursorSet = true;
    }
}

void TMainForm::UrlLabelMouseLeave()
{
    if (handCursorSet) {
        QGuiApplication::restoreOverrideCursor();
        handCursorSet = false;
    }
}

// ---- events ----

void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (rendering || !event->mimeData()->hasUrls()) {
        return;
    }
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
    }
}

void TMainForm::dropEvent(QDropEvent* event)
{
    if (rendering) {
        return;
    }
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths.append(url.toLocalFile());
        }
    }
    event->acceptProposedAction();
    // Handled once the drag has finished, so that the source application is not kept
    // waiting while a box is open.
    QMetaObject::invokeMethod(
        this,
        [this, paths] {
            if (!rendering) {
                WMDropFiles(paths);
            }
        },
        Qt::QueuedConnection);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (rendering) {
        event->ignore();
        return;
    }
    event->accept();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == UrlLabel) {
        switch (event->type()) {
        case QEvent::Enter:
            UrlLabelMouseEnter();
            break;
        case QEvent::Leave:
            UrlLabelMouseLeave();
            break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
                UrlLabel->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
                UrlLabelClick();
            }
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
