#include "Desktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>
#include <utility>

namespace {
FileDialogHook& DialogHook()
{
    static FileDialogHook hook;
    return hook;
}
OpenAddressHook& AddressHook()
{
    static OpenAddressHook hook;
    return hook;
}
}  // namespace

FileDialogHook SetFileDialogHook(FileDialogHook hook)
{
    return std::exchange(DialogHook(), std::move(hook));
}

OpenAddressHook SetOpenAddressHook(OpenAddressHook hook)
{
    return std::exchange(AddressHook(), std::move(hook));
}

QString RunFileDialog(QFileDialog& dialog)
{
    if (DialogHook()) {
        return DialogHook()(dialog);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void OpenAddress(const QUrl& url)
{
    if (AddressHook()) {
        AddressHook()(url);
        return;
    }
    QDesktopServices::openUrl(url);
}
