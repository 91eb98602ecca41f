// SPDX-License-Identifier: GPL-3.0-or-later
// Downloads through the page engine: its progress lines, its arguments, its
// folder, and the real yt-dlp against pages served on 127.0.0.1.
#include "app/ProgramValues.h"
#include "engine/EngineDownload.h"
#include "net/ZQ_Internet.h"
#include "engine/EngineOptions.h"
#include "engine/PageEngine.h"
#include "support/MediaFixtures.h"
#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestSystem.h"
#include "plan/GetRequest.h"
#include "system/FileDescriptors.h"
#include "plan/OutputNaming.h"
#include "app/Texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <memory>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace {
TEngineLine Line(const std::string& text)
{
    return ParseEngineLine(text);
}
} // namespace

TEST(EngineLines, ProgressOverTwoStreamsAndTheMerge)
{
    TEngineTally tally;
    tally.Feed(Line("[download] Destination: media.f0.mp4"));
    EXPECT_EQ(tally.Done(), 0);
    tally.Feed(Line("[brimtale] downloading 833 NA 1666.0 0"));
    EXPECT_EQ(tally.Done(), 833);
    EXPECT_EQ(tally.Total(), 1666);  // the estimate while the exact size is unknown
    tally.Feed(Line("[brimtale] downloading 43961 NA 43961.0 0"));
    tally.Feed(Line("[brimtale] finished 43961 43961 NA 0"));
    EXPECT_EQ(tally.Done(), 43961);
    EXPECT_EQ(tally.Total(), 43961);
    // The audio follows: the video's bytes stay counted.
    tally.Feed(Line("[brimtale] downloading 765 NA NA 1"));
    EXPECT_EQ(tally.Done(), 43961 + 765);
    EXPECT_EQ(tally.Total(), 0);  // unknown again
    tally.Feed(Line("[brimtale] downloading 19281 19281 NA 1"));
    EXPECT_EQ(tally.Total(), 43961 + 19281);
    EXPECT_FALSE(tally.Merging());
    tally.Feed(Line("[Merger] Merging formats into \"media.mp4\""));
    EXPECT_TRUE(tally.Merging());
    tally.Feed(Line("ERROR: [generic] Unable to download webpage: HTTP Error 404"));
    EXPECT_EQ(tally.Error(), "[generic] Unable to download webpage: HTTP Error 404");

    // A format id with blanks is kept whole; odd numbers count as unknown.
    const TEngineLine odd = Line("[brimtale] downloading -5 nan inf 1 2 3");
    EXPECT_EQ(odd.Kind, TEngineLine::TKind::Progress);
    EXPECT_EQ(odd.Done, 0);
    EXPECT_EQ(odd.Total, 0);
    EXPECT_EQ(odd.Stream, "1 2 3");
    for (const char* other : {"", "[brimtale]", "[brimtale] error 1 2 3 x", "[download]  45.0% of 1.00MiB", "garbage \x01\xff"})
        EXPECT_EQ(Line(other).Kind, TEngineLine::TKind::Other) << other;
}

TEST(EngineArgs, NothingOfTheUsersButTheAddressAfterTheEndOfOptions)
{
    TEngineRequest request;
    request.Url = "--exec=touch /tmp/x";
    request.Format = YouTubeEngineFormat(22);
    const std::vector<std::string> args = EngineDownloadArgs(request);
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ(args[args.size() - 2], "--");
    EXPECT_EQ(args.back(), request.Url);
    // The engine writes a fixed name in its working directory; no output path is given.
    const auto o = std::find(args.begin(), args.end(), "-o");
    ASSERT_NE(o, args.end());
    EXPECT_EQ(*(o + 1), "media.%(ext)s");
    EXPECT_EQ(std::find(args.begin(), args.end(), "-P"), args.end());
    for (const char* needed : {"--ignore-config", "--no-playlist", "--newline", "--progress-template"})
        EXPECT_NE(std::find(args.begin(), args.end(), needed), args.end()) << needed;
}

TEST(EngineWorkDir, PrivateBesideTheOutputAndNeverSomethingElse)
{
    TempDir dir;
    const std::string out = dir.File("clip.mp4");
    const std::string work = EngineWorkDir(out);
    EXPECT_EQ(work, dir.File(".clip.mp4.parts"));
    ASSERT_TRUE(PrepareEngineWorkDir(work));
    SKIP_ON_WINDOWS(FileModes);
    EXPECT_EQ(std::filesystem::status(work).permissions() & std::filesystem::perms::all, std::filesystem::perms::owner_all);
    EXPECT_TRUE(PrepareEngineWorkDir(work));  // what a stopped download left is taken again
    dir.Write(".clip.mp4.parts/media.mp4.part", "x");
    RemoveEngineWorkDir(work);
    EXPECT_FALSE(std::filesystem::exists(work));

    // A file or a link at the name is not used, and removing leaves it alone.
    const std::string target = dir.Write("elsewhere", "keep");
    std::filesystem::create_symlink(dir.Path(), work);
    EXPECT_FALSE(PrepareEngineWorkDir(work));
    RemoveEngineWorkDir(work);
    EXPECT_EQ(TempDir::Read(target), "keep");
}

