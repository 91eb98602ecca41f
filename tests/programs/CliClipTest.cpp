// SPDX-License-Identifier: GPL-3.0-or-later
// brimtale-cli --section, --split-chapters and --sponsor: the real page engine
// on 127.0.0.1 for a part of a served clip and a clip with chapters, the real
// encoder for a part of a media file, and a stand-in engine for the sponsor
// segment service (which is on the internet and never reached here).

#include "system/ConRun.h"
#include "support/MediaFixtures.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

double Duration(const std::string& file)
{
    std::vector<std::string> lines;
    RunConsoleApp("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", file}, &lines, {});
    return lines.empty() ? -1 : std::atof(lines.front().c_str());
}

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

class CliClip : public ::testing::Test {
protected:
    void SetUp() override
    {
        exe = dir.File("brimtale-cli");
        fs::copy_file(BRIMTALE_CLI, exe);
        dir.Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n");
        fs::create_directory(out);
    }

    // An eight-second clip behind a page that names three chapters.
    void ServeChapteredPage()
    {
        const std::string clip = fixtures::MakeClip(dir.File("clip.mp4"), 8);
        ASSERT_FALSE(clip.empty());
        server.Serve("/clip.mp4", TempDir::Read(clip), "video/mp4");
        server.Serve("/page",
                     "<html><head><title>Page</title><script type=\"application/ld+json\">"
                     "{\"@context\": \"https://schema.org\", \"@type\": \"VideoObject\", \"name\": \"Talk\", "
                     "\"contentUrl\": \"" + server.Url("/clip.mp4") + "\", \"duration\": \"PT8S\", \"hasPart\": ["
                     "{\"@type\": \"Clip\", \"name\": \"Opening\", \"startOffset\": 0, \"endOffset\": 3},"
                     "{\"@type\": \"Clip\", \"name\": \"Middle/$(touch pwned)\", \"startOffset\": 3, \"endOffset\": 6},"
                     "{\"@type\": \"Clip\", \"name\": \"End\", \"startOffset\": 6, \"endOffset\": 8}]}"
                     "</script></head><body>text</body></html>");
    }

    bool HaveEngine() const { return fs::exists("/usr/bin/yt-dlp"); }

    TProgramRun Cli(const std::vector<std::string>& args)
    {
        std::vector<std::string> all{"-d", out};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(exe, all);
    }

    TempDir dir;
    std::string exe;
    std::string out = dir.File("videos");
    testhttp::TestHttpServer server{std::chrono::seconds(170)};
};

} // namespace

TEST_F(CliClip, APartOfAServedClipHasTheDurationAskedAndItsTimesInTheName)
{
    if (!HaveEngine())
        GTEST_SKIP() << "yt-dlp is needed (scripts/setup.sh installs it)";
    ServeChapteredPage();
    // Two parts: two files, each of its own length.
    const TProgramRun run = Cli({"--no-metadata", "--section", "1:30-2:45", "--section", "2-5", "--section", "0:05-0:07.5",
                                 server.Url("/page")});
    // The first lies beyond the video: said, and the others still come.
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_NE(run.Err.find("starts after the video's end (8s)"), std::string::npos) << run.Err;
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 2u) << run.Out << run.Err;
    EXPECT_EQ(lines[0], out + "/Talk [2s-5s].mp4");
    EXPECT_NEAR(Duration(lines[0]), 3.0, 0.5);
    EXPECT_EQ(lines[1], out + "/Talk [5s-7s500ms].mp4");
    EXPECT_NEAR(Duration(lines[1]), 2.5, 0.5);

    // An end beyond the video ends with it (and so does the name).
    const TProgramRun longer = Cli({"--no-metadata", "-q", "--section", "6-20", server.Url("/page")});
    ASSERT_EQ(longer.Status, 0) << longer.Err;
    EXPECT_EQ(longer.Out, out + "/Talk [6s-8s].mp4\n");
    EXPECT_NEAR(Duration(out + "/Talk [6s-8s].mp4"), 2.0, 0.5);

    // Bad input is bad usage, before anything is fetched.
    for (const char* bad : {"5-2", "1:30", "x-2", "3-3"}) {
        const TProgramRun refused = Cli({"--section", bad, server.Url("/page")});
        EXPECT_EQ(refused.Status, 2) << bad;
        EXPECT_NE(refused.Err.find("--section"), std::string::npos) << refused.Err;
    }
}

