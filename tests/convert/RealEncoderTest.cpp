// SPDX-License-Identifier: GPL-3.0-or-later
// Conversions with the real encoder: every shipped profile converts a tiny
// generated clip, and the result is checked with ffprobe. Skipped when ffmpeg
// (or ffprobe) is not on PATH.

#include "app/ProgramValues.h"
#include "system/ConRun.h"
#include "convert/Conversion.h"
#include "convert/EncoderProfiles.h"
#include "convert/MediaProbe.h"
#include "system/ZQ_FileSystem.h"

#include "support/Skips.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

using Lines = std::vector<std::string>;

namespace {

const std::string ProfilesFile = std::string(BRIMTALE_SOURCE_DIR) + "/data/bmt_encoder_profiles.ini";

std::string Joined(const Lines& lines)
{
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    return text;
}

class RealEncoder : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_ON_WINDOWS(DebianPrograms);
        ffmpeg = FindExecutable("ffmpeg");
        ffprobe = FindExecutable("ffprobe");
        if (ffmpeg.empty() || ffprobe.empty())
            GTEST_SKIP() << "ffmpeg or ffprobe is not on PATH: the conversions with the real encoder are not tested";
        // A name the shell would love to take apart.
        clip = dir.File("in put $(touch x); \"q\" 'a' %2 %ASP.flv");
        Lines lines;
        const std::uint32_t rc = RunConsoleApp(
            ffmpeg,
            {"-hide_banner", "-n", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=1", "-f", "lavfi",
             "-i", "sine=frequency=440:duration=1", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac",
             "-shortest", clip},
            &lines, nullptr);
        ASSERT_EQ(rc, 0u) << Joined(lines);
    }

    // ffprobe's "key=value" lines of the file's streams.
    Lines StreamInfo(const std::string& file)
    {
        Lines lines;
        RunConsoleApp(ffprobe,
                      {"-v", "error", "-show_entries", "stream=codec_type,codec_name,width", "-of", "default=nw=1",
                       file},
                      &lines, nullptr);
        lines.erase(std::remove(lines.begin(), lines.end(), std::string()), lines.end());
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    TempDir dir;
    std::string ffmpeg;
    std::string ffprobe;
    std::string clip;
};

}  // namespace

TEST_F(RealEncoder, ProbesTheClip)
{
    TMediaInfo info;
    ProbeMediaFile(clip, ffmpeg, info);
    EXPECT_EQ(info.VideoCodec, "h264");
    EXPECT_EQ(info.Width, 160);
    EXPECT_EQ(info.Height, 120);
    EXPECT_DOUBLE_EQ(info.FrameRate, 25);
    EXPECT_EQ(info.DurationSeconds, 1);
    EXPECT_EQ(info.FrameCount, 25);
    EXPECT_TRUE(info.Streams[0].Present);
    EXPECT_TRUE(info.Streams[1].Present);
    EXPECT_FALSE(info.Streams[2].Present);
    EXPECT_FALSE(std::filesystem::exists(dir.File("x")));
}