// The real yt-dlp against pages on this machine.
class PageEngineOnLoopback : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (skips::OnWindows)
            return;
        media_ = std::make_unique<TempDir>();
        clip_ = fixtures::MakeClip(media_->File("clip.mp4"), 2);
        longClip_ = fixtures::MakeClip(media_->File("long.mp4"), 8);
        ASSERT_FALSE(clip_.empty());
        ASSERT_TRUE(fixtures::MakeHls(longClip_, media_->File("hls")));
        ASSERT_TRUE(fixtures::MakeDash(clip_, media_->File("dash")));
    }
    static void TearDownTestSuite() { media_.reset(); }

    void SetUp() override
    {
        SKIP_ON_WINDOWS(DebianPrograms);
        ASSERT_FALSE(GetPageEnginePath().empty()) << "yt-dlp is needed (scripts/setup.sh installs it)";
        ForgetPageLookUps();
        server_.Serve("/clip.mp4", TempDir::Read(clip_), "video/mp4");
        fixtures::ServeFiles(server_, "/dash/", media_->File("dash"));
    }
    void TearDown() override { PageEngineOverride.reset(); }

    // A page with an HTML5 video of the clip.
    std::string ServePage(const std::string& path, const std::string& title)
    {
        server_.Serve(path, "<html><head><title>" + title + "</title></head><body><video src=\"/clip.mp4\" controls>"
                            "</video></body></html>");
        return server_.Url(path);
    }

    TGetPlan Plan(const std::string& url)
    {
        TGetRequest request;
        request.Url = url;
        request.Directory = out_.Path();
        request.FileName = "name";
        return PlanGet(request, false);
    }

    static TEngineRun Download(const std::string& url, const std::string& output, const TEngineFormat& format = {},
                               bool* merged = nullptr)
    {
        TEngineRequest request;
        request.Url = url;
        request.Format = format;
        request.Options.Metadata = false;  // the file as served
        return RunEngineDownload(
            request, output, [merged](const TEngineTally& t) { if (merged && t.Merging()) *merged = true; },
            [] { return false; });
    }

    static inline std::unique_ptr<TempDir> media_;
    static inline std::string clip_;
    static inline std::string longClip_;
    testhttp::TestHttpServer server_;
    TempDir out_;
};

TEST_F(PageEngineOnLoopback, Html5PageIsLookedUpOnceAndSavedUnderAnAwkwardName)
{
    const std::string url = ServePage("/watch", "A clip");
    const TPageInfo info = LookUpPage(url);
    ASSERT_TRUE(info.Found) << info.Error;
    EXPECT_NE(info.Title.find("A clip"), std::string::npos);
    EXPECT_EQ(info.Ext, "mp4");
    const std::size_t asked = server_.Requests().size();
    EXPECT_TRUE(LookUpPage(url).Found);
    EXPECT_EQ(server_.Requests().size(), asked);  // the answer was kept

    // Nothing of the name is read by the engine as a template or a path.
    const std::string name = "a %(id)s $(touch x) 'q' \"w\" ~ %%.mp4";
    const TEngineRun run = Download(url, out_.File(name));
    ASSERT_TRUE(run.Ok) << run.Error;
    EXPECT_EQ(run.OutputFile, out_.File(name));
    EXPECT_EQ(TempDir::Read(run.OutputFile), TempDir::Read(clip_));
    EXPECT_EQ(fixtures::FolderEntries(out_.Path()), std::vector<std::string>{name});  // its folder is gone
}

TEST_F(PageEngineOnLoopback, HlsPlaylistMadeByFfmpeg)
{
    fixtures::ServeFiles(server_, "/hls/", media_->File("hls"));
    const TEngineRun run = Download(server_.Url("/hls/index.m3u8"), out_.File("live.mp4"));
    ASSERT_TRUE(run.Ok) << run.Error;
    const std::vector<std::string> streams = fixtures::StreamTypes(run.OutputFile);
    EXPECT_NE(std::find(streams.begin(), streams.end(), "video"), streams.end());
    EXPECT_NE(std::find(streams.begin(), streams.end(), "audio"), streams.end());
}

TEST_F(PageEngineOnLoopback, DashWithSeparateVideoAndAudioIsMerged)
{
    bool merged = false;
    // The name's extension becomes the merged file's.
    const TEngineRun run = Download(server_.Url("/dash/manifest.mpd"), out_.File("film.flv"), {}, &merged);
    ASSERT_TRUE(run.Ok) << run.Error;
    EXPECT_TRUE(merged);
    EXPECT_EQ(run.OutputFile, out_.File("film.mp4"));
    EXPECT_EQ(fixtures::StreamTypes(run.OutputFile), (std::vector<std::string>{"video", "audio"}));
    EXPECT_EQ(fixtures::FolderEntries(out_.Path()), std::vector<std::string>{"film.mp4"});
}

