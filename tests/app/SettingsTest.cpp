// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Settings.h"

#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>


#include <cstdlib>
#include <filesystem>

namespace {
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitAppDirsFor(dir.Path());
        SettingsFile = dir.File("bmt.ini");
        InitSettings();
    }
    TempDir dir;
};
} // namespace

TEST_F(SettingsTest, Defaults)
{
    SKIP_ON_WINDOWS(LinuxConventions);
    EXPECT_FALSE(AppSettings.AutoClose);
    EXPECT_FALSE(AppSettings.LangPolish);
    EXPECT_EQ(AppSettings.DirListFile, dir.File("bmt_directories.txt"));
    EXPECT_EQ(AppSettings.LastDir, dir.Path());
    EXPECT_EQ(AppSettings.ProfilesFile, dir.File("bmt_encoder_profiles.ini"));
}

TEST_F(SettingsTest, LoadReadsLanguageAutoCloseAndExistingLastDir)
{
    std::filesystem::create_directory(dir.File("videos"));
    dir.Write("bmt.ini", "[MAIN]\nLanguage=  pl \nAutoClose=7\nLastDir=" + dir.File("videos") + "\n");
    LoadSettings(SettingsFile);
    EXPECT_TRUE(AppSettings.LangPolish);
    EXPECT_TRUE(AppSettings.AutoClose);
    EXPECT_EQ(AppSettings.LastDir, dir.File("videos"));
}

TEST_F(SettingsTest, BadValuesKeepDefaults)
{
    SKIP_ON_WINDOWS(LinuxConventions);
    dir.Write("bmt.ini", "[Main]\nLanguage=Polski?\nAutoClose=yes\nLastDir=" + dir.File("gone") + "\n");
    LoadSettings(SettingsFile);
    EXPECT_FALSE(AppSettings.LangPolish); // "PO" is not "PL"
    EXPECT_FALSE(AppSettings.AutoClose);
    EXPECT_EQ(AppSettings.LastDir, dir.Path());
}

TEST_F(SettingsTest, SaveKeepsOtherKeysAndSections)
{
    SKIP_ON_WINDOWS(LinuxConventions);
    dir.Write("bmt.ini", "[Main]\r\nProfile=2\r\nAutoClose=1\r\n[Other]\r\nKeep=me\r\n");
    AppSettings.LangPolish = true;
    AppSettings.AutoClose = false;
    AppSettings.LastDir = dir.Path() + "/";
    SaveSettings(SettingsFile, false);
    TIniFile ini(SettingsFile);
    EXPECT_EQ(ini.ReadString("Main", "Language", ""), "PL");
    EXPECT_EQ(ini.ReadString("Main", "AutoClose", ""), "1"); // not written without withAutoClose
    EXPECT_EQ(ini.ReadString("Main", "Profile", ""), "2");
    EXPECT_EQ(ini.ReadString("Other", "Keep", ""), "me");
    EXPECT_EQ(ini.ReadString("Main", "LastDir", ""), dir.Path()); // trailing "/" dropped
    EXPECT_EQ(ini.ReadString("Main", "DirListFile", ""), dir.File("bmt_directories.txt"));

    SaveSettings(SettingsFile, true);
    EXPECT_EQ(TIniFile(SettingsFile).ReadString("Main", "AutoClose", ""), "0");
}

TEST_F(SettingsTest, RoundTrip)
{
    AppSettings.LangPolish = true;
    AppSettings.AutoClose = true;
    SaveSettings(SettingsFile, true);
    InitSettings();
    LoadSettings(SettingsFile);
    EXPECT_TRUE(AppSettings.LangPolish);
    EXPECT_TRUE(AppSettings.AutoClose);
}

