// SPDX-License-Identifier: GPL-3.0-or-later
// brimtale-cli --follow, --following, --check and --unfollow with the real page
// engine on 127.0.0.1: a list that grows between two checks gives only its new
// entry; a page that fails or turns into a single video does not stop the
// others; a damaged list of what was taken is set aside and said once; two
// checks never run at once.

#include "system/PrivateFolders.h"
#include "support/MediaFixtures.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

std::string ListPage(const std::string& title, const std::vector<std::string>& names)
{
    std::string page = "<html><head><title>" + title + "</title></head><body>";
    for (const std::string& name : names)
        page += "<video src=\"/" + name + ".mp4\"></video>";
    return page + "</body></html>";
}

class CliFollow : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists("/usr/bin/yt-dlp"))
            GTEST_SKIP() << "yt-dlp is needed (scripts/setup.sh installs it)";
        exe = dir.File("brimtale-cli");
        fs::copy_file(BRIMTALE_CLI, exe);
        dir.Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n");
        fs::create_directory(out);
        for (const char* name : {"a", "b", "c", "d"}) {
            const std::string clip = fixtures::MakeClip(dir.File(std::string(name) + ".mp4"), 1 + (name[0] - 'a') % 2);
            ASSERT_FALSE(clip.empty());
            clips[name] = TempDir::Read(clip);
            server.Serve(std::string("/") + name + ".mp4", clips[name], "video/mp4");
        }
    }

    TProgramRun Cli(const std::vector<std::string>& args) { return RunProgram(exe, args); }

    // The files in the list's folder.
    std::vector<std::string> Taken(const std::string& list) { return fixtures::FolderEntries(out + "/" + list); }

    TempDir dir;
    std::string exe;
    std::string out = dir.File("videos");
    std::map<std::string, std::string> clips;
    testhttp::TestHttpServer server{std::chrono::seconds(170)};
};

} // namespace

TEST_F(CliFollow, AListThatGrowsBetweenTwoChecksGivesOnlyItsNewEntry)
{
    server.Serve("/list", ListPage("Channel", {"a", "b"}));
    const TProgramRun follow = Cli({"--follow", server.Url("/list"), "-d", out});
    ASSERT_EQ(follow.Status, 0) << follow.Err;
    EXPECT_NE(follow.Err.find("2 videos listed, 0 to take"), std::string::npos) << follow.Err;
    // Following it twice is said.
    EXPECT_EQ(Cli({"--follow", server.Url("/list")}).Status, 1);

    TProgramRun listed = Cli({"--following"});
    ASSERT_EQ(listed.Status, 0);
    EXPECT_EQ(listed.Out, server.Url("/list") + "\t" + out + "\tnever\t0\n");

    // Nothing new: nothing downloaded.
    TProgramRun check = Cli({"--check", "--no-metadata"});
    ASSERT_EQ(check.Status, 0) << check.Err;
    EXPECT_EQ(check.Out, "");
    EXPECT_FALSE(fs::exists(out + "/Channel"));

    // A new entry (listed first, as a channel lists its newest): that one only.
    server.Serve("/list", ListPage("Channel", {"c", "a", "b"}));
    check = Cli({"--check", "--no-metadata"});
    ASSERT_EQ(check.Status, 0) << check.Err;
    ASSERT_EQ(Lines(check.Out).size(), 1u) << check.Out;
    EXPECT_EQ(fs::path(Lines(check.Out)[0]).parent_path(), fs::path(out + "/Channel"));
    EXPECT_EQ(TempDir::Read(Lines(check.Out)[0]), clips["c"]);
    EXPECT_NE(check.Err.find("New videos: 1"), std::string::npos) << check.Err;

    // Checked again: nothing twice.
    check = Cli({"--check", "--no-metadata"});
    ASSERT_EQ(check.Status, 0) << check.Err;
    EXPECT_EQ(check.Out, "");
    EXPECT_EQ(Taken("Channel").size(), 1u);
    listed = Cli({"--following"});
    const std::vector<std::string> fields = [&] {
        std::vector<std::string> f;
        std::string line = Lines(listed.Out).at(0);
        for (std::size_t tab; (tab = line.find('\t')) != std::string::npos; line = line.substr(tab + 1))
            f.push_back(line.substr(0, tab));
        f.push_back(line);
        return f;
    }();
    ASSERT_EQ(fields.size(), 4u) << listed.Out;
    EXPECT_NE(fields[2], "never");
    EXPECT_EQ(fields[3], "1");

    // Unfollowed: checks leave it alone.
    ASSERT_EQ(Cli({"--unfollow", server.Url("/list")}).Status, 0);
    EXPECT_EQ(Cli({"--unfollow", server.Url("/list")}).Status, 1);
    EXPECT_EQ(Cli({"--following"}).Out, "");
    server.Serve("/list", ListPage("Channel", {"d", "c", "a", "b"}));
    ASSERT_EQ(Cli({"--check"}).Status, 0);
    EXPECT_EQ(Taken("Channel").size(), 1u);
}