TEST_F(CliClip, AClipWithChaptersGivesOneFilePerChapter)
{
    if (!HaveEngine())
        GTEST_SKIP() << "yt-dlp is needed (scripts/setup.sh installs it)";
    ServeChapteredPage();
    const TProgramRun run = Cli({"--split-chapters", server.Url("/page")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 4u) << run.Out;
    EXPECT_EQ(lines[0], out + "/Talk.mp4");
    EXPECT_EQ(fixtures::FolderEntries(out + "/Talk").size(), 3u);
    EXPECT_EQ(lines[1], out + "/Talk/01 - Opening.mp4");
    EXPECT_TRUE(lines[2].starts_with(out + "/Talk/02 - Middle")) << lines[2];
    EXPECT_EQ(lines[3], out + "/Talk/03 - End.mp4");
    const double expected[] = {3, 3, 2};
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(Duration(lines[i + 1]), expected[i], 0.6) << lines[i + 1];
    EXPECT_NE(run.Err.find("Chapters (3) in the folder"), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(dir.File("pwned")));
    EXPECT_FALSE(fs::exists(out + "/pwned"));
    // Nothing of the engine's work is left.
    EXPECT_EQ(fixtures::FolderEntries(out), (std::vector<std::string>{"Talk", "Talk.mp4"}));

    // A video without chapters: one file, and that is said.
    server.Serve("/plain", "<html><head><title>Plain</title></head><body><video src=\"/clip.mp4\"></video></body></html>");
    const TProgramRun plain = Cli({"--split-chapters", "--no-metadata", server.Url("/plain")});
    ASSERT_EQ(plain.Status, 0) << plain.Err;
    EXPECT_EQ(Lines(plain.Out).size(), 1u) << plain.Out;
    EXPECT_NE(plain.Err.find("no chapters"), std::string::npos) << plain.Err;
}

TEST_F(CliClip, APartOfAMediaFileIsCutByTheEncoder)
{
    const std::string clip = fixtures::MakeClip(dir.File("film.mp4"), 5);
    ASSERT_FALSE(clip.empty());
    server.Serve("/film.mp4", TempDir::Read(clip), "video/mp4");
    const TProgramRun run = Cli({"--section", "1-3", server.Url("/film.mp4")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, out + "/film [1s-3s].mp4\n");
    EXPECT_NEAR(Duration(out + "/film [1s-3s].mp4"), 2.0, 0.5);
    // Beyond its end: said, and the whole download stays.
    const TProgramRun beyond = Cli({"--section", "10-20", server.Url("/film.mp4")});
    EXPECT_EQ(beyond.Status, 1);
    EXPECT_NE(beyond.Err.find("starts after the video's end"), std::string::npos) << beyond.Err;
    EXPECT_NEAR(Duration(out + "/film [10s-20s].mp4"), 5.0, 0.5);
}

TEST_F(CliClip, SponsorSegmentsAreAskedOfTheEngineAndItsServiceFailingIsSaidPlainly)
{
    // A stand-in engine beside the program: it writes down what it is asked,
    // and the segment service it would ask fails.
    const std::string record = dir.File("asked.txt");
    WriteScript(dir.File("yt-dlp"),
                "for a in \"$@\"; do\n"
                "  if [ \"$a\" = --version ]; then echo 2099.01.01; exit 0; fi\n"
                "  if [ \"$a\" = -J ]; then printf '%s' '{\"title\": \"Talk\", \"url\": \"http://127.0.0.1:9/c.mp4\", "
                "\"ext\": \"mp4\", \"duration\": 8}'; exit 0; fi\n"
                "done\n"
                "printf '%s\\n' \"$@\" >> '" + record + "'\necho RUN >> '" + record + "'\n"
                "for a in \"$@\"; do\n"
                "  case \"$a\" in --sponsorblock-*) if [ -e '" + dir.File("fail") + "' ]; then\n"
                "    echo 'ERROR: Preprocessing: Unable to communicate with SponsorBlock API: <urlopen error timed out>'\n"
                "    exit 1; fi;; esac\n"
                "done\n"
                "printf 'media' > media.mp4\necho '[brimtale] finished 5 5 NA 0'\nexit 0\n");
    const TProgramRun run = Cli({"--sponsor", "remove", "--sponsor-categories", "intro,sponsor,self-promotion",
                                 "-o", "Talk", "http://127.0.0.1:9/page"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, out + "/Talk.mp4\n");
    std::string asked = TempDir::Read(record);
    EXPECT_NE(asked.find("--sponsorblock-remove\nsponsor,selfpromo,intro\n"), std::string::npos) << asked;
    EXPECT_EQ(asked.find("--sponsorblock-mark"), std::string::npos);

    // Marking instead; the default category.
    fs::remove(record);
    const TProgramRun mark = Cli({"--sponsor", "MARK", "-o", "Marked", "http://127.0.0.1:9/page"});
    ASSERT_EQ(mark.Status, 0) << mark.Err;
    asked = TempDir::Read(record);
    EXPECT_NE(asked.find("--sponsorblock-mark\nsponsor\n"), std::string::npos) << asked;

    // The service fails: said once, plainly, and the video still comes (whole).
    fs::remove(record);
    dir.Write("fail", "");
    const TProgramRun failed = Cli({"--sponsor", "remove", "-o", "Whole", "http://127.0.0.1:9/page"});
    ASSERT_EQ(failed.Status, 0) << failed.Err;
    EXPECT_EQ(failed.Out, out + "/Whole.mp4\n");
    EXPECT_EQ(TempDir::Read(out + "/Whole.mp4"), "media");
    const std::string said = "sponsor segment service could not be reached";
    const std::size_t at = failed.Err.find(said);
    EXPECT_NE(at, std::string::npos) << failed.Err;
    EXPECT_EQ(failed.Err.find(said, at + 1), std::string::npos) << failed.Err;
    asked = TempDir::Read(record);
    // Two runs: with the service, then without.
    ASSERT_EQ(Lines(asked).size() > 2, true);
    const std::size_t second = asked.find("RUN\n");
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(asked.substr(0, second).find("--sponsorblock-remove"), std::string::npos);
    EXPECT_EQ(asked.substr(second).find("--sponsorblock"), std::string::npos) << asked;

    // Bad values are bad usage.
    EXPECT_EQ(Cli({"--sponsor", "all", "http://127.0.0.1:9/page"}).Status, 2);
    EXPECT_EQ(Cli({"--sponsor", "remove", "--sponsor-categories", "preview", "http://127.0.0.1:9/page"}).Status, 2);
    EXPECT_EQ(Cli({"--sponsor-categories", "intro", "http://127.0.0.1:9/page"}).Status, 2);
}