TEST_F(PageEngineOnLoopback, TheFilesNameKeepsItsDotsAndNeverTakesAnothersName)
{
    const std::string url = ServePage("/watch", "A clip");
    out_.Write("x.mp4", "older");
    const TEngineRun run = Download(url, out_.File("x.mp4"));
    ASSERT_TRUE(run.Ok) << run.Error;
    EXPECT_NE(run.OutputFile, out_.File("x.mp4"));
    EXPECT_EQ(TempDir::Read(out_.File("x.mp4")), "older");

    // A dot that starts no media extension stays part of the name.
    const TEngineRun dotted = Download(url, out_.File("Mr. Smith"));
    ASSERT_TRUE(dotted.Ok) << dotted.Error;
    EXPECT_EQ(dotted.OutputFile, out_.File("Mr. Smith.mp4"));
}

TEST_F(PageEngineOnLoopback, APageWithoutMediaIsRefusedInTheProgramsWordsWithTheEnginesInTheDetails)
{
    server_.Serve("/empty", "<html><head><title>Nothing</title></head><body>text only</body></html>");
    const TPageInfo info = LookUpPage(server_.Url("/empty"));
    EXPECT_FALSE(info.Found);
    EXPECT_FALSE(info.Error.empty());

    for (const bool polish : {false, true}) {
        const TResolvedMedia resolved = ResolveMedia(Plan(server_.Url("/empty")), 22, polish);
        EXPECT_TRUE(resolved.MediaUrl.empty());
        EXPECT_EQ(resolved.Message, MessageText(TMessageId::NoMediaOnPage, polish));
        EXPECT_EQ(resolved.Details, info.Error);
    }
    EXPECT_TRUE(fixtures::FolderEntries(out_.Path()).empty());  // nothing started
}

namespace {
// The statuses a server answers with, and what the program says of each.
struct TAnswerCase {
    int Status;
    const char* English;
    const char* Polish;
};
const TAnswerCase AnswerCases[] = {
    {404, "The server says this address does not exist (404).", "Serwer podaje, że ten adres nie istnieje (404)."},
    {403, "The server refused access (403).", "Serwer odmówił dostępu (403)."},
    {500, "The server failed (500).", "Wystąpił błąd serwera (500)."},
    {503, "The server failed (503).", "Wystąpił błąd serwera (503)."},
    {401, "The page needs you to sign in: ", "Strona wymaga zalogowania: "},
};

void ServeAnswer(testhttp::TestHttpServer& server, const std::string& path, int status)
{
    server.Handle(path, [status](const testhttp::Request&) {
        testhttp::Response r;
        r.status = status;
        r.body = "<html><head><title>Error " + std::to_string(status) + "</title></head><body>no</body></html>";
        return r;
    });
}

// A file of bytes that are no text and start like no media.
std::string BinaryBytes(std::size_t size)
{
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes += static_cast<char>(i % 256);
    return bytes;
}
} // namespace

TEST_F(PageEngineOnLoopback, AServersErrorAnswerIsSaidInTheProgramsWordsAndTheEnginesLineIsLogged)
{
    const TempDir data;
    const std::string savedDataDir = DataDir;
    DataDir = data.Path();
    for (const TAnswerCase& c : AnswerCases) {
        const std::string url = server_.Url("/answers/" + std::to_string(c.Status));
        ServeAnswer(server_, "/answers/" + std::to_string(c.Status), c.Status);
        for (const bool polish : {false, true}) {
            SCOPED_TRACE(std::to_string(c.Status) + (polish ? " PL" : " EN"));
            ::unlink(data.File("bmt_errors.log").c_str());
            const TResolvedMedia resolved = ResolveMedia(Plan(url), 22, polish);
            EXPECT_TRUE(resolved.MediaUrl.empty());
            EXPECT_EQ(resolved.Message.rfind(polish ? c.Polish : c.English, 0), 0u) << resolved.Message;
            // Nothing of the engine's own text: no report to its makers, no update command.
            for (const char* engines : {"yt-dlp", "report", "HTTP Error", "[generic]"})
                EXPECT_EQ(resolved.Message.find(engines), std::string::npos) << resolved.Message;
            // Its line is in the details and in the error log.
            const std::string line = "HTTP Error " + std::to_string(c.Status);
            EXPECT_NE(resolved.Details.find(line), std::string::npos) << resolved.Details;
            const std::string log = TempDir::Read(data.File("bmt_errors.log"));
            EXPECT_NE(log.find(line), std::string::npos) << log;
            EXPECT_NE(log.find(url), std::string::npos) << log;
            // No newer engine finds what the server says is not there.
            if (c.Status == 404 || c.Status >= 500) {
                EXPECT_FALSE(resolved.OfferEngineUpdate);
            }
        }
    }
    DataDir = savedDataDir;
    EXPECT_TRUE(fixtures::FolderEntries(out_.Path()).empty());  // nothing started
}

