// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/ConRun.h"
#include "convert/Conversion.h"

#include "support/Skips.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <random>

#include <filesystem>

using Lines = std::vector<std::string>;

namespace {

TDownloadJob ConvertJob(const std::string& output, const std::string& encExt, const std::string& ext)
{
    TDownloadJob job;
    job.Switch = "-get";
    job.Source = "https://www.youtube.com/watch?v=abc";
    job.OutputFile = output;
    job.EncoderParams = "-i %1 %2";
    job.EncoderExt = encExt;
    job.TargetExt = ext;
    return job;
}

}  // namespace

TEST(ConversionNames, AppliesTheEncoderAndTargetExtensions)
{
    // EncExt avi, Ext divx: the encoder writes clip.avi, renamed to clip.divx.
    TConversionNames n = ConversionNames(ConvertJob("/v/clip.flv", "avi", "divx"), false);
    EXPECT_EQ(n.Input, "/v/clip.flv");
    EXPECT_EQ(n.Output, "/v/clip.divx");
    EXPECT_EQ(n.EncoderOutput, "/v/clip.avi");
    EXPECT_EQ(n.FinalOutput, "/v/clip.divx");
    EXPECT_FALSE(n.SameAsInput);

    // No EncExt: straight to the target name, no rename.
    n = ConversionNames(ConvertJob("/v/clip.flv", "-", "mp4"), false);
    EXPECT_EQ(n.EncoderOutput, "/v/clip.mp4");
    EXPECT_EQ(n.FinalOutput, "");

    // EncExt without Ext: the encoder's file keeps its name.
    n = ConversionNames(ConvertJob("/v/clip.flv", "avi", "-"), false);
    EXPECT_EQ(n.Output, "/v/clip.flv");
    EXPECT_EQ(n.EncoderOutput, "/v/clip.avi");
    EXPECT_EQ(n.FinalOutput, "");

    // The extension is the name's; a dot in a directory doesn't count.
    n = ConversionNames(ConvertJob("/v.d/clip", "", "mp3"), false);
    EXPECT_EQ(n.Output, "/v.d/clip.mp3");

    // A local source is the input.
    TDownloadJob local = ConvertJob("/v/out.flv", "-", "mp4");
    local.Source = "/home/me/in.mkv";
    EXPECT_EQ(ConversionNames(local, true).Input, "/home/me/in.mkv");
}

TEST(ConversionNames, RefusesToWriteOntoTheInput)
{
    EXPECT_TRUE(ConversionNames(ConvertJob("/v/Clip.MP4", "-", "mp4"), false).SameAsInput);
    EXPECT_TRUE(ConversionNames(ConvertJob("/v/clip.mp4", "-", "-"), false).SameAsInput);
    // The encoder's own file would carry the input's name.
    EXPECT_TRUE(ConversionNames(ConvertJob("/v/clip.avi", "avi", "divx"), false).SameAsInput);

    // Two spellings of one existing file.
    TempDir dir;
    dir.Write("in.mp4", "x");
    SKIP_ON_WINDOWS(PosixLinks);
    std::filesystem::create_symlink(dir.File("in.mp4"), dir.File("link.webm"));
    TDownloadJob job = ConvertJob(dir.File("link.flv"), "-", "webm");
    job.Source = dir.File("in.mp4");
    EXPECT_TRUE(ConversionNames(job, true).SameAsInput);
}

TEST(Conversion, AspectText)
{
    EXPECT_EQ(AspectText(640, 360), "1.7778");
    EXPECT_EQ(AspectText(320, 240), "1.3333");
    EXPECT_EQ(AspectText(720, 576), "1.25");
    EXPECT_EQ(AspectText(400, 200), "2");
    EXPECT_EQ(AspectText(640, 0), "16:9");
}

TEST(Conversion, BuildEncoderArgsFillsPlaceholdersInsideArguments)
{
    EXPECT_EQ(BuildEncoderArgs("-y -i %1 -b:v %dvb -aspect %Asp \"%2\"", "280k", "/in.flv", "/out.avi", "1.7778"),
              (Lines{"-y", "-i", "/in.flv", "-b:v", "280k", "-aspect", "1.7778", "/out.avi"}));
    EXPECT_EQ(BuildEncoderArgs("-metadata title=%1-%2 -s 100%%", "1", "a", "b", "c"),
              (Lines{"-metadata", "title=a-b", "-s", "100%%"}));

    // Paths holding blanks, quotes, placeholders or shell characters arrive as
    // one argument each, unchanged.
    const std::string in = "/v/my \"clip\" %2 %ASP $(rm -rf x);*.flv";
    const std::string out = "/v/out %1 %DVB.avi";
    EXPECT_EQ(BuildEncoderArgs("-i %1 -aspect %ASP %2", "280k", in, out, "16:9"),
              (Lines{"-i", in, "-aspect", "16:9", out}));
    EXPECT_TRUE(BuildEncoderArgs("   ", "280k", in, out, "16:9").empty());
}

