#pragma once
#include <QLocale>
#include <QString>
#include <optional>

// The settings file: the folders of the last source and the last render, and the
// preview volume. Read once when the window is created, written once when it closes.
namespace Settings {

struct Folders {
    QString documents;     // the user's documents folder, default for both stored folders
    QString settingsDir;   // <config>/Tarvek/Marlowin
    QString settingsPath;  // settingsDir + "/Marlowin.ini"
};

// Queries the folders and creates the settings folder with its parents when missing.
// Whether the creation worked is not checked: reads then give the defaults and the
// write at close reports the failure.
Folders Locate();

struct Values {
    QString sourceDir;
    QString destDir;
    double volume = 0.5;
};

// Missing keys give the documents folder and 0.5; an empty or unreadable volume gives
// 0.5. The volume is returned as parsed, even outside 0..1: the volume bar clamps.
Values Read(const QString& settingsPath, const QString& documents, const QLocale& locale = QLocale());

// Writes SourceDir, DestDir and Volume in that order; stops at the first failing write
// and returns false.
bool Write(const QString& settingsPath, const Values& values, const QLocale& locale = QLocale());

// General format with at most 15 significant digits and the locale's decimal separator:
// 0.5, 0.3125, 0.003125, 0, 1.
QString FormatVolume(double volume, const QLocale& locale);

// Accepts blanks around the number, a sign, the locale's decimal separator and an
// exponent (E or e); anything else, including group separators, gives nullopt.
std::optional<double> ParseVolume(const QString& text, const QLocale& locale);

}  // namespace Settings
