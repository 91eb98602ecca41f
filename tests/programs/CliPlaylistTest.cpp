// SPDX-License-Identifier: GPL-3.0-or-later
// brimtale-cli --playlist with the real page engine on 127.0.0.1 (no title or
// chapters written into the files, so they compare byte for byte): every video
// of a page that lists several, in order, one line per file; equal titles; a
// list built to mislead.

#include "support/MediaFixtures.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <filesystem>

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

class CliPlaylist : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (fs::exists("/usr/bin/yt-dlp") == false)
            GTEST_SKIP() << "yt-dlp is needed (scripts/setup.sh installs it)";
        exe = dir.File("brimtale-cli");
        fs::copy_file(BRIMTALE_CLI, exe);
        dir.Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n");
        fs::create_directory(out);
        // Three different clips, so a file given the wrong entry's bytes shows.
        for (const char* name : {"a", "b", "c"}) {
            const std::string clip = fixtures::MakeClip(dir.File(std::string(name) + ".mp4"), 1 + (name[0] - 'a'));
            ASSERT_FALSE(clip.empty());
            clips.push_back(TempDir::Read(clip));
            server.Serve(std::string("/") + name + ".mp4", clips.back(), "video/mp4");
        }
        server.Serve("/list", "<html><head><title>My list</title></head><body>"
                              "<video src=\"/a.mp4\"></video><p>text</p><video src=\"/b.mp4\"></video>"
                              "<video src=\"/c.mp4\"></video></body></html>");
    }

    TempDir dir;
    std::string exe;
    std::string out = dir.File("videos");
    std::vector<std::string> clips;
    testhttp::TestHttpServer server{std::chrono::seconds(170)};
};

} // namespace

TEST_F(CliPlaylist, EveryVideoOfAPageInOrderInAFolderNamedAfterIt)
{
    const TProgramRun run = RunProgram(exe, {"--no-metadata", "--playlist", "-d", out, server.Url("/list")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 3u) << run.Out;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fs::path(lines[i]).parent_path(), fs::path(out + "/My list")) << lines[i];
        EXPECT_EQ(TempDir::Read(lines[i]), clips[i]) << lines[i];
    }
    EXPECT_NE(run.Err.find("This page lists 3 videos"), std::string::npos) << run.Err;
    // Nothing of the engine's work is left beside them.
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(out + "/My list")) {
        EXPECT_EQ(entry.path().filename().string().front() != '.', true) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 3u);

    // Without --playlist: the first video only, as before.
    const TProgramRun one = RunProgram(exe, {"--no-metadata", "-q", "-d", out, server.Url("/list")});
    ASSERT_EQ(one.Status, 0) << one.Err;
    ASSERT_EQ(Lines(one.Out).size(), 1u);
    EXPECT_EQ(TempDir::Read(Lines(one.Out)[0]), clips[0]);

    // With the setting off, the files go into the directory itself; the names
    // taken by the first run stay untouched.
    dir.Write("bmt.ini", "[Main]\r\nLanguage=PL\r\nListInFolder=0\r\n");
    const TProgramRun flat = RunProgram(exe, {"--no-metadata", "--playlist", "-d", out + "/My list", server.Url("/list")});
    ASSERT_EQ(flat.Status, 0) << flat.Err;
    ASSERT_EQ(Lines(flat.Out).size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NE(Lines(flat.Out)[i], lines[i]);
        EXPECT_EQ(fs::path(Lines(flat.Out)[i]).parent_path(), fs::path(out + "/My list"));
        EXPECT_EQ(TempDir::Read(Lines(flat.Out)[i]), clips[i]);
        EXPECT_EQ(TempDir::Read(lines[i]), clips[i]);
    }
    EXPECT_NE(flat.Err.find("Ta strona zawiera listę 3 filmów"), std::string::npos) << flat.Err;

    // -o names one file: not the files of a list.
    EXPECT_EQ(RunProgram(exe, {"--no-metadata", "--playlist", "-o", "x", server.Url("/list")}).Status, 2);
}

TEST_F(CliPlaylist, EqualTitlesAndAMisleadingListFromTheEngine)
{
    // An engine beside the program answers the list itself (with equal titles,
    // addresses that must not be used, and thousands of entries without one) and
    // leaves the downloads to the real engine.
    std::string entries;
    for (const char* name : {"a", "b", "c"})
        entries += R"J({"_type": "url", "url": ")J" + server.Url(std::string("/") + name + ".mp4") +
                   R"J(", "title": "Same/../$(touch pwned)"},)J";
    entries += R"J({"_type": "url", "url": "file:///etc/passwd", "title": "Same"},
                   {"_type": "url", "url": "--exec=touch pwned", "title": "Same"},
                   {"_type": "url", "url": ["http://127.0.0.1:9/x"]}, 7, null)J";
    for (int i = 0; i < 20000; ++i)
        entries += R"J(, {"_type": "url", "title": "no address"})J";
    dir.Write("list.json", R"J({"_type": "playlist", "title": "../Odd\nlist", "entries": [)J" + entries + "]}");
    WriteScript(dir.File("yt-dlp"), "for a in \"$@\"; do\n"
                                    "  if [ \"$a\" = --version ]; then echo 2024.01.01; exit 0; fi\n"
                                    "  if [ \"$a\" = --flat-playlist ]; then cat '" + dir.File("list.json") + "'; exit 0; fi\n"
                                    "done\n"
                                    "exec /usr/bin/yt-dlp \"$@\"\n");
    const TProgramRun run = RunProgram(exe, {"--no-metadata", "--playlist", "-d", out, "http://127.0.0.1:9/any"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 3u) << run.Out;
    for (std::size_t i = 0; i < 3; ++i) {
        const fs::path file(lines[i]);
        EXPECT_EQ(file.parent_path().parent_path(), fs::path(out)) << lines[i];
        EXPECT_EQ(TempDir::Read(lines[i]), clips[i]) << lines[i];
    }
    // Three names of one title: three files.
    EXPECT_NE(lines[0], lines[1]);
    EXPECT_NE(lines[1], lines[2]);
    EXPECT_NE(run.Err.find("left out"), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(dir.File("pwned")));
    EXPECT_FALSE(fs::exists(out + "/pwned"));
}