TEST_F(PageEngineOnLoopback, WithoutTheEngineTheServersOwnAnswerIsSaid)
{
    PageEngineOverride = "";
    for (const TAnswerCase& c : AnswerCases) {
        ServeAnswer(server_, "/answers/" + std::to_string(c.Status), c.Status);
        for (const bool polish : {false, true})
            EXPECT_EQ(ResolveMedia(Plan(server_.Url("/answers/" + std::to_string(c.Status))), 22, polish)
                          .Message.rfind(polish ? c.Polish : c.English, 0),
                      0u);
    }
}

TEST_F(PageEngineOnLoopback, ADownloadTheServerRefusesIsSaidInTheProgramsWords)
{
    const TempDir data;
    const std::string savedDataDir = DataDir;
    DataDir = data.Path();
    // Nothing at the address: the server's answer is 404.
    const TEngineRun run = Download(server_.Url("/gone"), out_.File("gone.mp4"));
    DataDir = savedDataDir;
    ASSERT_FALSE(run.Ok);
    EXPECT_EQ(run.Failure, TEngineFailure::EngineFailed);
    EXPECT_EQ(EngineRunMessage(run, false), "Download failed: The server says this address does not exist (404).");
    EXPECT_EQ(EngineRunMessage(run, true),
              "Pobieranie nie powiodło się: Serwer podaje, że ten adres nie istnieje (404).");
    EXPECT_NE(TempDir::Read(data.File("bmt_errors.log")).find("HTTP Error 404"), std::string::npos);
}

TEST_F(PageEngineOnLoopback, AFileThatIsNoMediaIsSaidAsSuchAndNeverGoesToTheEngine)
{
    server_.Serve("/files/data.bin", BinaryBytes(64 * 1024), "application/octet-stream");
    const std::string url = server_.Url("/files/data.bin");
    EXPECT_EQ(FileNameFromPage(url, vsWebPage), "data.bin");
    const std::pair<bool, const char*> said[] = {
        {false, "This address gives a file that is no video or music."},
        {true, "Pod tym adresem jest plik, który nie jest filmem ani muzyką."},
    };
    for (const auto& [polish, text] : said) {
        const TResolvedMedia resolved = ResolveMedia(Plan(url), 22, polish);
        EXPECT_EQ(resolved.Message, text);
        EXPECT_TRUE(resolved.MediaUrl.empty());
        EXPECT_FALSE(resolved.ThroughEngine);
    }
    // Only the program's own client read it: the engine never did.
    for (const testhttp::Request& r : server_.Requests())
        if (r.path == "/files/data.bin") {
            const auto agent = r.headers.find("user-agent");
            EXPECT_TRUE(agent != r.headers.end() && agent->second.find("MSIE") != std::string::npos);
        }
    EXPECT_TRUE(fixtures::FolderEntries(out_.Path()).empty());

    // Media under the same type still goes on, also when the program does not
    // know its first bytes (an MP4 box of another size).
    const std::string clip = TempDir::Read(clip_);
    ASSERT_GT(clip.size(), 8u);
    server_.Serve("/files/film", clip, "application/octet-stream");
    const TResolvedMedia film = ResolveMedia(Plan(server_.Url("/files/film")), 22, false);
    EXPECT_TRUE(film.Message.empty()) << film.Message;
    EXPECT_FALSE(film.MediaUrl.empty());
}

TEST_F(PageEngineOnLoopback, AMediaAddressIsDownloadedAsItIsUnderItsOwnName)
{
    // Known by its first bytes, with a type that says nothing.
    server_.Serve("/v/My%20Clip", std::string("\0\0\0\x1C" "ftypmp42", 12) + std::string(2000, 'x'),
                  "application/octet-stream");
    server_.Serve("/radio", "OggS-not-a-signature", "audio/ogg");                     // known by its type
    for (const char* path : {"/clip.mp4?session=1", "/v/My%20Clip", "/radio"}) {
        const TResolvedMedia resolved = ResolveMedia(Plan(server_.Url(path)), 22, false);
        EXPECT_EQ(resolved.MediaUrl, server_.Url(path)) << path;
        EXPECT_FALSE(resolved.ThroughEngine) << path;
        EXPECT_TRUE(resolved.Message.empty()) << path;
    }
    EXPECT_EQ(FileNameFromPage(server_.Url("/clip.mp4?session=1"), vsWebPage), "clip.mp4");
    EXPECT_EQ(FileNameFromPage(server_.Url("/v/My%20Clip"), vsWebPage), "My Clip.mp4");
    EXPECT_EQ(FileNameFromPage(server_.Url("/radio"), vsWebPage), "radio");
}

