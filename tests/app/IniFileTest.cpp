// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/IniFile.h"
#include "system/ZQ_FileSystem.h"

#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    if (testsys::RunsAsRoot())
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
    // Only the file and the writers' lock file are there.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.ini", "a.ini.lock"}));
}

namespace {
// True when every line of text is blank, a comment, a section header or a key.
bool WellFormed(const std::string& text)
{
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return false;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find("\r\n", from);
        const std::string line = text.substr(from, end - from);
        from = end + 2;
        if (!line.empty() && line.front() != '[' && line.find('=') == std::string::npos)
            return false;
    }
    return true;
}
} // namespace

TEST(IniFile, ConcurrentWritersLoseNoKeyAndReadersNeverSeeAHalfFile)
{
    SKIP_ON_WINDOWS(PosixProcesses);
    TempDir dir;
    const std::string path = dir.File("bmt.ini");
    ASSERT_TRUE(TIniFile(path).WriteString("Main", "Language", "PL"));
    constexpr int Writers = 8;
    constexpr int Saves = 200;
    std::vector<int> children;
    for (int w = 0; w < Writers; ++w) {
        const int pid = testsys::ForkChild([&] {
            bool ok = true;
            for (int i = 0; i < Saves; ++i) {
                TIniFile ini(path);
                ok = ini.WriteString(i % 2 ? "Main" : "Other", "W" + std::to_string(w) + "_" + std::to_string(i), "x") && ok;
            }
            return ok ? 0 : 1;
        });
        ASSERT_GE(pid, 0);
        children.push_back(pid);
    }
    // Read while they write: each look finds a whole file with no fewer keys than before.
    std::size_t reads = 0;
    std::size_t lastKeys = 0;
    bool allWhole = true;
    bool neverShrank = true;
    int failedWriters = 0;
    auto running = [&] {
        bool any = false;
        for (int& pid : children) {
            bool succeeded = false;
            if (pid == 0)
                continue;
            if (!testsys::ForkedChildEnded(pid, succeeded)) {
                any = true;
                continue;
            }
            failedWriters += !succeeded;
            pid = 0;
        }
        return any;
    };
    while (running()) {
        const TWholeFile file = ReadWholeFile(path, TIniFile::MaxFileSize);
        if (!file.Ok()) {
            allWhole = false;
            continue;
        }
        const std::string& text = file.Text;
        ++reads;
        allWhole = allWhole && WellFormed(text);
        const std::size_t keys = static_cast<std::size_t>(std::count(text.begin(), text.end(), '='));
        neverShrank = neverShrank && keys >= lastKeys;
        lastKeys = keys;
    }
    EXPECT_EQ(failedWriters, 0);
    EXPECT_TRUE(allWhole);
    EXPECT_TRUE(neverShrank);
    EXPECT_GT(reads, 0u);

    const TIniFile ini(path);
    int lost = 0;
    for (int w = 0; w < Writers; ++w)
        for (int i = 0; i < Saves; ++i)
            lost += ini.ReadString(i % 2 ? "Main" : "Other", "W" + std::to_string(w) + "_" + std::to_string(i), "") != "x";
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(ini.ReadString("Main", "Language", ""), "PL");
}

TEST(IniFile, SaveWritesThroughALinkAndKeepsTheMode)
{
    SKIP_ON_WINDOWS(PosixLinks);
    TempDir dir;
    const std::string real = dir.Write("real.ini", "[Main]\r\nA=1\r\n");
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_directory(dir.File("sub"));
    const std::string link = dir.File("sub/bmt.ini");
    const std::string middle = dir.File("middle.ini");
    ASSERT_TRUE(testsys::MakeSymlink("../middle.ini", link)); // relative, and a chain of two
    ASSERT_TRUE(testsys::MakeSymlink(real, middle));

    ASSERT_TRUE(TIniFile(link).WriteString("Main", "B", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    const auto status = std::filesystem::symlink_status(real);
    EXPECT_TRUE(std::filesystem::is_regular_file(status));
    EXPECT_EQ(status.permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(TempDir::Read(real), "[Main]\r\nA=1\r\nB=2\r\n");

    // A dangling link gets its target created.
    const std::string dangling = dir.File("dangling.ini");
    ASSERT_TRUE(testsys::MakeSymlink("made.ini", dangling));
    ASSERT_TRUE(TIniFile(dangling).WriteString("Main", "C", "3"));
    EXPECT_EQ(TempDir::Read(dir.File("made.ini")), "[Main]\r\nC=3\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
}

TEST(IniFile, AFifoIsNeitherWaitedForNorReplaced)
{
    SKIP_ON_WINDOWS(PosixLinks);
    TempDir dir;
    const std::string fifo = dir.File("bmt.ini");
    ASSERT_TRUE(testsys::MakeFifo(fifo, 0644));
    TIniFile ini(fifo); // returns at once: nobody writes into the FIFO
    EXPECT_EQ(ini.ReadString("Main", "Language", "EN"), "EN");
    EXPECT_FALSE(ini.WriteString("Main", "Language", "PL"));
    EXPECT_TRUE(std::filesystem::is_fifo(std::filesystem::symlink_status(fifo)));
}
