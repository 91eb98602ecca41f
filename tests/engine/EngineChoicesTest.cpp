// SPDX-License-Identifier: GPL-3.0-or-later
// The real yt-dlp on 127.0.0.1 with what the user asks of it: the page read
// once, audio only, subtitles, the title in the file, a browser's cookies.
#include "app/ProgramValues.h"
#include "system/ConRun.h"
#include "engine/EngineDownload.h"
#include "plan/GetRequest.h"
#include "net/ZQ_Internet.h"
#include "engine/EngineOptions.h"
#include "engine/PageEngine.h"
#include "support/MediaFixtures.h"
#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <thread>

namespace {
// What ffprobe says of a file: one entry, e.g. "format_tags=title".
std::string Probe(const std::string& file, const std::string& entries)
{
    std::vector<std::string> lines;
    try {
        RunConsoleApp("ffprobe", {"-v", "error", "-show_entries", entries, "-of", "default=nw=1:nk=1", file}, &lines, {});
    } catch (const EConsoleError&) {
        return {};
    }
    std::string text;
    for (const std::string& line : lines)
        text += line;
    return text;
}

std::size_t RequestsTo(const testhttp::TestHttpServer& server, const std::string& part)
{
    const std::vector<testhttp::Request> requests = server.Requests();
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [&](const testhttp::Request& r) {
        return r.target.find(part) != std::string::npos;
    }));
}

// The page engine's reads of a page (the program's own client asks first
// whether the address is a media file; it names itself otherwise).
std::size_t EngineReadsOf(const testhttp::TestHttpServer& server, const std::string& path)
{
    const std::vector<testhttp::Request> requests = server.Requests();
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [&](const testhttp::Request& r) {
        const auto agent = r.headers.find("user-agent");
        return r.path == path && (agent == r.headers.end() || agent->second != TInet().UserAgent);
    }));
}
// Nothing added to the file: it stays the served clip byte for byte.
TEngineOptions AsServed()
{
    TEngineOptions options;
    options.Metadata = false;
    return options;
}
} // namespace

class EngineChoices : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (skips::OnWindows)
            return;
        media_ = std::make_unique<TempDir>();
        clip_ = fixtures::MakeClip(media_->File("clip.mp4"), 2);
        ASSERT_FALSE(clip_.empty());
        ASSERT_TRUE(fixtures::MakeDash(clip_, media_->File("dash")));
    }
    static void TearDownTestSuite() { media_.reset(); }

    void SetUp() override
    {
        SKIP_ON_WINDOWS(DebianPrograms);
        ASSERT_FALSE(GetPageEnginePath().empty()) << "yt-dlp is needed (scripts/setup.sh installs it)";
        ForgetPageLookUps();
        SetLookUpCookies({});
        clipBody_ = TempDir::Read(clip_);
        server_.Serve("/clip.mp4", clipBody_, "video/mp4");
    }
    void TearDown() override
    {
        SetLookUpCookies({});
        ForgetPageLookUps();
    }

    std::string Page(const std::string& title, const std::string& inside = "", const std::string& src = "/clip.mp4")
    {
        return "<html><head><title>" + title + "</title></head><body><video src=\"" + src + "\" controls>" + inside +
               "</video></body></html>";
    }

    // The dialog's and the command line's road: look-up, name taken, job; then
    // the download.
    TEngineRun Get(const std::string& url, const TEngineOptions& options = {},
                   const std::optional<TEngineFormat>& format = std::nullopt)
    {
        TGetRequest request;
        request.Url = url;
        request.Directory = out_.Path();
        request.FileName = "name.mp4";
        request.EngineChoice = format;
        request.EngineOptions = options;
        const TGetPlan plan = PlanGet(request, false);
        const TResolvedMedia resolved = ResolveMedia(plan, 22, false);
        EXPECT_TRUE(resolved.ThroughEngine) << resolved.Message;
        const std::string path = ReserveJobOutput(plan, resolved);
        const TDownloadJob job = MakeDownloadJob(request, plan, resolved, path, resolved.EngineSize);
        return RunEngineDownload(EngineRequestFor(job), job.OutputFile, {}, [] { return false; });
    }

    static inline std::unique_ptr<TempDir> media_;
    static inline std::string clip_;
    std::string clipBody_;
    testhttp::TestHttpServer server_;
    TempDir out_;
};

