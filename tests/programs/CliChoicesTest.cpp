// SPDX-License-Identifier: GPL-3.0-or-later
// brimtale-cli with what the user asks of the page engine: the formats of any
// page and one of them by its id, audio only, and a speed limit, with the real
// yt-dlp against pages on 127.0.0.1.

#include "support/MediaFixtures.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

std::vector<std::vector<std::string>> Rows(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        rows.push_back(fields);
    }
    return rows;
}

class CliChoices : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        media_ = std::make_unique<TempDir>();
        // DASH with two video heights and one audio stream.
        const std::string clip = fixtures::MakeClip(media_->File("clip.mp4"), 2, "320x240");
        ASSERT_FALSE(clip.empty());
        const std::string dash = media_->File("dash");
        std::filesystem::create_directories(dash);
        const TProgramRun made = RunProgram(
            "/usr/bin/ffmpeg",
            {"-v", "error", "-y", "-i", clip, "-map", "0:v", "-map", "0:v", "-map", "0:a", "-c:v", "libx264", "-preset",
             "ultrafast", "-g", "25", "-s:v:0", "320x240", "-s:v:1", "160x120", "-c:a", "copy", "-f", "dash",
             "-seg_duration", "1", "-adaptation_sets", "id=0,streams=v id=1,streams=a", dash + "/manifest.mpd"});
        ASSERT_EQ(made.Status, 0) << made.Err;
    }
    static void TearDownTestSuite() { media_.reset(); }

    void SetUp() override
    {
        namespace fs = std::filesystem;
        exe = dir.File("brimtale-cli");
        fs::copy_file(BRIMTALE_CLI, exe);
        fs::copy_file(std::string(BRIMTALE_SOURCE_DIR) + "/data/bmt_encoder_profiles.ini",
                      dir.File("bmt_encoder_profiles.ini"));
        dir.Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n");
        fs::create_directory(out);
        fixtures::ServeFiles(server, "/dash/", media_->File("dash"));
    }

    static inline std::unique_ptr<TempDir> media_;
    TempDir dir;
    std::string exe;
    std::string out = dir.File("videos");
    testhttp::TestHttpServer server{std::chrono::seconds(120)};
};

} // namespace

TEST_F(CliChoices, FormatsOfAnyPageAndOneOfThemById)
{
    const TProgramRun list = RunProgram(exe, {"--list-formats", server.Url("/dash/manifest.mpd")});
    ASSERT_EQ(list.Status, 0) << list.Err;
    const auto rows = Rows(list.Out);
    ASSERT_EQ(rows.size(), 3u) << list.Out;
    std::string small;
    std::vector<std::string> resolutions;
    for (const auto& row : rows) {
        // id, container, resolution, frame rate, codecs, size
        ASSERT_EQ(row.size(), 6u) << list.Out;
        EXPECT_FALSE(row[0].empty());
        resolutions.push_back(row[2]);
        if (row[2] == "160x120") {
            small = row[0];
            EXPECT_EQ(row[4].rfind("avc1", 0), 0u) << row[4];
        }
    }
    std::sort(resolutions.begin(), resolutions.end());
    EXPECT_EQ(resolutions, (std::vector<std::string>{"160x120", "320x240", "audio only"}));
    ASSERT_FALSE(small.empty());

    // That video alone, by its id.
    const TProgramRun run = RunProgram(exe, {"-q", "-d", out, "-o", "small", "-f", small, server.Url("/dash/manifest.mpd")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string file = run.Out.substr(0, run.Out.size() - 1);
    EXPECT_EQ(fixtures::StreamTypes(file), std::vector<std::string>{"video"});
    const TProgramRun size = RunProgram("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                             "stream=height", "-of", "csv=p=0", file});
    EXPECT_EQ(size.Out, "120\n");

    // Best up to 480p takes the larger video with the audio.
    const TProgramRun best = RunProgram(exe, {"-q", "-d", out, "-o", "best", "-f", "480p", server.Url("/dash/manifest.mpd")});
    ASSERT_EQ(best.Status, 0) << best.Err;
    EXPECT_EQ(fixtures::StreamTypes(best.Out.substr(0, best.Out.size() - 1)), (std::vector<std::string>{"video", "audio"}));

    // Bad values are bad usage, said before anything is fetched.
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"-f", "bv*[height<=9]", "x"}, {"--subs", "en;x", "x"}, {"--embed-subs", "x"},
             {"--cookies-from", "netscape", "x"}, {"--cookies", dir.File("none.txt"), "x"},
             {"--limit-rate", "fast", "x"}}) {
        const TProgramRun r = RunProgram(exe, bad);
        EXPECT_EQ(r.Status, 2) << bad[0] << ": " << r.Err;
        EXPECT_NE(r.Err.find("brimtale-cli: "), std::string::npos);
    }
}