TEST_F(CliFollow, LatestFailingPagesASingleVideoADamagedListAndTwoChecksAtOnce)
{
    server.Serve("/one", ListPage("One", {"a", "b", "c"}));
    server.Serve("/two", ListPage("Two", {"a", "b"}));
    server.Serve("/gone", ListPage("Gone", {"a", "b"}));
    // The first listed now is taken at the first check.
    ASSERT_EQ(Cli({"--follow", server.Url("/one"), "--latest", "1", "-d", out}).Status, 0);
    ASSERT_EQ(Cli({"--follow", server.Url("/gone"), "-d", out}).Status, 0);
    ASSERT_EQ(Cli({"--follow", server.Url("/two"), "-d", out}).Status, 0);
    // A page that lists no videos is not followed.
    server.Serve("/single", ListPage("Single", {"a"}));
    const TProgramRun single = Cli({"--follow", server.Url("/single")});
    EXPECT_EQ(single.Status, 1);
    EXPECT_NE(single.Err.find("lists no videos"), std::string::npos) << single.Err;
    EXPECT_EQ(Cli({"--latest", "1", "--check"}).Status, 2);
    EXPECT_EQ(Cli({"--check", server.Url("/one")}).Status, 2);

    // One page fails, another turns into a single video: the rest are
    // checked, and the status says it.
    server.Handle("/gone", [](const testhttp::Request&) {
        testhttp::Response r;
        r.status = 404;
        r.body = "gone";
        return r;
    });
    server.Serve("/two", ListPage("Two", {"b"}));
    TProgramRun check = Cli({"--check", "--no-metadata"});
    EXPECT_EQ(check.Status, 1) << check.Err;
    EXPECT_NE(check.Err.find("lists no videos"), std::string::npos) << check.Err;
    std::vector<std::string> files = Lines(check.Out);
    ASSERT_EQ(files.size(), 1u) << check.Out << check.Err;
    EXPECT_EQ(TempDir::Read(files[0]), clips["a"]);
    EXPECT_EQ(fs::path(files[0]).parent_path(), fs::path(out + "/One"));

    // Back, /gone with a new entry: that one, once.
    server.Serve("/gone", ListPage("Gone", {"a", "b", "d"}));
    server.Serve("/two", ListPage("Two", {"a", "b"}));
    check = Cli({"--check", "--no-metadata"});
    EXPECT_EQ(check.Status, 0) << check.Err;
    files = Lines(check.Out);
    ASSERT_EQ(files.size(), 1u) << check.Out << check.Err;
    EXPECT_EQ(TempDir::Read(files[0]), clips["d"]);
    EXPECT_EQ(fs::path(files[0]).parent_path(), fs::path(out + "/Gone"));

    // The list of what /one's checks took, damaged on disk.
    const fs::path following = dir.File("following");
    std::string oneList;
    for (const auto& entry : fs::directory_iterator(following))
        if (entry.path().extension() == ".seen" && TempDir::Read(entry.path()).find("/c.mp4") != std::string::npos)
            oneList = entry.path();
    ASSERT_FALSE(oneList.empty());
    std::string junk = "brimtale-seen 1\n";
    junk += std::string("\0\x01garbage", 9);
    junk += "\n";
    // Now the damaged list: set aside, said once, and nothing is downloaded
    // again (what is listed counts as taken).
    {
        std::ofstream(oneList, std::ios::binary | std::ios::trunc) << junk;
    }
    check = Cli({"--check", "--no-metadata"});
    EXPECT_EQ(check.Status, 0) << check.Err;
    EXPECT_EQ(check.Out, "");
    const std::string said = "was damaged; it is kept as ";
    const std::size_t at = check.Err.find(said);
    ASSERT_NE(at, std::string::npos) << check.Err;
    EXPECT_EQ(check.Err.find(said, at + 1), std::string::npos);
    EXPECT_TRUE(fs::exists(oneList + ".corrupt"));
    EXPECT_EQ(TempDir::Read(oneList + ".corrupt"), junk);
    check = Cli({"--check", "--no-metadata"});
    EXPECT_EQ(check.Status, 0) << check.Err;
    EXPECT_EQ(check.Err.find(said), std::string::npos) << check.Err;
    EXPECT_EQ(check.Out, "");

    // A check already running: the second says so and ends at once.
    const TFolderHold running(following.string(), ".check");
    ASSERT_EQ(running.Result(), TFolderHold::TResult::Held);
    const TProgramRun second = Cli({"--check"});
    EXPECT_EQ(second.Status, 1);
    EXPECT_NE(second.Err.find("another check of the followed pages is running"), std::string::npos) << second.Err;
    EXPECT_LT(second.Took, std::chrono::seconds(10));
}