TEST_F(EngineChoices, ThePageIsReadOnceAndAgainOnlyWhenItsAddressesExpired)
{
    server_.Serve("/watch", Page("Once"));
    TEngineRun run = Get(server_.Url("/watch"), AsServed());
    ASSERT_TRUE(run.Ok) << EngineRunMessage(run, false);
    EXPECT_FALSE(run.PageReadAgain);
    EXPECT_EQ(EngineReadsOf(server_, "/watch"), 1u);  // the download started from the look-up's information
    EXPECT_EQ(TempDir::Read(run.OutputFile), clipBody_);
    EXPECT_EQ(fixtures::FolderEntries(out_.Path()), std::vector<std::string>{"name.mp4"});

    // The look-up's address answers 403 by the time the download starts: the
    // page is read again and gives the new one.
    std::atomic<int> pageReads{0};
    server_.Handle("/expiring", [&](const testhttp::Request&) {
        testhttp::Response r;
        r.body = Page("Expiring", "", "/token.mp4?t=" + std::to_string(++pageReads));
        return r;
    });
    server_.Handle("/token.mp4", [&](const testhttp::Request& request) {
        testhttp::Response r;
        if (request.query != "t=" + std::to_string(pageReads.load())) {
            r.status = 403;
            r.body = "expired";
            return r;
        }
        r.body = clipBody_;
        r.headers = {{"Content-Type", "video/mp4"}};
        return r;
    });
    ForgetPageLookUps();
    TGetRequest request;
    request.Url = server_.Url("/expiring");
    request.Directory = out_.Path();
    request.FileName = "late.mp4";
    const TGetPlan plan = PlanGet(request, false);
    const TResolvedMedia resolved = ResolveMedia(plan, 22, false);
    const std::string path = ReserveJobOutput(plan, resolved);
    ASSERT_TRUE(std::filesystem::exists(EngineWorkDir(path) + "/" + EnginePageInfoFile));
    ++pageReads;  // what the look-up found is no longer served
    request.EngineOptions = AsServed();
    const TDownloadJob job = MakeDownloadJob(request, plan, resolved, path, 0);
    run = RunEngineDownload(EngineRequestFor(job), job.OutputFile, {}, [] { return false; });
    ASSERT_TRUE(run.Ok) << EngineRunMessage(run, false);
    EXPECT_TRUE(run.PageReadAgain);
    EXPECT_EQ(TempDir::Read(run.OutputFile), clipBody_);
    EXPECT_FALSE(std::filesystem::exists(EngineWorkDir(path)));
}

TEST_F(EngineChoices, AudioOnlyRequestsNoVideoSegment)
{
    fixtures::ServeFiles(server_, "/dash/", media_->File("dash"));
    const TEngineRun run =
        Get(server_.Url("/dash/manifest.mpd"), {}, EngineFormatFor(*ParseFormatChoice("audio")));
    ASSERT_TRUE(run.Ok) << EngineRunMessage(run, false);
    EXPECT_EQ(fixtures::StreamTypes(run.OutputFile), std::vector<std::string>{"audio"});
    // ffmpeg's DASH names its streams' segments "...-stream0-..." (video) and "...-stream1-..." (audio).
    EXPECT_EQ(RequestsTo(server_, "stream0"), 0u);
    EXPECT_GT(RequestsTo(server_, "stream1"), 0u);
}

TEST_F(EngineChoices, SubtitlesBesideOrInsideAndTheTitleInTheFile)
{
    const std::string vtt = "WEBVTT\n\n00:00:00.000 --> 00:00:01.500\nHello there\n";
    server_.Serve("/subs.vtt", vtt, "text/vtt");
    server_.Serve("/watch", Page("Talk about things", "<track kind=\"subtitles\" src=\"/subs.vtt\" srclang=\"en\">"));
    TEngineOptions options;
    options.Subtitles = "en";
    TEngineRun run = Get(server_.Url("/watch"), options);
    ASSERT_TRUE(run.Ok) << EngineRunMessage(run, false);
    EXPECT_EQ(run.Subtitles, std::vector<std::string>{out_.File("name.en.srt")});
    EXPECT_NE(TempDir::Read(out_.File("name.en.srt")).find("Hello there"), std::string::npos);
    EXPECT_NE(TempDir::Read(out_.File("name.en.srt")).find("00:00:00,000 --> 00:00:01,500"), std::string::npos);
    // The title tag holds the page's title.
    EXPECT_NE(Probe(run.OutputFile, "format_tags=title").find("Talk about things"), std::string::npos);

    options.EmbedSubtitles = true;
    run = Get(server_.Url("/watch"), options);
    ASSERT_TRUE(run.Ok) << EngineRunMessage(run, false);
    EXPECT_TRUE(run.Subtitles.empty());
    const std::vector<std::string> streams = fixtures::StreamTypes(run.OutputFile);
    EXPECT_EQ(std::count(streams.begin(), streams.end(), "subtitle"), 1) << run.OutputFile;

    // Without metadata there is no title tag.
    TEngineOptions plain;
    plain.Metadata = false;
    run = Get(server_.Url("/watch"), plain);
    ASSERT_TRUE(run.Ok) << EngineRunMessage(run, false);
    EXPECT_EQ(Probe(run.OutputFile, "format_tags=title").find("Talk about things"), std::string::npos);
}

