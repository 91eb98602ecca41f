// SPDX-License-Identifier: GPL-3.0-or-later
#include "convert/MediaProbe.h"

#include "ConvertTestSupport.h"

#include "support/Skips.h"

#include <gtest/gtest.h>

namespace {

TMediaInfo Parse(const std::vector<std::string>& lines)
{
    TMediaInfo info;
    ParseProbeOutput(lines, info);
    return info;
}

}  // namespace

TEST(MediaProbe, TimeTextToSeconds)
{
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("00:03:25.12"), 205.12);
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("01:00:00,5"), 3600.5);
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("N/A"), 0);
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("2:30"), 7200);  // a single ":" gives the hours only
    EXPECT_DOUBLE_EQ(TimeTextToSeconds("x:1:2"), 62);
}

TEST(MediaProbe, DurationLines)
{
    TMediaInfo info = Parse({"  Duration: 00:03:25.12, start: 0.000000, bitrate: 512 kb/s"});
    EXPECT_EQ(info.DurationText, "00:03:25.12");
    EXPECT_DOUBLE_EQ(info.Duration, 205.12);
    EXPECT_EQ(info.DurationSeconds, 205);
    EXPECT_EQ(info.StartTime, 0);

    info = Parse({"  Duration: 00:00:10.50, start: 1.500000, bitrate: 300 kb/s"});
    EXPECT_DOUBLE_EQ(info.Duration, 10.5);
    EXPECT_EQ(info.StartTime, 2);
    EXPECT_EQ(info.DurationSeconds, 9);

    EXPECT_EQ(Parse({"  Duration: N/A, start: 0.000000, bitrate: N/A"}).DurationSeconds, 0);
    // A start after the end leaves 0, never less; a start that isn't a number is ignored.
    EXPECT_EQ(Parse({"Duration: 00:00:01.00, start: 5.0, bitrate: 1 kb/s"}).DurationSeconds, 0);
    EXPECT_EQ(Parse({"Duration: 00:00:04.00, start: abc, bitrate: 1 kb/s"}).DurationSeconds, 4);
    EXPECT_EQ(Parse({"Duration: 00:00:04.00"}).DurationText, "");
    // A negative playing time reads as 0, with or without a start time.
    EXPECT_EQ(Parse({"Duration: -01:00:00.00, start: 0.0, x"}).DurationSeconds, 0);
    EXPECT_EQ(Parse({"Duration: -01:00:00.00, bitrate: 1 kb/s"}).DurationSeconds, 0);
    EXPECT_DOUBLE_EQ(Parse({"Duration: -01:00:00.00, bitrate: 1 kb/s"}).Duration, 0);
    // Absurd values stay within range.
    EXPECT_EQ(Parse({"Duration: 99999999:00:00.00, start: 0, x"}).DurationSeconds, 2147483647);
}