TEST_F(RealEncoder, EveryShippedProfileConverts)
{
    const std::vector<TEncoderProfile> profiles = ReadEncoderProfiles(ProfilesFile);
    ASSERT_GE(profiles.size(), 5u);
    const std::string bitrate = ReadDefaultVideoBitrate(ProfilesFile);
    EXPECT_EQ(bitrate, "280k");

    // What ffprobe must find in each converted file (sorted lines).
    const std::map<std::string, Lines> expected{
        {"MP4 (H.264/AAC)", {"codec_name=aac", "codec_name=h264", "codec_type=audio", "codec_type=video", "width=160"}},
        {"WebM (VP9/Opus)", {"codec_name=opus", "codec_name=vp9", "codec_type=audio", "codec_type=video", "width=160"}},
        {"MP3 audio only", {"codec_name=mp3", "codec_type=audio"}},
        {"AVI (MPEG-4/MP3)", {"codec_name=mp3", "codec_name=mpeg4", "codec_type=audio", "codec_type=video", "width=160"}},
        {"DivX (MPEG-4/MP3, .divx)",
         {"codec_name=mp3", "codec_name=mpeg4", "codec_type=audio", "codec_type=video", "width=160"}},
        {"Small phone MP4 (H.264/AAC, 320 px)",
         {"codec_name=aac", "codec_name=h264", "codec_type=audio", "codec_type=video", "width=160"}},
    };

    TMediaInfo info;
    ProbeMediaFile(clip, ffmpeg, info);
    int number = 0;
    for (const TEncoderProfile& profile : profiles) {
        SCOPED_TRACE(profile.DisplayName);
        EXPECT_LE(profile.Params.size(), 250u);
        const std::string outDir = dir.File(std::to_string(++number));
        ASSERT_TRUE(ForceDirectories(outDir));

        TDownloadJob job;
        job.Switch = "-get";
        job.Source = clip;
        job.OutputFile = outDir + "/out $(y) %1.flv";
        job.EncoderParams = profile.Params;
        job.EncoderExt = profile.EncExt;
        job.TargetExt = profile.Ext;
        const TConversionNames names = ConversionNames(job, true);
        ASSERT_FALSE(names.SameAsInput);

        Lines lines;
        TConversionProgress progress;
        const Lines args =
            BuildEncoderArgs(profile.Params, bitrate, names.Input, names.EncoderOutput, AspectText(info.Width, info.Height));
        const std::uint32_t rc = RunConsoleApp(ffmpeg, args, &lines, [&](int, const std::string&) {
            const TConversionProgress now = TrimAndReadProgress(lines);
            if (now.TimeSeconds >= 0)
                progress = now;
        });
        ASSERT_EQ(rc, 0u) << Joined(lines);
        EXPECT_EQ(ConversionPercent(progress.TimeSeconds, info.DurationSeconds), 100);
        for (const std::string& l : lines)
            EXPECT_FALSE(IsBannerLine(l) || l.find_first_not_of(' ') == std::string::npos) << l;

        std::string final = names.EncoderOutput;
        if (!names.FinalOutput.empty()) {
            ASSERT_TRUE(RenameFileNoReplace(names.EncoderOutput, names.FinalOutput));
            final = names.FinalOutput;
        }
        EXPECT_EQ(ExtractFileExt(final), "." + profile.Ext);
        const Lines streams = StreamInfo(final);
        const auto want = expected.find(profile.DisplayName);
        if (want != expected.end())
            EXPECT_EQ(streams, want->second);
        else
            EXPECT_FALSE(streams.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x")));
}

TEST_F(RealEncoder, AFailedConversionLeavesItsReasonAndNoOverwrittenFile)
{
    Lines lines;
    const std::string out = dir.File("out.mp4");
    std::uint32_t rc = RunConsoleApp(ffmpeg, BuildEncoderArgs("-n -i %1 -c:v no_such_codec %2", "280k", clip, out, "16:9"),
                                     &lines, nullptr);
    EXPECT_NE(rc, 0u);
    TrimAndReadProgress(lines);
    ASSERT_FALSE(lines.empty());
    for (const std::string& l : lines)  // the banner is gone, the long configuration line too
        EXPECT_TRUE(!IsBannerLine(l) && l.find("--enable-") == std::string::npos) << l;
    EXPECT_NE(Joined(lines).find("no_such_codec"), std::string::npos) << Joined(lines);
    WriteErrorLog(dir.File("bmt_errors.log"), lines);
    EXPECT_NE(TempDir::Read(dir.File("bmt_errors.log")).find("no_such_codec"), std::string::npos);

    // The shipped profiles never overwrite a file that is already there.
    const std::string existing = dir.Write("exists.mp4", "keep me");
    const TEncoderProfile mp4 = ReadEncoderProfiles(ProfilesFile).front();
    lines.clear();
    rc = RunConsoleApp(ffmpeg, BuildEncoderArgs(mp4.Params, "280k", clip, existing, "16:9"), &lines, nullptr);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(TempDir::Read(existing), "keep me");
}