TEST_F(CliChoices, AudioOnlyIsConvertedByAProfileAsUsual)
{
    const TProgramRun run = RunProgram(exe, {"-q", "-d", out, "-o", "talk", "-f", "audio", "-p", "MP3",
                                             server.Url("/dash/manifest.mpd")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string file = run.Out.substr(0, run.Out.size() - 1);
    EXPECT_EQ(file.substr(file.size() - 4), ".mp3") << file;
    EXPECT_EQ(fixtures::StreamTypes(file), std::vector<std::string>{"audio"});
    // No video segment was asked for (ffmpeg's DASH numbers the streams: the two
    // videos are 0 and 1, the audio 2).
    bool audio = false;
    for (const testhttp::Request& r : server.Requests()) {
        EXPECT_EQ(r.target.find("stream0"), std::string::npos) << r.target;
        EXPECT_EQ(r.target.find("stream1"), std::string::npos) << r.target;
        audio = audio || r.target.find("stream2") != std::string::npos;
    }
    EXPECT_TRUE(audio);
}

TEST_F(CliChoices, ASpeedLimitHoldsForTheProgramsOwnClientAndTheEngine)
{
    testhttp::Response media;
    media.generatedSize = 2 * 1024 * 1024;
    media.headers = {{"Content-Type", "video/mp4"}};
    server.Handle("/big.mp4", [media](const testhttp::Request&) { return media; });
    server.Serve("/page", "<html><head><title>Slow</title></head><body><video src=\"/big.mp4\"></video></body></html>");
    for (const char* path : {"/big.mp4", "/page"}) {
        const TProgramRun run = RunProgram(exe, {"--limit-rate", "200K", "--no-metadata", "-d", out, server.Url(path)});
        ASSERT_EQ(run.Status, 0) << path << ": " << run.Err;
        EXPECT_GE(run.Took, std::chrono::seconds(8)) << path;
        EXPECT_EQ(std::filesystem::file_size(run.Out.substr(0, run.Out.size() - 1)), 2u * 1024 * 1024) << path;
        // The first progress lines show a dash until the speed is known.
        EXPECT_NE(run.Err.find("\u2014 - \u2014 left"), std::string::npos) << run.Err;
    }
}

TEST_F(CliChoices, AnEnginesVersionIsAskedOncePerFile)
{
    // An engine beside the program that notes every run.
    const std::string calls = dir.File("calls.log");
    WriteScript(dir.File("yt-dlp"), "echo \"$1\" >> '" + calls + "'\necho 2099.01.01\n");
    for (int run = 0; run < 2; ++run) {
        const TProgramRun status = RunProgram(exe, {"--engine-status"});
        ASSERT_EQ(status.Status, 0) << status.Err;
        EXPECT_NE(status.Out.find("2099.01.01"), std::string::npos) << status.Out;
    }
    EXPECT_EQ(TempDir::Read(calls), "--version\n");  // the second run knew it
    EXPECT_NE(TempDir::Read(dir.File("engine-versions.txt")).find("\t2099.01.01\t" + dir.File("yt-dlp")),
              std::string::npos);
}

TEST_F(CliChoices, TheEngineStartsOncePerPageAndTheMetadataSettingStillCounts)
{
    // The real engine behind a stand-in that notes every start.
    const std::string calls = dir.File("calls.txt");
    WriteScript(dir.File("yt-dlp"), "for a in \"$@\"; do\n"
                                    "  if [ \"$a\" = --version ]; then echo 2024.01.01; exit 0; fi\n"
                                    "done\n"
                                    "echo start >> '" + calls + "'\n"
                                    "exec /usr/bin/yt-dlp \"$@\"\n");
    const std::string url = server.Url("/dash/manifest.mpd");
    const auto starts = [&] {
        const std::string text = std::filesystem::exists(calls) ? TempDir::Read(calls) : std::string();
        std::filesystem::remove(calls);
        return std::count(text.begin(), text.end(), '\n');
    };
    const TProgramRun first = RunProgram(exe, {"-d", out, url});
    ASSERT_EQ(first.Status, 0) << first.Err;
    EXPECT_EQ(first.Out, out + "/manifest.mp4\n");
    EXPECT_EQ(starts(), 1);
    EXPECT_EQ(fixtures::StreamTypes(out + "/manifest.mp4"), (std::vector<std::string>{"video", "audio"}));

    // A second download of the page gets a name of its own; with --no-metadata
    // and audio only the engine still starts once.
    const TProgramRun audio = RunProgram(exe, {"--no-metadata", "-f", "audio", "-d", out, url});
    ASSERT_EQ(audio.Status, 0) << audio.Err;
    EXPECT_EQ(starts(), 1);
    ASSERT_EQ(audio.Out.rfind(out + "/manifest", 0), 0u) << audio.Out;
    EXPECT_NE(audio.Out, first.Out);
    EXPECT_EQ(fixtures::StreamTypes(audio.Out.substr(0, audio.Out.size() - 1)), std::vector<std::string>{"audio"});
    EXPECT_EQ(fixtures::FolderEntries(out).size(), 2u);  // no folder of the engine's is left

    // A page without media: the look-up's message, as ever.
    server.Serve("/empty", "<html><head><title>Nothing</title></head><body>text</body></html>");
    const TProgramRun none = RunProgram(exe, {"-d", out, server.Url("/empty")});
    EXPECT_EQ(none.Status, 1);
    EXPECT_NE(none.Err.find("No video or music found on this page"), std::string::npos) << none.Err;
    EXPECT_EQ(fixtures::FolderEntries(out).size(), 2u);
}

// An engine that refuses its command line, or fails without a word: the
// message names what failed and the engine's own reason (or its exit code),
// whichever road the run took.
TEST_F(CliChoices, AnEngineFailureNamesTheEnginesReason)
{
    server.Serve("/page", "<html><head><title>A page</title></head><body>text</body></html>");
    WriteScript(dir.File("yt-dlp"), "for a in \"$@\"; do\n"
                                    "  if [ \"$a\" = --version ]; then echo 2024.01.01; exit 0; fi\n"
                                    "done\n"
                                    "echo 'Usage: yt-dlp [OPTIONS] URL [URL...]' >&2\n"
                                    "echo '' >&2\n"
                                    "echo 'yt-dlp: error: no such option: --progress-template' >&2\n"
                                    "exit 2\n");
    const TProgramRun refused = RunProgram(exe, {"-d", out, server.Url("/page")});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("The page engine failed: no such option: --progress-template"), std::string::npos)
        << refused.Err;

    WriteScript(dir.File("yt-dlp"), "for a in \"$@\"; do\n"
                                    "  if [ \"$a\" = --version ]; then echo 2024.01.01; exit 0; fi\n"
                                    "done\n"
                                    "exit 3\n");
    const TProgramRun silent = RunProgram(exe, {"-d", out, server.Url("/page")});
    EXPECT_EQ(silent.Status, 1);
    EXPECT_NE(silent.Err.find("The page engine failed: exit code 3"), std::string::npos) << silent.Err;
    EXPECT_TRUE(fixtures::FolderEntries(out).empty());
}