TEST_F(PageEngineOnLoopback, AYouTubePageTheResolverCantReadGoesToTheEngine)
{
    const std::string url = ServePage("/watch", "Fixture");
    const TGetPlan plan = Plan(url + "?v=abc&m=.youtube.");
    ASSERT_EQ(plan.Site, vsYouTube);
    const TResolvedMedia resolved = ResolveMedia(plan, 22, false);
    ASSERT_TRUE(resolved.Message.empty()) << resolved.Message;
    EXPECT_TRUE(resolved.ThroughEngine);
    EXPECT_EQ(resolved.MediaUrl, plan.Url);
    EXPECT_EQ(resolved.EngineFormat, YouTubeEngineFormat(22));
    EXPECT_EQ(resolved.Path, out_.File("name.mp4"));

    TGetRequest request;
    const TDownloadJob job = MakeDownloadJob(request, plan, resolved, resolved.Path, resolved.EngineSize);
    EXPECT_TRUE(job.ThroughEngine);
    EXPECT_TRUE(IsJobValid(job));
    EXPECT_EQ(job.EngineMerge, "mp4");
}

TEST_F(PageEngineOnLoopback, WithoutTheEngineTheMessagesStayAndSayWhatToInstall)
{
    PageEngineOverride = "";
    const std::string url = ServePage("/watch", "Fixture");
    EXPECT_EQ(ResolveMedia(Plan(url), 22, false).Message,
              std::string(MessageText(TMessageId::InvalidUrl, false)) + "\nInstalling yt-dlp adds other sites.");
    EXPECT_EQ(ResolveMedia(Plan(url + "?v=abc&m=.youtube."), 22, true).Message,
              WithEngineHint(MessageText(TMessageId::JobRefused, true), true));
    EXPECT_EQ(FileNameFromPage(url, vsWebPage), "");
    // A media address needs no engine.
    EXPECT_EQ(ResolveMedia(Plan(server_.Url("/clip.mp4")), 22, false).MediaUrl, server_.Url("/clip.mp4"));
}

TEST_F(PageEngineOnLoopback, AnyTitleBecomesOneSafeFileName)
{
    const std::string title = "a/b %(id)s \"q\" 'r' $(touch x); `y`\nnext " + std::string(2000, 'z');
    const std::string name = FileNameFromPage(ServePage("/watch", title), vsWebPage);
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_EQ(name.find('\n'), std::string::npos) << name;
    EXPECT_LE(name.size(), MaxProposedNameBytes);
    EXPECT_EQ(name.substr(name.size() - 4), ".mp4");
    EXPECT_NE(name.find("a_b"), std::string::npos) << name;
}

