#include "convert/EncoderProfiles.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

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