TEST(MediaProbe, VideoStreamLines)
{
    TMediaInfo info = Parse({"    Stream #0.0: Video: flv, yuv420p, 320x240, 29.97 tbr, 1k tbn, 1k tbc"});
    EXPECT_EQ(info.VideoCodec, "flv");
    EXPECT_DOUBLE_EQ(info.FrameRate, 29.97);
    EXPECT_EQ(info.Width, 320);
    EXPECT_EQ(info.Height, 240);

    info = Parse({"    Stream #0.0(und): Video: h264, yuv420p, 1280x720 [PAR 1:1 DAR 16:9], 25 tbr, 1k tbn, 50 tbc"});
    EXPECT_EQ(info.VideoCodec, "h264");
    EXPECT_DOUBLE_EQ(info.FrameRate, 25);
    EXPECT_EQ(info.Width, 1280);
    EXPECT_EQ(info.Height, 720);

    info = Parse({"    Stream #0.1: Audio: mp3, stereo, s16, 64 kb/s"});
    EXPECT_TRUE(info.Streams[0].Present);
    EXPECT_EQ(info.Streams[0].Text, "Stream #0.1: Audio: mp3, stereo, s16, 64 kb/s");
    EXPECT_EQ(info.Width, 0);
    EXPECT_EQ(info.VideoCodec, "");

    // Today's encoder: profile and codec tag after the codec, a bit rate and
    // "fps" before the rate.
    info = Parse({"  Stream #0:0[0x1](und): Video: h264 (High) (avc1 / 0x31637661), yuv420p(progressive), 320x240 "
                  "[SAR 1:1 DAR 4:3], 25 fps, 25 tbr, 12800 tbn (default)"});
    EXPECT_EQ(info.VideoCodec, "h264");
    EXPECT_DOUBLE_EQ(info.FrameRate, 25);
    EXPECT_EQ(info.Width, 320);
    EXPECT_EQ(info.Height, 240);
    info = Parse({"  Stream #0:0: Video: vp9 (Profile 0), yuv420p(tv, bt709, progressive), 1920x1080, SAR 1:1 DAR "
                  "16:9, 29.97 fps, 29.97 tbr, 1k tbn (default)"});
    EXPECT_EQ(info.Width, 1920);
    EXPECT_EQ(info.Height, 1080);
    EXPECT_DOUBLE_EQ(info.FrameRate, 29.97);
    // A codec tag is no frame size.
    info = Parse({"  Stream #0:0: Video: rawvideo (Y800 / 0x30303859), gray, 25 tbr, 25 tbn"});
    EXPECT_EQ(info.Width, 0);
    EXPECT_EQ(info.Height, 0);
}

TEST(MediaProbe, FrameCountAndStreamList)
{
    std::vector<std::string> lines{"  Duration: 00:03:25.12, start: 0.000000, bitrate: 512 kb/s"};
    for (int i = 0; i < 25; ++i)
        lines.push_back("    Stream #0:" + std::to_string(i) + ": Video: h264, yuv420p, 640x360, 25 tbr, 1k tbn");
    const TMediaInfo info = Parse(lines);
    EXPECT_EQ(info.FrameCount, 5125);
    for (std::size_t i = 0; i < 20; ++i)
        EXPECT_TRUE(info.Streams[i].Present) << i;
    EXPECT_EQ(info.Streams[19].Text, "Stream #0:19: Video: h264, yuv420p, 640x360, 25 tbr, 1k tbn");
    EXPECT_FALSE(info.Streams[20].Present);
    EXPECT_EQ(Parse({"Stream #0:0: Video: x, " + std::string(300, 'a') + ", 25 tbr"}).Streams[0].Text.size(), 200u);
}

TEST(MediaProbe, RunsTheEncoderWithTheFileAsOneArgument)
{
    SKIP_ON_WINDOWS(PosixScript);
    TempDir dir;
    const std::string encoder = InstallFakeEncoder(dir);
    const std::string file = dir.Write("my \"clip\" $(x); %1.flv", "0123456789");

    TMediaInfo info;
    info.Width = 99;
    ProbeMediaFile(file, encoder, info);
    EXPECT_EQ(info.FileName, file);
    EXPECT_EQ(info.FileSize, 10);
    EXPECT_EQ(info.DurationSeconds, 205);
    EXPECT_EQ(info.Width, 640);
    EXPECT_EQ(info.Height, 360);
    EXPECT_NEAR(info.FrameRate, 29.97, 1e-9);
    EXPECT_EQ(info.FrameCount, 6144);  // 205 * 29.97 = 6143.85
    EXPECT_TRUE(info.Streams[1].Present);

    // Without the input or the encoder only the name and size are known.
    ProbeMediaFile(dir.File("missing.flv"), encoder, info);
    EXPECT_EQ(info.FileName, dir.File("missing.flv"));
    EXPECT_EQ(info.DurationSeconds, 0);
    EXPECT_EQ(info.Width, 0);
    ProbeMediaFile(file, dir.File("no-encoder"), info);
    EXPECT_EQ(info.FileSize, 10);
    EXPECT_EQ(info.Width, 0);
    ProbeMediaFile(file, "", info);
    EXPECT_EQ(info.Width, 0);
}
