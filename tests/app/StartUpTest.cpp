// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StartUp.h"

#include "app/DownloadJob.h"
#include "app/InstanceMessage.h"
#include "app/ProgramValues.h"
#include "app/Settings.h"
#include "system/ZQ_FileSystem.h"
#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

TEST(StartUp, RunModeFollowsTheJob)
{
    EXPECT_EQ(StartUp({"brimtale"}), TRunMode::Interactive);
    EXPECT_EQ(StartUp({"brimtale", "-GeT", "s", "http://m/x", "/tmp/o.flv"}), TRunMode::Download);
    EXPECT_EQ(StartUp({"brimtale", "-get", "s", "http://m/x", ""}), TRunMode::Interactive);
    EXPECT_EQ(StartUp({"brimtale", "-get", "s"}), TRunMode::Interactive);
    EXPECT_EQ(StartUp({"brimtale", "/some/file.avi"}), TRunMode::Interactive);
}

TEST(StartUp, OneArgumentThatIsNoSwitchIsTheAddress)
{
    StartUp({"brimtale", "http://127.0.0.1:1/watch?v=a b"});
    EXPECT_EQ(StartAddress, "http://127.0.0.1:1/watch?v=a b");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"brimtale"}, {"brimtale", ""}, {"brimtale", "-get"},
                                               {"brimtale", "-reverse"}, {"brimtale", "a", "b"},
                                               {"brimtale", "-get", "s", "http://m/x", "/tmp/o.flv"}}) {
        StartUp(args);
        EXPECT_EQ(StartAddress, "") << args.size();
    }
}

TEST(StartUp, CommandLineAddressAsTheDialogTakesIt)
{
    TempDir dir;
    const std::string file = dir.Write("my clip+1 (x).avi", "x");
    // What a file manager passes: the URI's local path, "+" kept, escapes decoded.
    // (A path with a drive letter gets a "/" before it in the URI.)
    const std::string uriPath = (dir.Path().front() == '/' ? "" : "/") + dir.Path();
    EXPECT_EQ(CommandLineAddress("file://" + uriPath + "/my%20clip+1%20%28x%29.avi", "/"), file);
    EXPECT_EQ(CommandLineAddress("FILE://localhost" + uriPath + "/my%20clip+1%20(x).avi", "/"), file);
    // Another machine's file is no local path: the text stays.
    EXPECT_EQ(CommandLineAddress("file://elsewhere.example/a.avi", "/"), "file://elsewhere.example/a.avi");
    // A relative name of an existing file is taken in the working folder; others stay.
    EXPECT_EQ(CommandLineAddress("my clip+1 (x).avi", dir.Path()), file);
    EXPECT_EQ(CommandLineAddress("missing.avi", dir.Path()), "missing.avi");
    EXPECT_EQ(CommandLineAddress("http://127.0.0.1:1/x", dir.Path()), "http://127.0.0.1:1/x");
    // The first line only, as the dialog takes a pasted text.
    EXPECT_EQ(CommandLineAddress("http://a/1\r\nhttp://b/2", "/"), "http://a/1");
}

TEST(InstanceMessage, ArrivesWholeInAnyPiecesAndRefusesOthers)
{
    const char bytes[] = "/v/it's \"a\" $(x)\n\0\xff";
    const std::string address(bytes, sizeof bytes - 1);
    const std::string message = EncodeInstanceMessage(address);
    for (std::size_t piece : {std::size_t(1), std::size_t(3), message.size()}) {
        TInstanceMessageReader reader;
        TInstanceMessageReader::TState state = TInstanceMessageReader::TState::More;
        for (std::size_t from = 0; from < message.size(); from += piece)
            state = reader.Add(message.data() + from, std::min(piece, message.size() - from));
        EXPECT_EQ(state, TInstanceMessageReader::TState::Done) << piece;
        EXPECT_EQ(reader.Address(), address) << piece;
    }
    TInstanceMessageReader empty;
    const std::string none = EncodeInstanceMessage("");
    EXPECT_EQ(empty.Add(none.data(), none.size()), TInstanceMessageReader::TState::Done);

    TInstanceMessageReader wrong;
    EXPECT_EQ(wrong.Add("GET / HTTP/1.0\r\n", 16), TInstanceMessageReader::TState::Bad);
    TInstanceMessageReader huge;
    const std::string head = std::string("BMT1\x7f\xff\xff\xff", 8);
    EXPECT_EQ(huge.Add(head.data(), head.size()), TInstanceMessageReader::TState::Bad);
}