TEST(Conversion, BannerLines)
{
    for (const char* line : {"FFmpeg version SVN-r19352, Copyright (c) 2000-2009", "ffmpeg version 5.1.9-0+deb12u1",
                             "  configuration: --prefix=/usr", "  libavutil version: 49.15.0",
                             "  LIBAVCODEC VERSION: 52.20.0", "  built on Jul  5 2009", "  built with gcc 12",
                             "Press [q] to stop encoding", "Press [q] to stop, [?] for help",
                             "  libavutil      57. 28.100 / 57. 28.100", "  libswresample   4.  7.100 /  4.  7.100",
                             "  libpostproc    56.  6.100 / 56.  6.100",
                             "ble-libzimg --enable-libzmq --enable-libzvbi --enable-lv2 --enable-omx"})
        EXPECT_TRUE(IsBannerLine(line)) << line;
    for (const char* line : {"Input #0, flv, from 'clip.flv':", "  Duration: 00:00:01.00, start: 0.000000",
                             "frame=   25 fps=0.0 q=1.6 Lsize=      48kB time=00:00:01.04",
                             "  libx264 options: none", "libavutil 57. 28", "   libavutil      57. 28.100",
                             "[libx264 @ 0x55] frame I:1", "Unknown option --foo --bar", "a --b"})
        EXPECT_FALSE(IsBannerLine(line)) << line;
}

TEST(Conversion, TrimAndReadProgress)
{
    Lines lines{"FFmpeg version 0.5", "  configuration: --enable-gpl", "", "Input #0, flv, from 'a.flv':", "   ",
                "frame=  750 fps= 45 q=2.0 size=    1234kB time=30.00 bitrate= 337.0kbits/s", ""};
    TConversionProgress p = TrimAndReadProgress(lines);
    EXPECT_EQ(lines, (Lines{"Input #0, flv, from 'a.flv':",
                            "frame=  750 fps= 45 q=2.0 size=    1234kB time=30.00 bitrate= 337.0kbits/s"}));
    EXPECT_EQ(p.Frames, 750);
    EXPECT_EQ(p.TimeSeconds, 30);
    EXPECT_EQ(ConversionPercent(p.TimeSeconds, 205), 15);

    // Today's encoder writes the time as hours:minutes:seconds.
    lines = {"frame=   25 fps=0.0 q=1.6 Lsize=      48kB time=00:01:30.50 bitrate= 372.7kbits/s speed=40.1x    "};
    p = TrimAndReadProgress(lines);
    EXPECT_EQ(p.Frames, 25);
    EXPECT_EQ(p.TimeSeconds, 90);  // 90.5 rounded to even
    lines = {"frame=    1 fps=0.0 q=0.0 size=       0kB time=-577014:32:22.77 bitrate=  -0.0kbits/s"};
    EXPECT_LT(TrimAndReadProgress(lines).TimeSeconds, 0);
    // A negative frame count is no reading.
    lines = {"frame=   -5 fps=0.0 q=0.0 size=       0kB time=00:00:01.00 bitrate=  0.0kbits/s"};
    EXPECT_EQ(TrimAndReadProgress(lines).Frames, 0);

    // Unreadable values leave the defaults; a time at the very end isn't read.
    lines = {"frame=  abc fps= 1 size= 1kB time=N/A bitrate=N/A", "size=1 time=12.0"};
    p = TrimAndReadProgress(lines);
    EXPECT_EQ(p.Frames, 0);
    EXPECT_EQ(p.TimeSeconds, -1);
    EXPECT_EQ(lines.size(), 2u);
}

