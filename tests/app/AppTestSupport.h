#pragma once
// What every window test needs: one application object, a private config folder, and the
// seams that record message boxes and answer file dialogs instead of blocking.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

#include "Desktop.h"
#include "MainForm.h"
#include "MarlowinApplication.h"
#include "Messagebox.h"
#include "WavBuilder.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace apptest {

// Processes events until pred holds or the limit passes.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The frame the reader stands at: how far the preview's feed has read.
inline int64_t ReaderFrame(const TWaveFileReader& reader)
{
    return std::llround(reader.GetPosition() * static_cast<double>(reader.FrameCount));
}

// Creates the application once per test program, with the settings kept in a temporary
// folder so that no test touches the real user's configuration.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        home = std::make_unique<wavtest::TempDir>();
        setenv("XDG_CONFIG_HOME", (home->path() / "config").c_str(), 1);
        setenv("HOME", home->path().c_str(), 1);
        std::filesystem::create_directories(home->path() / "Documents");
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        static int argc = 1;
        static char name[] = "marlowin-test";
        static char* argv[] = {name, nullptr};
        application = std::make_unique<TMarlowinApplication>(argc, argv);
        // Tests close windows without running the loop; that must not end a later exec().
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override
    {
        application.reset();
        home.reset();
    }

    std::unique_ptr<wavtest::TempDir> home;
    std::unique_ptr<TMarlowinApplication> application;
};

// Records the boxes and answers the dialogs for the length of one test.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Every test starts as a first run: no settings left by the one before.
        std::filesystem::remove(std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "Tarvek/Marlowin/Marlowin.ini");
        previousBoxHook = SetMessageBoxHook([this](const MessageRecord& box) {
            boxes.push_back(box);
            if (onBox) onBox(box);
        });
        previousDialogHook = SetFileDialogHook([this](QFileDialog& dialog) {
            dialogs.push_back(&dialog);
            dialogDirectories.push_back(dialog.directory().absolutePath());
            if (dialogAnswers.empty()) return QString();
            QString answer = dialogAnswers.front();
            dialogAnswers.pop_front();
            return answer;
        });
        previousAddressHook = SetOpenAddressHook([this](const QUrl& url) { addresses.push_back(url.toString()); });
    }
    void TearDown() override
    {
        form.reset();
        SetMessageBoxHook(previousBoxHook);
        SetFileDialogHook(previousDialogHook);
        SetOpenAddressHook(previousAddressHook);
    }

    TMainForm& MakeForm()
    {
        form = std::make_unique<TMainForm>();
        return *form;
    }

    QStringList BoxTexts() const
    {
        QStringList texts;
        for (const auto& box : boxes) texts.append(box.text);
        return texts;
    }

    // Lets the feed take at least `blocks` blocks from the window's reader.
    void ReadBlocks(int blocks, std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        const int64_t start = ReaderFrame(form->Reader);
        ASSERT_TRUE(WaitFor([&] { return ReaderFrame(form->Reader) >= start + blocks * int64_t{BlockFrames}; }, limit));
    }

    std::string WriteWav(const std::string& name, const wavtest::Bytes& bytes)
    {
        const std::string path = dir / name;
        wavtest::WriteFile(path, bytes);
        return path;
    }

    wavtest::TempDir dir;
    std::unique_ptr<TMainForm> form;
    std::vector<MessageRecord> boxes;
    std::function<void(const MessageRecord&)> onBox;
    std::deque<QString> dialogAnswers;
    std::vector<QFileDialog*> dialogs;
    QStringList dialogDirectories;
    QStringList addresses;

private:
    MessageBoxHook previousBoxHook;
    FileDialogHook previousDialogHook;
    OpenAddressHook previousAddressHook;
};

}  // namespace apptest
