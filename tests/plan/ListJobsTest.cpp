// SPDX-License-Identifier: GPL-3.0-or-later
// Many jobs at once: the jobs of a list's entries with names of their own, the
// list's folder, and the addresses of a pasted batch.
#include "plan/ListJobs.h"
#include "system/OutputFiles.h"
#include "engine/PageEngine.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {
TPageListEntry Entry(const std::string& url, const std::string& title, const std::string& ext = "")
{
    return TPageListEntry{url, title, ext};
}
} // namespace

TEST(ListJobs, EqualTitlesGetDistinctFilesAndNothingIsOverwritten)
{
    TempDir dir;
    dir.Write("Same.mp4", "the user's own file");
    TListJobMaker maker(TGetRequest{}, dir.Path());
    std::vector<TDownloadJob> jobs(4);
    ASSERT_TRUE(maker.Make(Entry("http://127.0.0.1:1/a.mp4", "Same", "mp4"), jobs[0]));
    ASSERT_TRUE(maker.Make(Entry("http://127.0.0.1:1/b.mp4", "Same", "mp4"), jobs[1]));
    ASSERT_TRUE(maker.Make(Entry("http://127.0.0.1:1/c", "Same"), jobs[2]));
    ASSERT_TRUE(maker.Make(Entry("http://127.0.0.1:1/d", "Other", "webm"), jobs[3]));
    EXPECT_EQ(jobs[0].OutputFile, dir.File("Same_01.mp4"));
    EXPECT_EQ(jobs[1].OutputFile, dir.File("Same_02.mp4"));
    EXPECT_EQ(jobs[2].OutputFile, dir.File("Same_03.mp4"));
    EXPECT_EQ(jobs[3].OutputFile, dir.File("Other.webm"));
    EXPECT_EQ(TempDir::Read(dir.File("Same.mp4")), "the user's own file");
    for (const TDownloadJob& job : jobs) {
        // Each through the engine with the entry's own address, its name held.
        EXPECT_TRUE(IsJobValid(job));
        EXPECT_TRUE(job.ThroughEngine);
        EXPECT_EQ(job.Source, job.MediaUrl);
        EXPECT_TRUE(IsOutputNameTaken(job.OutputFile));
    }
    // Another maker (another list, a job started meanwhile) gets other names.
    TListJobMaker second(TGetRequest{}, dir.Path());
    TDownloadJob later;
    ASSERT_TRUE(second.Make(Entry("http://127.0.0.1:1/e", "Same", "mp4"), later));
    EXPECT_EQ(later.OutputFile, dir.File("Same_04.mp4"));

    // Names given back are free again; nothing else goes.
    for (const TDownloadJob& job : jobs)
        ReleaseMadeJob(job);
    EXPECT_FALSE(IsOutputNameTaken(jobs[0].OutputFile));
    EXPECT_TRUE(fs::exists(dir.File("Same.mp4")));
}

TEST(ListJobs, TheRequestGivesFormatAndConversionAndTitlesStayOneName)
{
    TempDir dir;
    TEncoderProfile mp3;
    mp3.Section = "MP3";
    mp3.Params = "-i %1 -vn %2";
    mp3.Ext = "mp3";
    TGetRequest request;
    request.Convert = true;
    request.Profile = &mp3;
    request.FormatNumber = 22;
    TListJobMaker maker(request, dir.Path());
    TDownloadJob youTube;
    ASSERT_TRUE(maker.Make(Entry("https://www.youtube.com/watch?v=a", "../../etc/$(touch x)\n"), youTube));
    EXPECT_EQ(youTube.EngineFormat, YouTubeEngineFormat(22).Selector);
    EXPECT_EQ(youTube.EncoderParams, mp3.Params);
    EXPECT_EQ(youTube.TargetExt, "mp3");
    EXPECT_EQ(fs::path(youTube.OutputFile).parent_path(), fs::path(dir.Path()));
    EXPECT_EQ(fs::path(youTube.OutputFile).extension(), ".mp3");
    TDownloadJob untitled;
    ASSERT_TRUE(maker.Make(Entry("http://127.0.0.1:1/v", "  "), untitled));
    EXPECT_EQ(untitled.OutputFile, dir.File("video.mp3"));
    EXPECT_EQ(untitled.EngineFormat, "");  // the engine's own choice off YouTube
}

TEST(ListJobs, TenThousandEqualTitlesStayDistinctWithoutGrowingCost)
{
    TempDir dir;
    TListJobMaker maker(TGetRequest{}, dir.Path());
    std::set<std::string> names;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 10000; ++i) {
        TDownloadJob job;
        ASSERT_TRUE(maker.Make(Entry("http://127.0.0.1:1/v" + std::to_string(i), "Same", "mp4"), job)) << i;
        names.insert(job.OutputFile);
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("10000 jobs of one title named and reserved in %lld ms\n", static_cast<long long>(took.count()));
    EXPECT_EQ(names.size(), 10000u);
    EXPECT_EQ(*names.begin(), dir.File("Same.mp4"));
}

TEST(ListJobs, AListsFolderIsNamedAfterItAndStaysInside)
{
    TempDir dir;
    EXPECT_EQ(ListFolder(dir.Path(), "My list", false), dir.Path());
    const std::string folder = ListFolder(dir.Path(), "My list", true);
    EXPECT_EQ(folder, dir.File("My list"));
    EXPECT_TRUE(fs::is_directory(folder));
    // Taken again for the same list; a file of that name is left alone.
    EXPECT_EQ(ListFolder(dir.Path(), "My list", true), folder);
    dir.Write("Taken", "a file");
    EXPECT_EQ(ListFolder(dir.Path(), "Taken", true), dir.File("Taken_01"));
    EXPECT_EQ(TempDir::Read(dir.File("Taken")), "a file");
    // A title that means a path, or none at all, is one folder inside.
    for (const char* title : {"../../up", "/etc", "..", "", "a/b\\c"}) {
        const std::string inside = ListFolder(dir.Path(), title, true);
        EXPECT_EQ(fs::path(inside).parent_path(), fs::path(dir.Path())) << title;
        EXPECT_TRUE(fs::is_directory(inside)) << title;
    }
    // A directory that is missing is made; one under a file can't be.
    EXPECT_EQ(ListFolder(dir.File("new/deeper"), "L", true), dir.File("new/deeper/L"));
    EXPECT_EQ(ListFolder(dir.File("Taken/below"), "L", true), "");
}

TEST(BatchAddresses, OneAddressPerLineAndNothingElse)
{
    TempDir dir;
    const std::string file = dir.Write("clip.avi", "x");
    const std::vector<std::string> got = BatchAddresses(
        "  http://127.0.0.1:1/a  \r\n\r\nnot an address\nhttps://example.org/b\rhttp://127.0.0.1:1/a\n" + file +
        "\nftp://x/y\n" + "http://" + std::string(2000, 'x') + "\n");
    EXPECT_EQ(got, (std::vector<std::string>{"http://127.0.0.1:1/a", "https://example.org/b", file}));

    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += "http://127.0.0.1:1/" + std::to_string(i) + "\n";
    EXPECT_EQ(BatchAddresses(many).size(), BatchMaxAddresses);
    EXPECT_TRUE(BatchAddresses("").empty());
}