TEST(Conversion, ProgressReaderAgreesWithTheWalkAfterEveryLine)
{
    // The same random encoder output through two collectors: one list read by the
    // walk, the other by the reader, after every completed line.
    const std::vector<std::string> pieces = {
        "frame=  %F fps= 25 q=2.0 size=  12kB time=%T bitrate= 1.0kbits/s\r",
        "frame=  %F fps= 25 q=2.0 size=  12kB time=%T bitrate= 1.0kbits/s\n",
        "frame=  %F fps= 25 q=2.0 Lsize=  12kB time=%T bitrate= 1.0kbits/s\r\n",
        "frame=  abc fps= 1 size= 1kB time=N/A bitrate=N/A\r",
        "[mp3 @ 0x55] Header missing\n",
        "Error while decoding stream #0:0: Invalid data found\r\n",
        "\n", "   \r", "\r\n",
        "  configuration: --enable-gpl\n",
        "Press [q] to stop, [?] for help\n",
        "size=1 time=12.0",
    };
    std::mt19937 random(20261208);
    for (int round = 0; round < 40; ++round) {
        Lines walked;
        Lines read;
        TProgressReader reader;
        int mismatches = 0;
        TConsoleLineCollector byWalk(&walked, nullptr, 0, TLineEndRule::LoneLfCompletes);
        TConsoleLineCollector byReader(&read, [&](int, const std::string&) {
            const TConversionProgress a = TrimAndReadProgress(walked);
            const TConversionProgress b = reader.Read(read);
            mismatches += a.Frames != b.Frames || a.TimeSeconds != b.TimeSeconds || walked != read;
        }, 0, TLineEndRule::LoneLfCompletes);
        std::size_t feeds = 0;
        for (int i = 0; i < 300; ++i) {
            std::string piece = pieces[random() % pieces.size()];
            auto fill = [&piece](const std::string& mark, const std::string& value) {
                if (const std::size_t at = piece.find(mark); at != std::string::npos)
                    piece.replace(at, mark.size(), value);
            };
            fill("%F", std::to_string(random() % 5000));
            fill("%T", "00:00:" + std::to_string(10 + random() % 50) + ".00");
            // The walk's collector gets each piece first, so both lists hold the same entries when read.
            byWalk.Feed(piece.data(), piece.size());
            byReader.Feed(piece.data(), piece.size());
            ++feeds;
        }
        EXPECT_EQ(mismatches, 0) << "round " << round;
        EXPECT_GT(feeds, 0u);
    }
}

TEST(Conversion, ProgressReaderReadsEachLineAboutOnce)
{
    // 30 000 warning lines with progress between them: a walk would read ~450
    // million entries; the reader reads each new entry and the last one.
    Lines lines;
    TProgressReader reader;
    TConversionProgress last;
    TConsoleLineCollector collector(&lines, [&](int, const std::string&) { last = reader.Read(lines); }, 0,
                                    TLineEndRule::LoneLfCompletes);
    std::size_t completed = 0;
    for (int i = 0; i < 30000; ++i) {
        const std::string warning = "[mp3float @ 0x1] overread, skip -5 enddists: -3 -3\n";
        collector.Feed(warning.data(), warning.size());
        ++completed;
        if (i % 100 == 0) {
            const std::string progress = "frame=" + std::to_string(i) + " fps=0.0 q=-0.0 size=  1kB time=00:00:" +
                                         std::to_string(i / 1000) + ".00 bitrate=1\r";
            collector.Feed(progress.data(), progress.size());
            ++completed;
        }
    }
    EXPECT_LE(reader.EntriesRead(), 2 * completed);
    EXPECT_EQ(last.TimeSeconds, TrimAndReadProgress(lines).TimeSeconds);
}

TEST(Conversion, ConversionPercentStaysWithin0To100)
{
    EXPECT_EQ(ConversionPercent(240, 205), 100);
    EXPECT_EQ(ConversionPercent(30, 0), 0);
    EXPECT_EQ(ConversionPercent(-1, 205), 0);
    EXPECT_EQ(ConversionPercent(1, 200), 0);  // 0.5 rounds to even
    EXPECT_EQ(ConversionPercent(3, 200), 2);  // 1.5 rounds to even
}

TEST(Conversion, WriteErrorLogReplacesTheFile)
{
    TempDir dir;
    const std::string log = dir.File("bmt_errors.log");
    WriteErrorLog(log, {"first failure"});
    WriteErrorLog(log, {"Unknown encoder 'x'", "", "end"});
    const std::string text = TempDir::Read(log);
    const std::size_t firstEnd = text.find("\r\n");
    ASSERT_NE(firstEnd, std::string::npos);
    EXPECT_NE(text.substr(0, firstEnd).find(" - "), std::string::npos);
    EXPECT_EQ(text.substr(firstEnd), "\r\nUnknown encoder 'x'\r\n\r\nend\r\n");

    // A log that can't be written is skipped silently.
    EXPECT_NO_THROW(WriteErrorLog(dir.File("no/such/dir/bmt_errors.log"), {"x"}));

    // A link at the name is replaced by the log, never written through; a
    // folder there stays as it is.
    const std::string victim = dir.Write("victim", "keep");
    std::filesystem::remove(log);
    SKIP_ON_WINDOWS(PosixLinks);
    std::filesystem::create_symlink(victim, log);
    WriteErrorLog(log, {"through a link?"});
    EXPECT_EQ(TempDir::Read(victim), "keep");
    EXPECT_FALSE(std::filesystem::is_symlink(log));
    EXPECT_NE(TempDir::Read(log).find("through a link?"), std::string::npos);
    std::filesystem::create_directory(dir.File("folder.log"));
    WriteErrorLog(dir.File("folder.log"), {"x"});
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.log")));
    EXPECT_EQ(std::filesystem::directory_iterator(dir.File("folder.log")), std::filesystem::directory_iterator());
}