TEST_F(PageEngineOnLoopback, AStalledLookUpEndsAtTheStepsDeadline)
{
    testhttp::Response silent;
    silent.silent = true;
    server_.Handle("/stalls", [silent](const testhttp::Request&) { return silent; });
    const std::string url = server_.Url("/stalls");
    TPageInfo info;
    {
        const TNetworkStepScope step(std::chrono::seconds(2), nullptr);
        info = LookUpPage(url);
    }
    EXPECT_FALSE(info.Found);
    // Said as a page that didn't answer, not as a page without media.
    EXPECT_EQ(NoMediaMessage(info.Error, false), MessageText(TMessageId::PageUnreachable, false)) << info.Error;
    // The engine is gone with the step.
    for (int i = 0; i < 100 && !fixtures::ProcessesWithArgument(url).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(fixtures::ProcessesWithArgument(url).empty());
}

TEST_F(PageEngineOnLoopback, StoppingAnHlsDownloadEndsEveryProcessAndItsFolderGoes)
{
    fixtures::ServeFiles(server_, "/slow/", media_->File("hls"), 400);
    const std::string url = server_.Url("/slow/index.m3u8");
    const std::string output = out_.File("live.mp4");
    std::atomic<bool> started{false};
    TEngineRequest request;
    request.Url = url;
    const TEngineRun run = RunEngineDownload(
        request, output, [&](const TEngineTally& t) { started = started || t.Done() > 0; },
        [&] { return started.load(); });
    EXPECT_TRUE(run.Stopped);
    EXPECT_FALSE(run.Ok);
    EXPECT_TRUE(fixtures::ProcessesWithArgument(url).empty());
    EXPECT_TRUE(fixtures::ProcessesWorkingIn(EngineWorkDir(output)).empty());
    EXPECT_FALSE(fixtures::FolderEntries(EngineWorkDir(output)).empty());  // the partial files wait there
    RemoveEngineWorkDir(EngineWorkDir(output));
    EXPECT_TRUE(fixtures::FolderEntries(out_.Path()).empty());
}

// Stand-in engines that fail, print garbage or hang.
class EngineStandIn : public ::testing::Test {
protected:
    void SetUp() override { SKIP_ON_WINDOWS(PosixScript); }
    void TearDown() override
    {
        PageEngineOverride.reset();
        ForgetPageLookUps();
    }
    void UseEngine(const std::string& script)
    {
        const std::string path = dir_.Write("engine", "#!/bin/sh\n" + script);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        PageEngineOverride = path;
        ForgetPageLookUps();
    }
    TEngineRun Download(const std::function<bool()>& stop = [] { return false; })
    {
        TEngineRequest request;
        request.Url = "http://127.0.0.1:9/page";
        return RunEngineDownload(request, dir_.File("out.mp4"), {}, stop);
    }
    TempDir dir_;
};

TEST_F(EngineStandIn, GarbageOrAFailureIsAClearNo)
{
    UseEngine("echo 'not json {'; echo '[brimtale] downloading x y z'\n");
    EXPECT_FALSE(LookUpPage("http://127.0.0.1:9/page").Found);
    TEngineRun run = Download();
    EXPECT_FALSE(run.Ok);  // it ended well but made no file
    EXPECT_FALSE(run.Stopped);

    UseEngine("echo 'WARNING: meh' >&2; echo 'ERROR: the site said no' >&2; exit 1\n");
    const TPageInfo info = LookUpPage("http://127.0.0.1:9/page");
    EXPECT_FALSE(info.Found);
    EXPECT_EQ(info.Error, "the site said no");
    UseEngine("echo 'ERROR: unable to download video data: HTTP Error 403'; exit 1\n");
    run = Download();
    EXPECT_FALSE(run.Ok);
    EXPECT_EQ(run.Error, "unable to download video data: HTTP Error 403");
    // Nothing is left behind.
    EXPECT_EQ(fixtures::FolderEntries(dir_.Path()), std::vector<std::string>{"engine"});
}

// A look-up runs the engine in a private folder of its own in the temporary
// folder (so nothing the engine writes lands beside the program), which goes
// with the look-up; the cookies file goes there as a copy. Where no such
// folder can be made the engine is not started.
TEST_F(EngineStandIn, TheLookUpRunsInAPrivateFolderThatGoesWithIt)
{
    const TempDir tmp;
    const char* before = std::getenv(testsys::TempFolderVariable);
    const std::string kept = before ? before : "";
    testsys::SetEnv(testsys::TempFolderVariable, tmp.Path());
    // The engine notes where it runs, what it may write there, and the cookies it got.
    UseEngine("pwd > '" + dir_.File("pwd.txt") + "'\n"
              "stat -c %a . > '" + dir_.File("mode.txt") + "'\n"
              "echo relative > written-by-engine.txt\n"
              "while [ $# -gt 0 ]; do\n"
              "  [ \"$1\" = --cookies ] && cat \"$2\" > '" + dir_.File("cookies.txt") + "'\n"
              "  shift\n"
              "done\n"
              "echo 'ERROR: no video here' >&2; exit 1\n");

    EXPECT_EQ(LookUpPage("http://127.0.0.1:9/a").Error, "no video here");
    const std::string ran = TempDir::Read(dir_.File("pwd.txt"));
    EXPECT_EQ(ran.rfind(tmp.Path() + "/brimtale-", 0), 0u) << ran;
    EXPECT_EQ(TempDir::Read(dir_.File("mode.txt")), "700\n");
    EXPECT_FALSE(std::filesystem::exists(dir_.File("cookies.txt")));
    EXPECT_TRUE(fixtures::FolderEntries(tmp.Path()).empty());
    char here[4096];
    ASSERT_NE(::getcwd(here, sizeof here), nullptr);
    EXPECT_FALSE(std::filesystem::exists(std::string(here) + "/written-by-engine.txt"));

    TEngineOptions options;
    options.CookiesFile = dir_.Write("mine.txt", "# Netscape HTTP Cookie File\n");
    SetLookUpCookies(options);
    EXPECT_EQ(LookUpPage("http://127.0.0.1:9/b").Error, "no video here");
    EXPECT_EQ(TempDir::Read(dir_.File("cookies.txt")), "# Netscape HTTP Cookie File\n");
    EXPECT_TRUE(fixtures::FolderEntries(tmp.Path()).empty());

    std::filesystem::remove(dir_.File("cookies.txt"));
    std::filesystem::remove(dir_.File("pwd.txt"));
    testsys::SetEnv(testsys::TempFolderVariable, tmp.File("gone"));
    EXPECT_EQ(LookUpPage("http://127.0.0.1:9/c").Error, CookiesFileUnreadableText);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("cookies.txt")));  // the engine never ran
    SetLookUpCookies({});
    EXPECT_EQ(LookUpPage("http://127.0.0.1:9/d").Error, TempDirUnusableText);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("pwd.txt")));

    if (before)
        testsys::SetEnv(testsys::TempFolderVariable, kept);
    else
        testsys::UnsetEnv(testsys::TempFolderVariable);
}

