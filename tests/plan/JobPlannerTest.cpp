// SPDX-License-Identifier: GPL-3.0-or-later
// The one planner of new jobs: the road of an address from its name to the
// reserved job, each step's message, and a cancel that leaves nothing behind.
#include "plan/JobPlanner.h"

#include "system/OutputFiles.h"
#include "support/MediaFixtures.h"
#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {
std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}
} // namespace

TEST(JobPlanner, AMediaFilesAddressBecomesAJobWithItsNameReserved)
{
    SKIP_ON_WINDOWS(DebianPrograms);
    TempDir dir;
    const std::string clip = fixtures::MakeClip(dir.File("source.mp4"), 1);
    ASSERT_FALSE(clip.empty());
    const std::string body = ReadAll(clip);
    testhttp::TestHttpServer server;
    server.Serve("/films/clip.mp4", body, "video/mp4");
    const std::string out = dir.Path() + "/out";
    dir.Write("clip.mp4", "");  // a file of that name stays the user's own

    TGetRequest request;
    request.Url = "  " + server.Url("/films/clip.mp4") + " ";
    request.Directory = out;
    TJobPlanner planner(request, false);
    ASSERT_TRUE(planner.Run(5, 20, nullptr)) << planner.Message();
    EXPECT_FALSE(planner.Cancelled());
    EXPECT_EQ(planner.Plan().Site, vsWebPage);
    EXPECT_EQ(planner.Plan().Directory, out);  // made when missing
    const TDownloadJob& job = planner.Job();
    EXPECT_TRUE(IsJobValid(job));
    EXPECT_EQ(job.OutputFile, out + "/clip.mp4");
    EXPECT_EQ(job.MediaUrl, server.Url("/films/clip.mp4"));
    EXPECT_EQ(job.ExpectedSize, static_cast<std::int32_t>(body.size()));
    EXPECT_TRUE(IsOutputNameTaken(job.OutputFile));

    // A second job of the same address gets another name.
    TJobPlanner second(request, false);
    ASSERT_TRUE(second.Run(5, 20, nullptr));
    EXPECT_NE(second.Job().OutputFile, job.OutputFile);

    // A job not started gives its name back; the user's file is untouched.
    planner.Release();
    second.Release();
    EXPECT_FALSE(IsOutputNameTaken(job.OutputFile));
    EXPECT_TRUE(fs::exists(dir.File("clip.mp4")));
}

TEST(JobPlanner, EachStepSaysWhyItStopsAndACancelLeavesNoName)
{
    TempDir dir;
    // Not an address: the checks refuse it before anything is fetched.
    TGetRequest request;
    request.Url = "no address at all";
    request.Directory = dir.Path();
    TJobPlanner none(request, false);
    EXPECT_FALSE(none.Run(5, 20, nullptr));
    EXPECT_FALSE(none.Message().empty());
    EXPECT_FALSE(none.Cancelled());
    EXPECT_EQ(none.Plan().Site, vsNone);

    // A host that is down: the checks pass, resolving says why in both languages.
    request.Url = testhttp::ClosedPortUrl("/clip.mp4");
    request.FileName = "clip.mp4";
    TJobPlanner english(request, false);
    TJobPlanner polish(request, true);
    EXPECT_FALSE(english.Run(5, 20, nullptr));
    EXPECT_FALSE(polish.Run(5, 20, nullptr));
    EXPECT_TRUE(english.Plan().Message.empty());
    EXPECT_FALSE(english.Message().empty());
    EXPECT_NE(english.Message(), polish.Message());
    EXPECT_FALSE(IsOutputNameTaken(dir.File("clip.mp4")));

    // Cancelled before it began: no message, no name, no file.
    const std::atomic<bool> cancel{true};
    TJobPlanner cancelled(request, false);
    EXPECT_FALSE(cancelled.Run(5, 20, &cancel));
    EXPECT_TRUE(cancelled.Cancelled());
    EXPECT_TRUE(cancelled.Message().empty());
    EXPECT_FALSE(IsOutputNameTaken(dir.File("clip.mp4")));
    EXPECT_FALSE(fs::exists(dir.File("clip.mp4")));
}

TEST(JobPlanner, ProposedNamesFollowTheSiteAndTheProfile)
{
    TEncoderProfile mp3;
    mp3.Ext = "mp3";
    EXPECT_EQ(ProposeJobName("", true, nullptr), "video");
    EXPECT_EQ(ProposeJobName("  ", true, &mp3), "video.mp3");
    EXPECT_EQ(ProposeJobName("Talk.webm", true, &mp3), "Talk.mp3");
    EXPECT_EQ(ProposeJobName("home.avi", false, nullptr), "home.avi");
    TEncoderProfile copy;
    copy.Ext = "-";
    EXPECT_EQ(ProposeJobName("Talk.webm", true, &copy), "Talk.webm");
    EXPECT_EQ(SiteOfAddress("https://www.youtube.com/watch?v=abc"), vsYouTube);
    EXPECT_EQ(SiteOfAddress("just words"), vsNone);
    EXPECT_EQ(LookUpAddress("http://127.0.0.1:1/page"), "http://127.0.0.1:1/page");
}
