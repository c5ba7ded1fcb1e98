#pragma once
#include <QString>
#include <functional>

class QWidget;

enum class MessageKind { Error, Info };

// One box as it would be shown; handed to the hook instead when one is set.
struct MessageRecord {
    MessageKind kind;
    QString title;
    QString text;
    QWidget* owner;
};

// Modal boxes with a single OK button, owned by owner and raised to the front. They return
// once the user has closed them.
void ShowErrorMessage(const QString& text, QWidget* owner);  // "エラー", critical icon
void ShowInfoMessage(const QString& text, QWidget* owner);   // "情報", information icon

// The common box behind both, also used by the exception display with its own title.
void ShowMessageBox(MessageKind kind, const QString& title, const QString& text, QWidget* owner);

// Tests record the boxes instead of showing them. Returns the hook it replaces; an empty
// hook restores the real boxes.
using MessageBoxHook = std::function<void(const MessageRecord&)>;
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
