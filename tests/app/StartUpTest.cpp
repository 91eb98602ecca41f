#include "app/StartUp.h"

#include "app/DownloadJob.h"
#include "app/ProgramValues.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(StartUp, RunModeFollowsTheJob)
{
    EXPECT_EQ(StartUp({"brimtale"}), TRunMode::Interactive);
    EXPECT_EQ(StartUp({"brimtale", "-GeT", "s", "http://m/x", "/tmp/o.flv"}), TRunMode::Download);
    EXPECT_EQ(StartUp({"brimtale", "-get", "s", "http://m/x", ""}), TRunMode::Interactive);
    EXPECT_EQ(StartUp({"brimtale", "-get", "s"}), TRunMode::Interactive);
    EXPECT_EQ(StartUp({"brimtale", "/some/file.avi"}), TRunMode::Interactive);
}

TEST(StartUp, FilesAreFoundBesideTheExecutable)
{
    StartUp({"brimtale"});
    EXPECT_EQ(AppDir, ProgramDir());
    EXPECT_EQ(SettingsFile, DataDir + "/bmt.ini");
    EXPECT_EQ(ShortcutFileName, "brimtale.desktop");
}

TEST(ProgramValues, CleanDirPath)
{
    EXPECT_EQ(CleanDirPath("/a/b/"), "/a/b");
    EXPECT_EQ(CleanDirPath("/a/b/."), "/a/b");
    EXPECT_EQ(CleanDirPath("/a/b/./"), "/a/b");
    EXPECT_EQ(CleanDirPath("/a/b"), "/a/b");
    EXPECT_EQ(CleanDirPath("/"), "/");
    EXPECT_EQ(CleanDirPath("/."), "/");
    EXPECT_EQ(CleanDirPath(""), "");
}

TEST(ProgramValues, IsInteger)
{
    EXPECT_TRUE(IsInteger("0"));
    EXPECT_TRUE(IsInteger("-2147483648"));
    EXPECT_TRUE(IsInteger("+12"));
    EXPECT_TRUE(IsInteger("$7fffffff"));
    EXPECT_FALSE(IsInteger("2147483648"));
    EXPECT_FALSE(IsInteger("12a"));
    EXPECT_FALSE(IsInteger(""));
    EXPECT_FALSE(IsInteger("1.5"));
}

TEST(ProgramValues, FfmpegBesideTheProgramComesFirstThenPath)
{
    TempDir dir;
    TempDir bin;
    InitAppDirsFor(dir.Path());
    const char* oldPath = std::getenv("PATH");
    const std::string keep = oldPath ? oldPath : "";
    ::setenv("PATH", bin.Path().c_str(), 1);
    EXPECT_EQ(GetFfmpegPath(), "");

    const std::string onPath = bin.Write("ffmpeg", "#!/bin/sh\n");
    ::chmod(onPath.c_str(), 0755);
    EXPECT_EQ(GetFfmpegPath(), onPath);

    const std::string beside = dir.Write("ffmpeg", "#!/bin/sh\n");
    ::chmod(beside.c_str(), 0755);
    EXPECT_EQ(GetFfmpegPath(), beside); // found at the next call, nothing cached
    ::setenv("PATH", keep.c_str(), 1);
}

TEST(ProgramValues, ReadOnlyProgramFolderKeepsDataInTheUserFolder)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root can write everywhere";
    TempDir prog;
    TempDir home;
    ::chmod(prog.Path().c_str(), 0555);
    ::setenv("XDG_DATA_HOME", home.Path().c_str(), 1);
    InitAppDirsFor(prog.Path());
    EXPECT_EQ(DataDir, home.Path() + "/brimtale");
    ::unsetenv("XDG_DATA_HOME");
}
