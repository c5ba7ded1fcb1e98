#include "Settings.h"

#include "ProfileStrings.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <charconv>
#include <string>
#include <system_error>

namespace Settings {
namespace {

const std::string DirectoriesSection = "Directories";
const std::string SettingsSection = "Settings";
constexpr double DefaultVolume = 0.5;

std::string FilePath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

bool IsAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

}  // namespace

Folders Locate()
{
    Folders folders;
    folders.documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    folders.settingsDir = config + QStringLiteral("/Tarvek/Marlowin");
    folders.settingsPath = folders.settingsDir + QStringLiteral("/Marlowin.ini");
    // Never create the folders relative to the working directory when there is no config location.
    if (!config.isEmpty() && !QDir(folders.settingsDir).exists()) {
        QDir().mkpath(folders.settingsDir);
    }
    return folders;
}

Values Read(const QString& settingsPath, const QString& documents, const QLocale& locale)
{
    const std::string file = FilePath(settingsPath);
    const std::string fallback = documents.toStdString();
    Values values;
    values.sourceDir = QString::fromStdString(GetProfileString(file, DirectoriesSection, "SourceDir", fallback));
    values.destDir = QString::fromStdString(GetProfileString(file, DirectoriesSection, "DestDir", fallback));
    const QString volume = QString::fromStdString(GetProfileString(file, SettingsSection, "Volume", ""));
    values.volume = volume.isEmpty() ? DefaultVolume : ParseVolume(volume, locale).value_or(DefaultVolume);
    return values;
}

bool Write(const QString& settingsPath, const Values& values, const QLocale& locale)
{
    const std::string file = FilePath(settingsPath);
    return WriteProfileString(file, DirectoriesSection, "SourceDir", values.sourceDir.toStdString()) &&
           WriteProfileString(file, DirectoriesSection, "DestDir", values.destDir.toStdString()) &&
           WriteProfileString(file, SettingsSection, "Volume", FormatVolume(values.volume, locale).toStdString());
}

QString FormatVolume(double volume, const QLocale& locale)
{
    // std::to_chars ignores the C locale, which Qt sets from the environment at start-up.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, volume, std::chars_format::general, 15);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    return text;
}

std::optional<double> ParseVolume(const QString& text, const QLocale& locale)
{
    const QString s = text.trimmed();
    const QString decimalPoint = locale.decimalPoint();
    std::string number;  // the same number in the form std::from_chars reads
    qsizetype i = 0;
    if (i < s.size() && (s[i] == QLatin1Char('+') || s[i] == QLatin1Char('-'))) {
        if (s[i] == QLatin1Char('-')) {
            number += '-';
        }
        ++i;
    }
    int mantissaDigits = 0;
    for (; i < s.size() && IsAsciiDigit(s[i]); ++i, ++mantissaDigits) {
        number += s[i].toLatin1();
    }
    if (!decimalPoint.isEmpty() && QStringView(s).mid(i).startsWith(decimalPoint)) {
        number += '.';
        for (i += decimalPoint.size(); i < s.size() && IsAsciiDigit(s[i]); ++i, ++mantissaDigits) {
            number += s[i].toLatin1();
        }
    }
    if (mantissaDigits == 0) {
        return std::nullopt;
    }
    if (i < s.size() && (s[i] == QLatin1Char('e') || s[i] == QLatin1Char('E'))) {
        number += 'e';
        ++i;
        if (i < s.size() && (s[i] == QLatin1Char('+') || s[i] == QLatin1Char('-'))) {
            number += s[i].toLatin1();
            ++i;
        }
        int exponentDigits = 0;
        for (; i < s.size() && IsAsciiDigit(s[i]); ++i, ++exponentDigits) {
            number += s[i].toLatin1();
        }
        if (exponentDigits == 0) {
            return std::nullopt;
        }
    }
    if (i != s.size()) {
        return std::nullopt;
    }
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec != std::errc() || result.ptr != number.data() + number.size()) {
        return std::nullopt;  // out of the range of a double
    }
    return value;
}

}  // namespace Settings
