#include "Settings.h"

#include "dsp/ControlValues.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <ostream>
#include <set>
#include <string>

namespace {

using ControlValues::FractionToPosition;
using ControlValues::PositionToFraction;
using ControlValues::VolumeMax;

const QLocale Point = QLocale::c();
const QLocale Comma(QLocale::German, QLocale::Germany);

// The window's road: bar position -> GetVolume -> file text -> number -> SetVolume.
int RoundTrip(int position, const QLocale& locale)
{
    const QString text = Settings::FormatVolume(PositionToFraction(position, 0, VolumeMax), locale);
    return FractionToPosition(Settings::ParseVolume(text, locale).value(), 0, VolumeMax);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(config.isValid());
        // Read by QStandardPaths on every query.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        path = config.filePath("Marlowin.ini");
    }

    void Save(const QByteArray& content) const
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray Load() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir config;
    QString path;
};

TEST_F(SettingsTest, FirstRunCreatesTheFolderAndTheThreeKeysInOrder)
{
    const Settings::Folders folders = Settings::Locate();
    EXPECT_EQ(folders.settingsDir, config.path() + "/Tarvek/Marlowin");
    EXPECT_EQ(folders.settingsPath, config.path() + "/Tarvek/Marlowin/Marlowin.ini");
    EXPECT_TRUE(QFileInfo(folders.settingsDir).isDir());
    EXPECT_FALSE(folders.documents.isEmpty());

    const Settings::Values values = Settings::Read(folders.settingsPath, folders.documents, Point);
    EXPECT_EQ(values.sourceDir, folders.documents);
    EXPECT_EQ(values.destDir, folders.documents);
    EXPECT_EQ(values.volume, 0.5);

    ASSERT_TRUE(Settings::Write(folders.settingsPath, values, Point));
    QFile file(folders.settingsPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray docs = folders.documents.toUtf8();
    EXPECT_EQ(file.readAll(), "[Directories]\nSourceDir=" + docs + "\nDestDir=" + docs + "\n\n[Settings]\nVolume=0.5\n");
    EXPECT_EQ(QDir(folders.settingsDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"Marlowin.ini"});
}

TEST(VolumeText, WrittenForms)
{
    EXPECT_EQ(Settings::FormatVolume(PositionToFraction(160, 0, VolumeMax), Point), "0.5");
    EXPECT_EQ(Settings::FormatVolume(PositionToFraction(100, 0, VolumeMax), Point), "0.3125");
    EXPECT_EQ(Settings::FormatVolume(PositionToFraction(1, 0, VolumeMax), Point), "0.003125");
    EXPECT_EQ(Settings::FormatVolume(PositionToFraction(0, 0, VolumeMax), Point), "0");
    EXPECT_EQ(Settings::FormatVolume(PositionToFraction(320, 0, VolumeMax), Point), "1");
    EXPECT_EQ(Settings::FormatVolume(PositionToFraction(319, 0, VolumeMax), Point), "0.996875");
    EXPECT_EQ(Settings::FormatVolume(0.1, Point), "0.1");  // 15 digits hide the binary error
    EXPECT_EQ(Settings::FormatVolume(0.5, Comma), "0,5");
}

TEST(VolumeText, EveryBarPositionComesBackAtMostOneStepLower)
{
    for (const QLocale& locale : {Point, Comma}) {
        std::set<int> lower;
        for (int position = 0; position <= VolumeMax; ++position) {
            const int back = RoundTrip(position, locale);
            if (back != position) {
                EXPECT_EQ(back, position - 1) << position;
                EXPECT_NE(position % 5, 0) << position;
                lower.insert(position);
            }
        }
        EXPECT_TRUE(lower.count(3) && lower.count(319));
    }
}

struct ParseCase {
    const char* text;
    std::optional<double> expected;
};

void PrintTo(const ParseCase& c, std::ostream* out)
{
    *out << '"';
    for (const char* p = c.text; *p != '\0'; ++p) {
        *out << (*p == '\t' ? "\\t" : std::string(1, *p));
    }
    *out << '"';
}

class ParseVolumeTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseVolumeTest, UnderPointLocale)
{
    EXPECT_EQ(Settings::ParseVolume(QString::fromUtf8(GetParam().text), Point), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseVolumeTest,
    ::testing::Values(ParseCase{" 0.5 ", 0.5}, ParseCase{"\t1\t", 1.0}, ParseCase{"+1", 1.0}, ParseCase{"-1", -1.0},
                      ParseCase{"2", 2.0}, ParseCase{"1e-1", 0.1}, ParseCase{"3.125E-1", 0.3125},
                      ParseCase{".5", 0.5}, ParseCase{"5.", 5.0}, ParseCase{"", std::nullopt},
                      ParseCase{"  ", std::nullopt}, ParseCase{"abc", std::nullopt}, ParseCase{"0.5x", std::nullopt},
                      ParseCase{"0,5", std::nullopt}, ParseCase{"1e", std::nullopt}, ParseCase{"e5", std::nullopt},
                      ParseCase{".", std::nullopt}, ParseCase{"--1", std::nullopt}, ParseCase{"+-1", std::nullopt},
                      ParseCase{"0x1", std::nullopt}, ParseCase{"inf", std::nullopt}, ParseCase{"nan", std::nullopt},
                      ParseCase{"1,000.5", std::nullopt}, ParseCase{"1 0", std::nullopt},
                      ParseCase{"1e400", std::nullopt}, ParseCase{"\xEF\xBC\x91", std::nullopt}));

TEST_F(SettingsTest, CommaLocaleWritesAndReadsItsOwnSeparator)
{
    ASSERT_TRUE(Settings::Write(path, {"/s", "/d", 0.3125}, Comma));
    EXPECT_TRUE(Load().endsWith("Volume=0,3125\n"));
    EXPECT_EQ(Settings::Read(path, "/docs", Comma).volume, 0.3125);
    // A file written with a decimal point is unreadable under the comma: the default.
    ASSERT_TRUE(Settings::Write(path, {"/s", "/d", 0.3125}, Point));
    EXPECT_EQ(Settings::Read(path, "/docs", Comma).volume, 0.5);
}

TEST_F(SettingsTest, StoredTextsGiveTheBarPositions)
{
    const struct {
        const char* volume;
        int position;
    } cases[] = {{"1", 320}, {"0", 0}, {"2", 320}, {"-1", 0}, {"-0.5", 0}, {"abc", 160}, {"", 160}, {"0.3125", 100}};
    for (const auto& c : cases) {
        Save(QByteArray("[Directories]\nSourceDir=\n[Settings]\nVolume=") + c.volume + "\n");
        const Settings::Values values = Settings::Read(path, "/docs", Point);
        EXPECT_EQ(FractionToPosition(values.volume, 0, VolumeMax), c.position) << c.volume;
        EXPECT_EQ(values.sourceDir, "");  // present but empty: not the default
        EXPECT_EQ(values.destDir, "/docs");
    }
}

TEST_F(SettingsTest, FoldersAndVolumeSurviveAFileRoundTrip)
{
    const Settings::Values written{QString::fromUtf8("/home/ユーザー/音楽 A"), "/tmp/out", PositionToFraction(319, 0, VolumeMax)};
    ASSERT_TRUE(Settings::Write(path, written, Point));
    const Settings::Values read = Settings::Read(path, "/docs", Point);
    EXPECT_EQ(read.sourceDir, written.sourceDir);
    EXPECT_EQ(read.destDir, written.destDir);
    EXPECT_EQ(FractionToPosition(read.volume, 0, VolumeMax), 318);
}

TEST_F(SettingsTest, FailingWriteStopsAndLeavesTheFileAsItWas)
{
    const QByteArray original = "[Directories]\nSourceDir=/a\nDestDir=/b\n\n[Settings]\nVolume=0.25\n";
    Save(original);
    // A folder name that cannot stand on one line: the first write fails, the others are skipped.
    EXPECT_FALSE(Settings::Write(path, {"/bad\nname", "/d", 1.0}, Point));
    EXPECT_EQ(Load(), original);

    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    EXPECT_FALSE(Settings::Write(path, {"/s", "/d", 1.0}, Point));
    EXPECT_EQ(Load(), original);
    EXPECT_EQ(QDir(config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"Marlowin.ini"});

    ASSERT_TRUE(QDir(config.path()).mkdir("Folder.ini"));
    EXPECT_FALSE(Settings::Write(config.filePath("Folder.ini"), {"/s", "/d", 1.0}, Point));
    EXPECT_TRUE(QFileInfo(config.filePath("Folder.ini")).isDir());
}

}  // namespace