TEST_F(EngineChoices, APageForSignedInUsersWorksWithAFirefoxProfile)
{
    server_.Handle("/members.mp4", [this](const testhttp::Request& request) {
        testhttp::Response r;
        const auto cookie = request.headers.find("cookie");
        if (cookie == request.headers.end() || cookie->second.find("session=let-me-in") == std::string::npos) {
            r.status = 403;
            r.body = "sign in first";
            return r;
        }
        r.body = clipBody_;
        r.headers = {{"Content-Type", "video/mp4"}};
        return r;
    });
    server_.Serve("/members", Page("Members", "", "/members.mp4"));

    // Without cookies: a clear failure.
    TEngineRun run = Get(server_.Url("/members"));
    EXPECT_FALSE(run.Ok);
    EXPECT_NE(run.Error.find("403"), std::string::npos) << run.Error;
    EXPECT_TRUE(fixtures::FolderEntries(out_.Path()).empty());

    // A Firefox profile with the cookie for 127.0.0.1.
    const TempDir profileDir;
    const std::string profile = profileDir.Path();
    const std::string script =
        "import sqlite3,sys\n"
        "c=sqlite3.connect(sys.argv[1])\n"
        "c.execute('CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT \"\","
        " name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime INTEGER,"
        " isSecure INTEGER, isHttpOnly INTEGER)')\n"
        "c.execute(\"INSERT INTO moz_cookies (name,value,host,path,expiry,isSecure,isHttpOnly) VALUES"
        " ('session','let-me-in','127.0.0.1','/',4102444800,0,0)\")\n"
        "c.commit()\n";
    ASSERT_EQ(RunConsoleApp("python3", {"-c", script, profile + "/cookies.sqlite"}, nullptr, {}), 0u);
    TEngineOptions options = AsServed();
    options.CookiesBrowser = *ParseCookiesBrowser("firefox:" + profile);
    SetLookUpCookies(options);
    ForgetPageLookUps();
    run = Get(server_.Url("/members"), options);
    ASSERT_TRUE(run.Ok) << EngineRunMessage(run, false);
    EXPECT_EQ(TempDir::Read(run.OutputFile), clipBody_);
}

TEST_F(EngineChoices, AMediaAddressStaysWithTheProgramsOwnClientWhateverTheChoice)
{
    TGetRequest request;
    request.Url = server_.Url("/clip.mp4");
    request.Directory = out_.Path();
    request.FileName = "clip.mp4";
    request.EngineChoice = EngineFormatFor(*ParseFormatChoice("audio"));
    const TResolvedMedia resolved = ResolveMedia(PlanGet(request, false), 22, false);
    EXPECT_FALSE(resolved.ThroughEngine);
    EXPECT_EQ(resolved.MediaUrl, server_.Url("/clip.mp4"));
}

