#pragma once
#include <QString>
#include <functional>

class QFileDialog;
class QUrl;

// The window's two ways out to the desktop, each with a seam so that tests neither block
// in a dialog nor start a browser.

// Runs a configured open or save dialog modally; the chosen file, or empty when cancelled.
QString RunFileDialog(QFileDialog& dialog);
using FileDialogHook = std::function<QString(QFileDialog&)>;
FileDialogHook SetFileDialogHook(FileDialogHook hook);

// Shows an address in the default browser; the outcome is not reported.
void OpenAddress(const QUrl& url);
using OpenAddressHook = std::function<void(const QUrl&)>;
OpenAddressHook SetOpenAddressHook(OpenAddressHook hook);