// What runs that were killed left (private folders with a copy of the
// cookies) is cleared away by a later run; what a live run holds stays, and
// so do a stopped job's partial files.
TEST(StaleFolders, WhatKilledRunsLeftIsClearedAndWhatLiveOnesHoldStays)
{
    const TempDir tmp;
    const char* before = std::getenv(testsys::TempFolderVariable);
    const std::string kept = before ? before : "";
    testsys::SetEnv(testsys::TempFolderVariable, tmp.Path());
    const auto privateDir = [](const std::string& path) {
        MakeFolder(path, 0700);
        std::ofstream(path + "/cookies.txt") << "secret";
        return path;
    };
    {
        // A live look-up's folder, and one of a look-up that was killed.
        const TPrivateTempDir live;
        ASSERT_FALSE(live.Path().empty());
        const std::string killed = privateDir(tmp.File("brimtale-AbC123"));
        std::ofstream(killed + "/.brimtale-run") << "";
        // Not a look-up's: the single-instance folder, and one of someone else's kind.
        const std::string socketFolder = privateDir(tmp.File("brimtale-0"));
        EXPECT_EQ(RemoveStaleTempDirs(), 1);
        EXPECT_TRUE(std::filesystem::exists(live.Path()));
        EXPECT_FALSE(std::filesystem::exists(killed));
        EXPECT_TRUE(std::filesystem::exists(socketFolder + "/cookies.txt"));
    }
    if (before)
        testsys::SetEnv(testsys::TempFolderVariable, kept);
    else
        testsys::UnsetEnv(testsys::TempFolderVariable);

    // In an output folder: a single run's folder that was killed goes; a
    // stopped job's folder keeps its partial file but not the cookies.
    const TempDir out;
    const std::string page = privateDir(out.File(".brimtale-page-Xy12Zz"));
    std::ofstream(page + "/.brimtale-job") << "";
    const std::string parts = EngineWorkDir(out.File("clip.mp4"));
    ASSERT_TRUE(PrepareEngineWorkDir(parts));
    std::ofstream(parts + "/.cookies.txt") << "secret";
    std::ofstream(parts + "/media.mp4.part") << "partial";
    std::ofstream(parts + "/.brimtale-job") << "";
    const std::string busy = EngineWorkDir(out.File("busy.mp4"));
    ASSERT_TRUE(PrepareEngineWorkDir(busy));
    std::ofstream(busy + "/.cookies.txt") << "secret";
    const TEngineWorkDirHold held(busy);
    ASSERT_EQ(held.Result(), TEngineWorkDirHold::TResult::Held);
    ClearStaleEngineFolders(out.Path());
    EXPECT_FALSE(std::filesystem::exists(page));
    EXPECT_FALSE(std::filesystem::exists(parts + "/.cookies.txt"));
    EXPECT_TRUE(std::filesystem::exists(parts + "/media.mp4.part"));
    EXPECT_TRUE(std::filesystem::exists(busy + "/.cookies.txt"));
}