TEST(StartUp, FilesAreFoundBesideTheExecutable)
{
    SKIP_ON_WINDOWS(LinuxConventions);
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
    EXPECT_FALSE(IsInteger("12 "));
    EXPECT_FALSE(IsInteger("12\t"));
}

TEST(ProgramValues, FfmpegBesideTheProgramComesFirstThenPath)
{
    SKIP_ON_WINDOWS(PosixScript);
    TempDir dir;
    TempDir bin;
    InitAppDirsFor(dir.Path());
    const char* oldPath = std::getenv("PATH");
    const std::string keep = oldPath ? oldPath : "";
    testsys::SetEnv("PATH", bin.Path());
    EXPECT_EQ(GetFfmpegPath(), "");

    const std::string onPath = bin.Write("ffmpeg", "#!/bin/sh\n");
    std::filesystem::permissions(onPath, std::filesystem::perms(0755));
    EXPECT_EQ(GetFfmpegPath(), onPath);

    const std::string beside = dir.Write("ffmpeg", "#!/bin/sh\n");
    std::filesystem::permissions(beside, std::filesystem::perms(0755));
    EXPECT_EQ(GetFfmpegPath(), beside); // found at the next call, nothing cached
    testsys::SetEnv("PATH", keep);
}

TEST(ProgramValues, TheLayoutDecidesWhereTheDataLives)
{
    SKIP_ON_WINDOWS(LinuxConventions);
    TempDir home;
    testsys::SetEnv("XDG_DATA_HOME", home.Path());
    // An installed prefix, writable or not: the user's data folder.
    TempDir prefix;
    std::filesystem::create_directories(prefix.Path() + "/share/brimtale");
    std::filesystem::create_directory(prefix.Path() + "/bin");
    EXPECT_TRUE(IsInstalledLayout(prefix.Path() + "/bin"));
    InitAppDirsFor(prefix.Path() + "/bin");
    EXPECT_EQ(DataDir, home.Path() + "/brimtale");
    // A portable folder (a build tree, an unpacked archive): beside the executable.
    TempDir portable;
    EXPECT_FALSE(IsInstalledLayout(portable.Path()));
    InitAppDirsFor(portable.Path());
    EXPECT_EQ(DataDir, portable.Path());
    testsys::UnsetEnv("XDG_DATA_HOME");
}

TEST(ProgramValues, ReadOnlyProgramFolderKeepsDataInTheUserFolder)
{
    SKIP_ON_WINDOWS(LinuxConventions);
    TempDir prog;
    TempDir home;
    std::filesystem::create_directories(prog.Path() + "/share/brimtale");
    std::filesystem::create_directory(prog.Path() + "/bin");
    const std::string shipped = prog.Write("share/brimtale/bmt_encoder_profiles.ini", "[MAIN]\n");
    testsys::SetEnv("XDG_DATA_HOME", home.Path());
    InitAppDirsFor(prog.Path() + "/bin", false);
    InitSettings();
    EXPECT_EQ(DataDir, home.Path() + "/brimtale");
    EXPECT_TRUE(DirectoryExists(DataDir));
    EXPECT_EQ(AppSettings.DirListFile, DataDir + "/bmt_directories.txt");
    // The shipped profiles are read until the user has a copy of their own.
    EXPECT_EQ(AppSettings.ProfilesFile, shipped);
    home.Write("brimtale/bmt_encoder_profiles.ini", "[MAIN]\n");
    InitSettings();
    EXPECT_EQ(AppSettings.ProfilesFile, DataDir + "/bmt_encoder_profiles.ini");
    testsys::UnsetEnv("XDG_DATA_HOME");
}
