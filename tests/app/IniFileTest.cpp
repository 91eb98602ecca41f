#include "app/IniFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

TEST(IniDocument, FindsSectionsAndKeysWithoutRegardToCase)
{
    const TIniDocument doc("; comment\n[Main]\nLanguage = PL \nlanguage=EN\n[main]\nOther=1\n[Second]\nX=\"quoted\"\n");
    EXPECT_EQ(doc.ReadString("MAIN", "LANGUAGE", "?"), "PL"); // the first of duplicates
    EXPECT_EQ(doc.ReadString("Main", "Other", "?"), "?");      // a second [main] is not searched
    EXPECT_EQ(doc.ReadString("second", "x", "?"), "quoted");
    EXPECT_EQ(doc.ReadString("Missing", "x", "def"), "def");
    EXPECT_EQ(doc.Sections(), (std::vector<std::string>{"Main", "Second"}));
}

TEST(IniDocument, WriteReplacesInPlaceAndKeepsEverythingElse)
{
    TIniDocument doc("; keep me\r\n[Main]\r\nA=1\r\nunknown=z\r\n\r\n[Other]\r\nB=2\r\n");
    doc.WriteString("main", "a", "9");
    doc.WriteString("Main", "New", "x");
    doc.WriteString("Third", "C", "3");
    EXPECT_EQ(doc.Text(),
              "; keep me\r\n[Main]\r\na=9\r\nunknown=z\r\nNew=x\r\n\r\n[Other]\r\nB=2\r\n\r\n[Third]\r\nC=3\r\n");
}

TEST(IniDocument, ValueWithLineBreakCannotSplitTheFile)
{
    TIniDocument doc;
    doc.WriteString("Main", "LastDir", "/a\r\n[Evil]\nx=1");
    EXPECT_EQ(doc.Sections(), std::vector<std::string>{"Main"});
}

TEST(IniFile, WritesKeepKeysOtherProcessesWrote)
{
    TempDir dir;
    const std::string path = dir.File("bmt.ini");
    TIniFile first(path);
    TIniFile second(path);
    first.WriteString("Main", "Language", "PL");
    second.WriteString("Main", "Profile", "3"); // written after first loaded: first's key stays
    const TIniFile check(path);
    EXPECT_EQ(check.ReadString("Main", "Language", ""), "PL");
    EXPECT_EQ(check.ReadInteger("Main", "Profile", -1), 3);
    EXPECT_EQ(TempDir::Read(path), "[Main]\r\nLanguage=PL\r\nProfile=3\r\n");
}

TEST(IniFile, BooleansAndIntegers)
{
    TempDir dir;
    const std::string path = dir.Write("s.ini", "[Main]\nA=5\nB=0\nC=yes\nD=$1F\n");
    const TIniFile ini(path);
    EXPECT_TRUE(ini.ReadBool("Main", "A", false));
    EXPECT_FALSE(ini.ReadBool("Main", "B", true));
    EXPECT_TRUE(ini.ReadBool("Main", "C", true)); // not an integer: the default
    EXPECT_FALSE(ini.ReadBool("Main", "C", false));
    EXPECT_EQ(ini.ReadInteger("Main", "D", 0), 31);
}

TEST(IniFile, UnreadableOrReadOnlyFilesAreLeftAlone)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root can write read-only files";
    TempDir dir;
    const std::string path = dir.Write("ro.ini", "[Main]\nA=1\n");
    ::chmod(path.c_str(), 0444);
    TIniFile ini(path);
    EXPECT_FALSE(ini.WriteString("Main", "A", "2"));
    EXPECT_EQ(TempDir::Read(path), "[Main]\nA=1\n");
}

TEST(IniFile, BinaryAndHugeFilesReadAsEmptyAndAreNotOverwritten)
{
    TempDir dir;
    const std::string binary = dir.Write("bin.ini", std::string("\0\x01\x02[Main]\0A=1", 12));
    EXPECT_EQ(TIniFile(binary).ReadString("Main", "B", "def"), "def");

    const std::string huge = dir.Write("huge.ini", std::string(TIniFile::MaxFileSize + 10, 'x'));
    TIniFile ini(huge);
    EXPECT_EQ(ini.ReadString("Main", "A", "def"), "def");
    EXPECT_FALSE(ini.WriteString("Main", "A", "1"));
    EXPECT_EQ(TempDir::Read(huge).size(), TIniFile::MaxFileSize + 10);
}

TEST(IniFile, NoTemporaryFileIsLeftBehind)
{
    TempDir dir;
    TIniFile ini(dir.File("a.ini"));
    ASSERT_TRUE(ini.WriteString("Main", "K", "V"));
    int count = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path()))
        ++count;
    EXPECT_EQ(count, 1);
}