TEST_F(SettingsTest, FirstRunLanguageFollowsTheLocaleOnlyWithoutSettingsFile)
{
    const char* saved = std::getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    testsys::SetEnv("LC_ALL", "pl_PL.UTF-8");
    ApplyFirstRunLanguage();
    EXPECT_TRUE(AppSettings.LangPolish);

    dir.Write("bmt.ini", "[Main]\nAutoClose=0\n"); // no Language key: English
    InitSettings();
    LoadSettings(SettingsFile);
    ApplyFirstRunLanguage();
    EXPECT_FALSE(AppSettings.LangPolish);

    if (saved)
        testsys::SetEnv("LC_ALL", keep);
    else
        testsys::UnsetEnv("LC_ALL");
}

TEST_F(SettingsTest, DirectoryHistoryDropsBlankLines)
{
    const std::string path = dir.Write("h.txt", "/a\r\n\r\n   \r\n/b\n/c d\r\n");
    EXPECT_EQ(LoadDirList(path), (std::vector<std::string>{"/a", "/b", "/c d"}));
    SaveDirList(path, {"/x", "/y"});
    EXPECT_EQ(TempDir::Read(path), "/x\r\n/y\r\n");
    EXPECT_TRUE(LoadDirList(dir.File("missing.txt")).empty());

    // A linked history is written through the link; the link stays.
    SKIP_ON_WINDOWS(PosixLinks);
    const std::string real = dir.Write("real.txt", "/old\r\n");
    const std::string link = dir.File("bmt_directories.txt");
    ASSERT_TRUE(testsys::MakeSymlink(real, link));
    SaveDirList(link, {"/new", "/old"});
    EXPECT_EQ(TempDir::Read(real), "/new\r\n/old\r\n");
    EXPECT_EQ(LoadDirList(link), (std::vector<std::string>{"/new", "/old"}));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
}

TEST_F(SettingsTest, DownloadListSettingsDefaultLoadClampAndSave)
{
    EXPECT_EQ(AppSettings.MaxDownloads, 3);
    EXPECT_TRUE(AppSettings.ShowDownloadWindows);
    EXPECT_TRUE(AppSettings.ResumeAtStart);
    dir.Write("bmt.ini", "[Main]\r\nMaxDownloads=500\r\nShowDownloadWindows=0\r\nResumeAtStart=no\r\nKeep=me\r\n");
    LoadSettings(SettingsFile);
    EXPECT_EQ(AppSettings.MaxDownloads, MaxDownloadsLimit);
    EXPECT_FALSE(AppSettings.ShowDownloadWindows);
    EXPECT_TRUE(AppSettings.ResumeAtStart);  // a word is no value

    AppSettings.MaxDownloads = 2;
    AppSettings.ResumeAtStart = false;
    SaveDownloadListSettings(SettingsFile);
    const TIniFile ini(SettingsFile);
    EXPECT_EQ(ini.ReadInteger("Main", "MaxDownloads", 0), 2);
    EXPECT_FALSE(ini.ReadBool("Main", "ShowDownloadWindows", true));
    EXPECT_FALSE(ini.ReadBool("Main", "ResumeAtStart", true));
    EXPECT_EQ(ini.ReadString("Main", "Keep", ""), "me");
    dir.Write("bmt.ini", "[Main]\r\nMaxDownloads=0\r\n");
    LoadSettings(SettingsFile);
    EXPECT_EQ(AppSettings.MaxDownloads, 1);
}

TEST_F(SettingsTest, ConnectionsDefaultClampAndSave)
{
    EXPECT_EQ(AppSettings.Connections, 4);
    dir.Write("bmt.ini", "[Main]\r\nConnections=99\r\n");
    LoadSettings(SettingsFile);
    EXPECT_EQ(AppSettings.Connections, ConnectionsLimit);
    dir.Write("bmt.ini", "[Main]\r\nConnections=0\r\n");
    LoadSettings(SettingsFile);
    EXPECT_EQ(AppSettings.Connections, 1);
    AppSettings.Connections = 7;
    SaveDownloadListSettings(SettingsFile);
    EXPECT_EQ(TIniFile(SettingsFile).ReadInteger("Main", "Connections", 0), 7);
}
