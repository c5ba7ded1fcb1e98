#pragma once
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "dsp/VocalCancelMixer.h"
#include "playback/PreviewFeed.h"
#include "playback/Streamingplay.h"
#include "wave/Wavefile.h"

class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QSlider;
class QTimer;

// Lets the window hold a player in builds without the audio layer, where none is ever made.
struct PlayerDeleter {
    void operator()(TStreamingPlay* player) const noexcept;
};
using PlayerPtr = std::unique_ptr<TStreamingPlay, PlayerDeleter>;

// The program's only window: the current source, the preview and the render, and the
// controls that set the vocal-cancel mix.
class TMainForm : public QWidget {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Slider fractions, 0.0 .. 1.0. The setters keep a value outside 0..1 at the nearer end.
    double GetBalance() const;
    double GetMixLevel() const;
    double GetVolume() const;
    void SetBalance(double x);
    void SetMixLevel(double x);
    void SetVolume(double x);
    // Cutoffs in Hz, kept below half the source's sample rate.
    double GetLowCutoff() const;
    double GetHighCutoff() const;
    void UpdateLowFcLabel();
    void UpdateHighFcLabel();

    bool LoadSource(const QString& path);
    bool PrepareSource();
    void StopPlayback();
    void RenderToFile(const QString& path);
    // The files dropped on the window, as local paths.
    void WMDropFiles(const QStringList& paths);

    void OpenFileButtonClick();
    void PlayButtonClick();
    void StopButtonClick();
    void PlayTimerTimer();
    void PlayPosBarScroll();
    void BalCenterButtonClick();
    void LowCutoffBarChange();
    void HighCutoffBarChange();
    void ProcessButtonClick();
    void HelpButtonClick();
    void UrlLabelClick();
    void UrlLabelMouseEnter();
    void UrlLabelMouseLeave();

    // Makes and configures OpenDialog and SaveDialog unless they exist.
    void PrepareDialogs();

    // Members in the order the window's data lists them.
    TWaveFileReader Reader;
    PlayerPtr Player;
    QString SourcePath;
    QString SettingsPath;
    QString SourceDir;
    QString DestDir;
    uint32_t SampleRate = 44100;
    VocalCancelMixer Mixer;  // the block buffers and both filters
    PreviewFeed Feed{Reader, Mixer};

    QGroupBox* GroupBox3;
    QPushButton* OpenFileButton;
    QLineEdit* FileNameBox;
    QGroupBox* GroupBox1;
    QPushButton* PlayButton;
    QPushButton* StopButton;
    QLabel* Label2;
    QSlider* VolumeBar;
    QLabel* Label1;
    QScrollBar* PlayPosBar;
    QGroupBox* GroupBox4;
    QLabel* Label3;
    QLabel* Label5;
    QSlider* BalanceBar;
    QLabel* Label4;
    QPushButton* BalCenterButton;
    QGroupBox* GroupBox5;
    QLabel* Label6;
    QSlider* LowCutoffBar;
    QLabel* LowFcLabel;
    QLabel* Label7;
    QSlider* HighCutoffBar;
    QLabel* HighFcLabel;
    QLabel* Label8;
    QLabel* Label9;
    QSlider* MixLevelBar;
    QLabel* Label10;
    QGroupBox* GroupBox2;
    QPushButton* ProcessButton;
    QProgressBar* ProgressBar;
    QLabel* Label11;
    QLabel* VersionLabel;
    QLabel* Label12;
    QLabel* UrlLabel;
    QPushButton* HelpButton;
    QPushButton* ExitButton;
    QFileDialog* OpenDialog = nullptr;  // both made by PrepareDialogs
    QFileDialog* SaveDialog = nullptr;
    QTimer* PlayTimer;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void FormCreate();
    void FormDestroy();
    void UpdateEnabledStates();
    void ApplyBarValue();
    void ReleasePlayButton();
    bool IsPreviewPlaying() const;

    bool rendering = false;      // the window takes no input while a render runs
    bool handCursorSet = false;  // UrlLabel pushed an override cursor
    bool destroyed = false;
};

// The one main window, set by start-up.
extern TMainForm* MainForm;
