// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/EncoderCheck.h"
#include "convert/EncoderProfiles.h"

#include "support/Skips.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

TEST(EncoderProfiles, MissingOrEmptyFilesGiveNoProfilesAndTheDefaultBitrate)
{
    TempDir dir;
    EXPECT_TRUE(ReadEncoderProfiles(dir.File("missing.ini")).empty());
    EXPECT_EQ(ReadDefaultVideoBitrate(dir.File("missing.ini")), "280k");
    const std::string empty = dir.Write("empty.ini", "");
    EXPECT_TRUE(ReadEncoderProfiles(empty).empty());
    EXPECT_EQ(ReadDefaultVideoBitrate(empty), "280k");
    EXPECT_TRUE(ReadEncoderProfiles(dir.Path()).empty());  // a directory
}

TEST(EncoderProfiles, ReadsUsableSectionsInFileOrder)
{
    TempDir dir;
    const std::string file = dir.Write("p.ini",
                                       "[MAIN]\r\nDefaultVideoBitrate=512k\r\n"
                                       "[Zeta]\r\nDisplayName=Last letter first\r\nParams=-i %1 %2\r\nEncExt=avi\r\nExt=divx\r\n"
                                       "[main]\r\nParams=-i %1 main\r\n"
                                       "[Blank]\r\nDisplayName=Nothing to run\r\nParams=   \r\n"
                                       "[NoParams]\r\nExt=mp4\r\n"
                                       "[Alpha]\r\nParams=-i %1 -vn %2\r\nEncExt=\r\n"
                                       "[Main]\r\nParams=-i %1 Main\r\n");
    const std::vector<TEncoderProfile> profiles = ReadEncoderProfiles(file);
    ASSERT_EQ(profiles.size(), 2u);
    EXPECT_EQ(profiles[0].DisplayName, "Last letter first");
    EXPECT_EQ(profiles[0].Params, "-i %1 %2");
    EXPECT_EQ(profiles[0].EncExt, "avi");
    EXPECT_EQ(profiles[0].Ext, "divx");
    EXPECT_EQ(profiles[1].DisplayName, "Alpha");  // no DisplayName: the section's name
    EXPECT_EQ(profiles[1].EncExt, "-");
    EXPECT_EQ(profiles[1].Ext, "-");
    EXPECT_EQ(ReadDefaultVideoBitrate(file), "512k");

    const std::string lower = dir.Write("lower.ini", "[main]\ndefaultvideobitrate=1M\n[mainly]\nparams=x\n");
    EXPECT_EQ(ReadDefaultVideoBitrate(lower), "1M");
    ASSERT_EQ(ReadEncoderProfiles(lower).size(), 1u);
    EXPECT_EQ(ReadDefaultVideoBitrate(dir.Write("blank.ini", "[MAIN]\nDefaultVideoBitrate=\n")), "280k");
}

TEST(EncoderProfiles, CutsLongValuesAtCharacterBoundaries)
{
    TempDir dir;
    // 249 ASCII bytes and then "ż" (2 bytes): cutting at 250 would split the letter.
    const std::string params = std::string(249, 'p') + "\xC5\xBC" + "tail";
    const std::string file = dir.Write("long.ini", "[Long]\nDisplayName=" + std::string(300, 'n') +
                                                       "\nParams=" + params + "\nExt=abcdefghijkl\nEncExt=123456789\xC5\xBC\n");
    const std::vector<TEncoderProfile> profiles = ReadEncoderProfiles(file);
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0].DisplayName, std::string(250, 'n'));
    EXPECT_EQ(profiles[0].Params, std::string(249, 'p'));
    EXPECT_EQ(profiles[0].Ext, "abcdefghij");
    EXPECT_EQ(profiles[0].EncExt, "123456789");

    const std::string exact = std::string(250, 'q');
    EXPECT_EQ(ReadEncoderProfiles(dir.Write("exact.ini", "[E]\nParams=" + exact + "x\n"))[0].Params, exact);
}

TEST(EncoderCheck, ProfilesNeedTheEncodersTheyName)
{
    EXPECT_EQ(ProfileEncoders("-n -i %1 -c:v libx264 -preset fast -c:a aac %2"),
              (std::vector<std::string>{"libx264", "aac"}));
    EXPECT_EQ(ProfileEncoders("-i %1 -vcodec mpeg4 -acodec copy -codec:a libmp3lame %2"),
              (std::vector<std::string>{"mpeg4", "libmp3lame"}));
    EXPECT_TRUE(ProfileEncoders("-i %1 -vn %2").empty());
    EXPECT_TRUE(ProfileEncoders("-i %1 -c:v").empty()); // no value: nothing named
}

TEST(EncoderCheck, AStandInWithoutLibx264DisablesTheH264Profile)
{
    SKIP_ON_WINDOWS(PosixScript);
    TempDir dir;
    const std::string runs = dir.File("runs");
    // Lists its encoders as ffmpeg does, and counts how often it was asked.
    const std::string ffmpeg = dir.Write("ffmpeg",
        "#!/bin/sh\necho x >> '" + runs + "'\n"
        "printf 'Encoders:\\n V..... = Video\\n ------\\n V....D mpeg4                MPEG-4 part 2\\n"
        " A....D aac                  AAC (Advanced Audio Coding)\\n A....D libmp3lame           MP3\\n'\n");
    std::filesystem::permissions(ffmpeg, std::filesystem::perms(0755));
    const std::set<std::string> available = AvailableEncoders(ffmpeg);
    EXPECT_EQ(available, (std::set<std::string>{"mpeg4", "aac", "libmp3lame"}));

    TEncoderProfile h264;
    h264.Params = "-i %1 -c:v libx264 -c:a aac %2";
    TEncoderProfile avi;
    avi.Params = "-i %1 -c:v mpeg4 -c:a libmp3lame %2";
    EXPECT_EQ(MissingEncoder(h264, available), "libx264");
    EXPECT_EQ(MissingEncoder(avi, available), "");
    EXPECT_EQ(MissingEncoder(h264, {}), ""); // unknown: nothing counts as missing
    EXPECT_EQ(MissingEncoderText("libx264", false), "Needs the encoder libx264, which the installed ffmpeg lacks");

    // Asked once per ffmpeg; a changed program is asked again.
    AvailableEncoders(ffmpeg);
    EXPECT_EQ(TempDir::Read(runs), "x\n");
    std::filesystem::last_write_time(ffmpeg, std::filesystem::last_write_time(ffmpeg) - std::chrono::hours(24 * 365));
    AvailableEncoders(ffmpeg);
    EXPECT_EQ(TempDir::Read(runs), "x\nx\n");
    EXPECT_TRUE(AvailableEncoders(dir.File("missing")).empty());
}