// The page information kept for a download holds no request cookies, and
// only its owner may read it.
TEST(StaleFolders, KeptPageInformationHoldsNoCookies)
{
    const TempDir out;
    const std::string json = R"({"title":"t","cookies":"SID=secret","http_headers":{"Cookie":"SID=secret","User-Agent":"x"},)"
                             R"("formats":[{"url":"http://127.0.0.1:1/v","cookies":"SID=secret","http_headers":{"cookie":"SID=secret"}}]})";
    ASSERT_TRUE(KeepPageInfo(out.Path(), json));
    const std::string kept = TempDir::Read(out.File(EnginePageInfoFile));
    EXPECT_EQ(kept.find("secret"), std::string::npos) << kept;
    EXPECT_NE(kept.find("User-Agent"), std::string::npos);
    EXPECT_NE(kept.find("http://127.0.0.1:1/v"), std::string::npos);
    SKIP_ON_WINDOWS(FileModes);
    struct stat st {};
    ASSERT_EQ(::stat(out.File(EnginePageInfoFile).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(KeepPageInfo(out.Path(), "not json {"));
}

// A download whose engine refuses its command line, or ends without a word,
// still says why: the refusal, or the exit code.
TEST_F(EngineStandIn, AFailedRunAlwaysHasAReason)
{
    UseEngine("echo 'Usage: yt-dlp [OPTIONS] URL' >&2; echo 'yt-dlp: error: no such option: --bogus' >&2; exit 2\n");
    TEngineRun run = Download();
    EXPECT_EQ(run.Failure, TEngineFailure::EngineFailed);
    EXPECT_EQ(run.Error, "no such option: --bogus");
    EXPECT_EQ(EngineRunMessage(run, false), "Download failed: no such option: --bogus");
    const TPageInfo info = LookUpPage("http://127.0.0.1:9/refused");
    EXPECT_TRUE(info.EngineFailed);
    EXPECT_EQ(info.Error, "no such option: --bogus");

    UseEngine("exit 7\n");
    run = Download();
    EXPECT_EQ(run.Error, "exit code 7");
    EXPECT_EQ(LookUpPage("http://127.0.0.1:9/silent").Error, "exit code 7");
    // A reason of the page's is the page's, not the engine's failure.
    UseEngine("echo 'ERROR: Unsupported URL: http://127.0.0.1:9/x' >&2; exit 1\n");
    EXPECT_FALSE(LookUpPage("http://127.0.0.1:9/x").EngineFailed);
    // A line that merely mentions an error is no refusal.
    EXPECT_EQ(EngineUsageError("[info] title: my error: none"), "");
    EXPECT_EQ(EngineUsageError("yt-dlp: error: bad"), "bad");
}

TEST_F(EngineStandIn, AnEngineThatHangsIsEndedWhenAskedTo)
{
    // It starts a child of its own as well; both go.
    UseEngine("sleep 300 &\necho '[brimtale] downloading 10 100 NA 0'\nsleep 300\n");
    std::atomic<bool> started{false};
    TEngineRequest request;
    request.Url = "http://127.0.0.1:9/page";
    const TEngineRun run = RunEngineDownload(
        request, dir_.File("out.mp4"), [&](const TEngineTally&) { started = true; }, [&] { return started.load(); });
    EXPECT_TRUE(run.Stopped);
    EXPECT_TRUE(fixtures::ProcessesWorkingIn(EngineWorkDir(dir_.File("out.mp4"))).empty());

    // A look-up that hangs ends with its step.
    UseEngine("sleep 300\n");
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    {
        const TNetworkStepScope step(&cancel);
        EXPECT_FALSE(LookUpPage("http://127.0.0.1:9/page").Found);
    }
    canceller.join();
}

// The folder is one job's own: what another job holds, or an earlier one left,
// is never delivered as this job's file.
TEST_F(EngineStandIn, AFolderIsOneJobsOwnAndOnlyItsOneFileIsDelivered)
{
    const std::string out = dir_.File("out.mp4");
    const std::string work = EngineWorkDir(out);
    // It writes media.mp4 in its folder, as the engine does.
    UseEngine("echo '[brimtale] downloading 6 6 NA 0'\nprintf 'fresh!' > media.mp4\n");

    // A stale file of an earlier download: a new job doesn't take it.
    std::filesystem::create_directory(work);
    dir_.Write(".out.mp4.parts/media.webm", "stale!");
    TEngineRun run = Download();
    EXPECT_FALSE(run.Ok);
    EXPECT_EQ(run.Failure, TEngineFailure::StaleFolder);
    EXPECT_NE(EngineRunMessage(run, false).find(work), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(TempDir::Read(work + "/media.webm"), "stale!");
    // Continuing it gives two candidates: an error, never a guess.
    TEngineRequest request;
    request.Url = "http://127.0.0.1:9/page";
    run = RunEngineDownload(request, out, {}, [] { return false; }, true);
    EXPECT_EQ(run.Failure, TEngineFailure::SeveralResults);
    EXPECT_FALSE(std::filesystem::exists(out));
    RemoveEngineWorkDir(work);

    // A folder another job holds is left alone.
    ASSERT_TRUE(PrepareEngineWorkDir(work));
    {
        const TEngineWorkDirHold other(work);
        ASSERT_EQ(other.Result(), TEngineWorkDirHold::TResult::Held);
        run = Download();
        EXPECT_EQ(run.Failure, TEngineFailure::Busy);
        EXPECT_EQ(fixtures::FolderEntries(work), std::vector<std::string>{EngineHoldFile});
    }
    // Once it is free (and empty), the job runs and its folder goes.
    run = Download();
    ASSERT_TRUE(run.Ok) << EngineRunMessage(run, false);
    EXPECT_EQ(TempDir::Read(out), "fresh!");
    EXPECT_FALSE(std::filesystem::exists(work));
}

TEST_F(EngineStandIn, AFileFarLargerThanWhatWasDownloadedIsNeverOk)
{
    // 36 bytes reported, 3 MB on disk: what two engines appending to one file give.
    UseEngine("echo '[brimtale] downloading 36 36 NA 0'\nhead -c 3000000 /dev/zero > media.mp4\n");
    const TEngineRun run = Download();
    EXPECT_FALSE(run.Ok);
    EXPECT_EQ(run.Failure, TEngineFailure::TooLarge);
    EXPECT_FALSE(std::filesystem::exists(dir_.File("out.mp4")));
    // A stall and a failure say what happened in one line, in both languages.
    TEngineRun stalled;
    stalled.Failure = TEngineFailure::Stalled;
    EXPECT_EQ(EngineRunMessage(stalled, false), "The engine printed nothing for 2 minutes");
    EXPECT_EQ(EngineRunMessage(stalled, true), "Silnik stron nie wypisał niczego przez 2 minuty");
}
