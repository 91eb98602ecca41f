// SPDX-License-Identifier: GPL-3.0-or-later
// The chapters' files the engine leaves, given names and a folder of their
// own, and a media file cut to a part by the real encoder.

#include "system/ConRun.h"
#include "engine/ClipFiles.h"
#include "plan/ListJobs.h"
#include "support/MediaFixtures.h"
#include "support/Skips.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
double Duration(const std::string& file)
{
    std::vector<std::string> lines;
    RunConsoleApp("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", file}, &lines, {});
    return lines.empty() ? -1 : std::atof(lines.front().c_str());
}
} // namespace

TEST(ClipFiles, ChaptersGetNumberedSafeNamesInTheVideosFolder)
{
    SKIP_ON_WINDOWS(PosixLinks);
    EXPECT_EQ(ChapterFileName({1, "Opening", "mp4"}, 3), "01 - Opening.mp4");
    EXPECT_EQ(ChapterFileName({7, "", "MP4"}, 3), "07 - Chapter 7.mp4");
    EXPECT_EQ(ChapterFileName({12, "x", "webm"}, 120), "012 - x.webm");
    const std::string hostile = ChapterFileName({2, "../$(touch x); \"q\"\n/etc", "mp4"}, 2);
    EXPECT_EQ(hostile.find('/'), std::string::npos) << hostile;
    EXPECT_EQ(hostile.find('\n'), std::string::npos) << hostile;
    EXPECT_TRUE(hostile.starts_with("02 - ")) << hostile;
    EXPECT_EQ(ChapterFolderFor("/v/My clip.mp4"), "/v/My clip");

    TempDir dir;
    const std::string work = dir.File("work");
    fs::create_directory(work);
    dir.Write("work/chapter.002.Second.mp4", "2");
    dir.Write("work/chapter.001.First ⧸ one.mp4", "1");
    dir.Write("work/chapter.003.$(touch pwned).mp4", "3");
    dir.Write("work/chapter.004.Script.sh", "#!/bin/sh");            // no media: stays out
    dir.Write("work/chapter.005.Half.mp4.part", "5");                // not whole
    fs::create_symlink("/etc/passwd", work + "/chapter.006.Link.mp4");  // a link is never taken
    dir.Write("work/media.mp4", "whole");
    fs::create_directory(dir.File("videos"));
    dir.Write("videos/Clip.mp4", "whole");
    // A name in the folder that is taken stays as it is.
    fs::create_directory(dir.File("videos/Clip"));
    dir.Write("videos/Clip/02 - Second.mp4", "earlier");

    const std::vector<std::string> moved = MoveChapterFiles(work, dir.File("videos/Clip.mp4"));
    ASSERT_EQ(moved.size(), 3u);
    EXPECT_EQ(fs::path(moved[0]).filename(), "01 - First ⧸ one.mp4");
    EXPECT_EQ(TempDir::Read(moved[0]), "1");
    EXPECT_NE(moved[1], dir.File("videos/Clip/02 - Second.mp4"));
    EXPECT_EQ(TempDir::Read(moved[1]), "2");
    EXPECT_EQ(TempDir::Read(dir.File("videos/Clip/02 - Second.mp4")), "earlier");
    EXPECT_EQ(TempDir::Read(moved[2]), "3");
    for (const std::string& file : moved)
        EXPECT_EQ(fs::path(file).parent_path(), fs::path(dir.File("videos/Clip")));
    EXPECT_TRUE(fs::exists(work + "/chapter.004.Script.sh"));
    EXPECT_TRUE(fs::is_symlink(work + "/chapter.006.Link.mp4"));
    EXPECT_FALSE(fs::exists(dir.File("pwned")));

    // Nothing to move: no folder is made.
    EXPECT_TRUE(MoveChapterFiles(dir.File("videos/Clip"), dir.File("videos/Other.mp4")).empty());
    EXPECT_FALSE(fs::exists(dir.File("videos/Other")));
}

TEST(ClipFiles, TheEncoderCutsADownloadedFileToThePartAsked)
{
    SKIP_ON_WINDOWS(DebianPrograms);
    TempDir dir;
    const std::string clip = fixtures::MakeClip(dir.File("clip.mp4"), 6);
    ASSERT_FALSE(clip.empty());
    const std::string whole = TempDir::Read(clip);

    // A start after the end: refused, the file untouched.
    TCutResult cut = CutMediaFile("ffmpeg", clip, {7, 9}, 6.0, {}, false);
    EXPECT_FALSE(cut.Ok);
    EXPECT_NE(cut.Error.find("starts after the video's end"), std::string::npos) << cut.Error;
    EXPECT_EQ(TempDir::Read(clip), whole);

    // An encoder that fails: the whole file stays, no cut is left beside it.
    const std::string bad = dir.Write("bad-ffmpeg", "#!/bin/sh\necho 'no such codec' >&2\nexit 1\n");
    fs::permissions(bad, fs::perms::owner_all);
    cut = CutMediaFile(bad, clip, {1, 2}, 6.0, {}, false);
    EXPECT_FALSE(cut.Ok);
    EXPECT_NE(cut.Error.find("whole file stays"), std::string::npos) << cut.Error;
    EXPECT_EQ(TempDir::Read(clip), whole);
    EXPECT_EQ(fixtures::FolderEntries(dir.Path()), (std::vector<std::string>{"bad-ffmpeg", "clip.mp4"}));

    // The part asked, within half a second; an end beyond the video ends with it.
    cut = CutMediaFile("ffmpeg", clip, {1.5, 4}, 6.0, {}, false);
    ASSERT_TRUE(cut.Ok) << cut.Error;
    EXPECT_NEAR(Duration(clip), 2.5, 0.5);
    EXPECT_EQ(fixtures::StreamTypes(clip), (std::vector<std::string>{"video", "audio"}));
    cut = CutMediaFile("ffmpeg", clip, {1, 30}, 2.5, {}, false);
    ASSERT_TRUE(cut.Ok) << cut.Error;
    EXPECT_NEAR(Duration(clip), 1.5, 0.5);

    // Stopped: the file stays as it was.
    const std::string before = TempDir::Read(clip);
    cut = CutMediaFile("ffmpeg", clip, {0, 1}, 1.5, [] { return true; }, false);
    EXPECT_TRUE(cut.Stopped);
    EXPECT_EQ(TempDir::Read(clip), before);
}

TEST(ClipFiles, AListsJobsOfAPartAreNamedWithItsTimesAndCarryTheOptions)
{
    TempDir dir;
    TGetRequest request;
    request.EngineOptions.Clip.Section = TTimeSection{90, 165};
    request.EngineOptions.Clip.SplitChapters = true;
    TListJobMaker maker(request, dir.Path());
    TDownloadJob job;
    ASSERT_TRUE(maker.Make(TPageListEntry{"http://127.0.0.1:1/a", "Talk", "mp4"}, job));
    EXPECT_EQ(job.OutputFile, dir.File("Talk [1m30s-2m45s].mp4"));
    EXPECT_EQ(job.Section, "90-165");
    EXPECT_TRUE(job.SplitChapters);
    ReleaseMadeJob(job);
}
