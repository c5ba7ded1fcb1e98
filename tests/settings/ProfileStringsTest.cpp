#include "ProfileStrings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <stdlib.h>
#include <string>

namespace fs = std::filesystem;

namespace {

class ProfileStringsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "marlowin-profile-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        path = (dir / "test.ini").string();
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    void Save(const std::string& content) const
    {
        std::ofstream(path, std::ios::binary) << content;
    }
    std::string Load() const
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Everything in the folder: a temporary file left behind shows up here.
    std::set<std::string> Entries() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
    std::string Read(const std::string& section, const std::string& key) const
    {
        return GetProfileString(path, section, key, "<default>");
    }

    fs::path dir;
    std::string path;
};

TEST_F(ProfileStringsTest, KeepsSectionsAndKeysInTheOrderFirstWritten)
{
    EXPECT_TRUE(WriteProfileString(path, "A", "x", "1"));
    EXPECT_TRUE(WriteProfileString(path, "B", "y", "2"));
    EXPECT_TRUE(WriteProfileString(path, "A", "z", "3"));
    EXPECT_TRUE(WriteProfileString(path, "b", "Y", "4"));
    EXPECT_EQ(Load(), "[A]\nx=1\nz=3\n\n[B]\ny=4\n");
    EXPECT_EQ(Entries(), std::set<std::string>{"test.ini"});
}

TEST_F(ProfileStringsTest, KeepsOtherContentSpellingAndLineEnds)
{
    Save("\xEF\xBB\xBF; written elsewhere\r\n"
         "[directories]\r\n"
         "  sourcedir = /old dir  \r\n"
         "; keep me\r\n"
         "Other=1\r\n"
         "\r\n"
         "[Settings]\r\n"
         "Volume=0.25");  // no line end at the very end
    EXPECT_EQ(Read("Directories", "SourceDir"), "/old dir");
    EXPECT_EQ(Read("SETTINGS", "volume"), "0.25");

    EXPECT_TRUE(WriteProfileString(path, "Directories", "SourceDir", "/new"));
    EXPECT_TRUE(WriteProfileString(path, "Directories", "DestDir", "/dest"));
    EXPECT_TRUE(WriteProfileString(path, "Settings", "Extra", "e"));
    EXPECT_TRUE(WriteProfileString(path, "New", "k", ""));
    EXPECT_EQ(Load(), "\xEF\xBB\xBF; written elsewhere\r\n"
                      "[directories]\r\n"
                      "  sourcedir =/new\r\n"
                      "; keep me\r\n"
                      "Other=1\r\n"
                      "DestDir=/dest\r\n"
                      "\r\n"
                      "[Settings]\r\n"
                      "Volume=0.25\r\n"
                      "Extra=e\r\n"
                      "\r\n"
                      "[New]\r\n"
                      "k=\r\n");
}

TEST_F(ProfileStringsTest, ReadGivesTheDefaultOnlyWhenTheKeyIsMissing)
{
    EXPECT_EQ(Read("S", "k"), "<default>");  // no file
    Save("k=outside any section\n[S]\nempty=\nblank=   \n[T]\nk=in T\n");
    EXPECT_EQ(Read("S", "k"), "<default>");
    EXPECT_EQ(Read("U", "k"), "<default>");
    EXPECT_EQ(Read("S", "empty"), "");
    EXPECT_EQ(Read("S", "blank"), "");
    EXPECT_EQ(Read("T", "k"), "in T");
    fs::remove(path);
    fs::create_directory(path);
    EXPECT_EQ(Read("S", "k"), "<default>");
}

TEST_F(ProfileStringsTest, CutsValuesTo2047CharactersWithoutSplittingOne)
{
    const std::string a2046(2046, 'a');
    Save("[S]\nlong=" + std::string(3000, 'a') + "\nwide=" + a2046 + "\xC3\xA9\xC3\xA9" + "\nexact=" + a2046 + "b\n");
    EXPECT_EQ(Read("S", "long"), std::string(2047, 'a'));
    EXPECT_EQ(Read("S", "wide"), a2046 + "\xC3\xA9");
    EXPECT_EQ(Read("S", "exact"), a2046 + "b");
}

TEST_F(ProfileStringsTest, RewriteKeepsTheFileMode)
{
    Save("[S]\nk=1\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_TRUE(WriteProfileString(path, "S", "k", "2"));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(Load(), "[S]\nk=2\n");
}

// Each case breaks the write in one way; the old file must stay byte for byte and no
// temporary file may be left.
struct FailingWrite {
    const char* name;
    void (*breakIt)(const fs::path& dir, std::string& path, std::string& section, std::string& value);
};

void PrintTo(const FailingWrite& c, std::ostream* out)
{
    *out << c.name;
}

class FailingWriteTest : public ProfileStringsTest, public ::testing::WithParamInterface<FailingWrite> {};

TEST_P(FailingWriteTest, ReturnsFalseAndChangesNothing)
{
    const std::string original = "; mine\n[S]\nk=old\n";
    Save(original);
    std::string target = path;
    std::string section = "S";
    std::string value = "new";
    GetParam().breakIt(dir, target, section, value);
    const std::set<std::string> before = Entries();

    EXPECT_FALSE(WriteProfileString(target, section, "k", value));
    EXPECT_EQ(Load(), original);
    EXPECT_EQ(Entries(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingWriteTest,
    ::testing::Values(
        FailingWrite{"ReadOnlyMode",
                     [](const fs::path&, std::string& p, std::string&, std::string&) {
                         fs::permissions(p, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
                     }},
        FailingWrite{"DirectoryInPlaceOfTheFile",
                     [](const fs::path& d, std::string& p, std::string&, std::string&) {
                         p = (d / "folder.ini").string();
                         fs::create_directory(p);
                     }},
        FailingWrite{"MissingFolder",
                     [](const fs::path& d, std::string& p, std::string&, std::string&) {
                         p = (d / "missing" / "x.ini").string();
                     }},
        FailingWrite{"FolderIsAFile",
                     [](const fs::path&, std::string& p, std::string&, std::string&) { p += "/x.ini"; }},
        FailingWrite{"ValueWithLineBreak",
                     [](const fs::path&, std::string&, std::string&, std::string& v) { v = "a\nk=b"; }},
        FailingWrite{"SectionWithBracket",
                     [](const fs::path&, std::string&, std::string& s, std::string&) { s = "S]x"; }}),
    [](const ::testing::TestParamInfo<FailingWrite>& info) { return std::string(info.param.name); });

}  // namespace