// The command line's road: the run that downloads reads the page, and the job
// is named from what it read while the bytes already arrive.
TEST_F(EngineChoices, OneRunReadsThePageNamesTheJobAndDownloads)
{
    server_.Serve("/watch", Page("Read by the download"));
    TEngineRequest request;
    request.Url = server_.Url("/watch");
    request.Options = AsServed();
    request.ExpectedExt = "mp4";
    std::vector<std::string> titles;
    const auto byTitle = [&](const TPageInfo& page) -> std::optional<TEngineNaming> {
        titles.push_back(page.Title);
        return TEngineNaming{ReserveOutputFile(out_.File(page.Title + ".mp4"), true), request};
    };
    TEngineRun run = RunEngineReadingPage(request, out_.Path(), 20, byTitle, {}, [] { return false; });
    ASSERT_TRUE(run.Ok) << EngineRunMessage(run, false);
    EXPECT_TRUE(run.Named);
    EXPECT_EQ(titles, std::vector<std::string>{"Read by the download"});
    EXPECT_EQ(EngineReadsOf(server_, "/watch"), 1u);
    EXPECT_EQ(TempDir::Read(run.OutputFile), clipBody_);
    const std::vector<std::string> named{"Read by the download.mp4"};
    EXPECT_EQ(fixtures::FolderEntries(out_.Path()), named);

    // A small file can be whole, and the engine writing the title into it
    // before it moves it where it thinks its folder is, before the job has its
    // name: it still gets the name.
    TEngineRequest titled = request;
    titled.Options.Metadata = true;
    const auto late = [&](const TPageInfo&) -> std::optional<TEngineNaming> {
        const auto engineFile = [&] {
            for (const std::string& entry : fixtures::FolderEntries(out_.Path()))
                if (entry.rfind(".brimtale-page-", 0) == 0 && std::filesystem::exists(out_.File(entry + "/media.mp4")))
                    return true;
            return false;
        };
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!engineFile() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return TEngineNaming{ReserveOutputFile(out_.File("late.mp4"), true), titled};
    };
    run = RunEngineReadingPage(titled, out_.Path(), 20, late, {}, [] { return false; });
    ASSERT_TRUE(run.Ok) << EngineRunMessage(run, false);
    EXPECT_EQ(fixtures::StreamTypes(out_.File("late.mp4")), (std::vector<std::string>{"video", "audio"}));
    EXPECT_EQ(fixtures::FolderEntries(out_.Path()), (std::vector<std::string>{named[0], "late.mp4"}));
    ASSERT_TRUE(std::filesystem::remove(out_.File("late.mp4")));

    // A job whose download would run the engine otherwise (here: with the
    // metadata) is handed over: only the name it reserved is left.
    const auto withMetadata = [&](const TPageInfo&) -> std::optional<TEngineNaming> {
        TEngineRequest other = request;
        other.Options.Metadata = true;
        return TEngineNaming{ReserveOutputFile(out_.File("other.mp4"), true), other};
    };
    run = RunEngineReadingPage(request, out_.Path(), 20, withMetadata, {}, [] { return false; });
    EXPECT_FALSE(run.Named);
    EXPECT_TRUE(run.HandedOver);
    EXPECT_EQ(fixtures::FolderEntries(out_.Path()), (std::vector<std::string>{".other.mp4.parts", named[0]}));
    ReleaseOutputFile(out_.File("other.mp4"), true);

    // No name (the naming refused the job), and a page without media: nothing
    // of the run is left, and the engine's reason comes back.
    const auto refuse = [&](const TPageInfo&) -> std::optional<TEngineNaming> { return std::nullopt; };
    run = RunEngineReadingPage(request, out_.Path(), 20, refuse, {}, [] { return false; });
    EXPECT_FALSE(run.Named);
    EXPECT_FALSE(run.Ok);
    server_.Serve("/empty", "<html><head><title>Nothing</title></head><body>text</body></html>");
    request.Url = server_.Url("/empty");
    run = RunEngineReadingPage(request, out_.Path(), 20, refuse, {}, [] { return false; });
    EXPECT_FALSE(run.Named);
    EXPECT_EQ(run.Failure, TEngineFailure::EngineFailed);
    EXPECT_FALSE(run.Error.empty());
    EXPECT_EQ(fixtures::FolderEntries(out_.Path()), named);
}

TEST_F(EngineChoices, APageThatNeverAnswersEndsAtTheLookUpsTime)
{
    server_.Handle("/silent", [](const testhttp::Request&) {
        testhttp::Response r;
        r.silent = true;
        return r;
    });
    TEngineRequest request;
    request.Url = server_.Url("/silent");
    bool asked = false;
    const TEngineRun run = RunEngineReadingPage(
        request, out_.Path(), 1,
        [&](const TPageInfo&) -> std::optional<TEngineNaming> {
            asked = true;
            return std::nullopt;
        },
        {}, [] { return false; });
    EXPECT_TRUE(run.TimedOut);
    EXPECT_FALSE(run.Named);
    EXPECT_FALSE(asked);
    EXPECT_TRUE(fixtures::FolderEntries(out_.Path()).empty());
}
