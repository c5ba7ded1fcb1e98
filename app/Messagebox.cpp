#include "Messagebox.h"

#include <QMessageBox>
#include <QTimer>
#include <utility>

namespace {
MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}
}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    return std::exchange(Hook(), std::move(hook));
}

void ShowMessageBox(MessageKind kind, const QString& title, const QString& text, QWidget* owner)
{
    if (Hook()) {
        Hook()(MessageRecord{kind, title, text, owner});
        return;
    }
    const auto icon = kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::Information;
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
    box.setWindowModality(Qt::ApplicationModal);
    // Bring the box to the front once it is on screen, like a foreground message box.
    QTimer::singleShot(0, &box, [&box] {
        box.raise();
        box.activateWindow();
    });
    box.exec();
}

void ShowErrorMessage(const QString& text, QWidget* owner)
{
    ShowMessageBox(MessageKind::Error, QStringLiteral("エラー"), text, owner);
}

void ShowInfoMessage(const QString& text, QWidget* owner)
{
    ShowMessageBox(MessageKind::Info, QStringLiteral("情報"), text, owner);
}
