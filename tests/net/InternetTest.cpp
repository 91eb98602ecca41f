// SPDX-License-Identifier: GPL-3.0-or-later
// The HTTP client and the one-shot web queries against the loopback server.

#include "base/MemoryStream.h"
#include "system/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"

#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

using namespace testhttp;

namespace {

struct Call {
    std::int32_t bytes;
    std::int64_t total;
};

// Records every progress call; answers false on call number stopAt (1-based).
struct Recorder {
    std::vector<Call> calls;
    std::size_t stopAt = 0;
    TInetProgressCallback Callback()
    {
        return [this](std::int32_t bytes, std::int64_t total) {
            calls.push_back({bytes, total});
            return calls.size() != stopAt;
        };
    }
};

// Binary bodies are compared by size and first difference, not printed whole.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& want)
{
    if (got == want)
        return ::testing::AssertionSuccess();
    std::size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        ++i;
    return ::testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                         << "; first difference at " << i;
}

Response Generated(std::uint64_t size)
{
    Response r;
    r.headers.emplace_back("Content-Type", "video/mp4");
    r.generatedSize = size;
    return r;
}

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t FreePort()
{
    std::uint16_t port = 0;
    testsys::CloseSocket(testsys::BindLoopback(false, port));
    return port;
}

// Sets (or with nullopt removes) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            testsys::SetEnv(name, value->c_str());
        else
            testsys::UnsetEnv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            testsys::SetEnv(name_, old_->c_str());
        else
            testsys::UnsetEnv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// No proxy variables for one scope: a test never talks to anything but 127.0.0.1.
struct NoProxies {
    ScopedEnv e1{"http_proxy", std::nullopt};
    ScopedEnv e2{"HTTPS_PROXY", std::nullopt};
    ScopedEnv e3{"https_proxy", std::nullopt};
    ScopedEnv e4{"ALL_PROXY", std::nullopt};
    ScopedEnv e5{"all_proxy", std::nullopt};
};

class InetTest : public ::testing::Test {
protected:
    TestHttpServer server;
    TempDir dir;
};

} // namespace

// --- Opening ---------------------------------------------------------------

TEST_F(InetTest, OpenTakesTheAnnouncedLengthAndCloseResets)
{
    server.Serve("/page", std::string(3000, 'a'));
    server.Handle("/nolength", [](const Request&) {
        Response r;
        r.body = std::string(2500, 'b');
        r.sendContentLength = false;
        return r;
    });

    TInet inet;
    EXPECT_EQ(inet.Status, InetClosed);
    EXPECT_FALSE(inet.IsOpen);
    ASSERT_TRUE(inet.OpenUrl(server.Url("/page")));
    EXPECT_EQ(inet.Status, InetOk);
    EXPECT_TRUE(inet.IsOpen);
    EXPECT_EQ(inet.ContentLength, 3000u);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].headers.at("accept"), "*/*");
    EXPECT_EQ(requests[0].headers.at("user-agent"), "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)");
    inet.Close();
    EXPECT_EQ(inet.Status, InetClosed);
    EXPECT_FALSE(inet.IsOpen);

    // No Content-Length: 0, and the body is still read to its end.
    ASSERT_TRUE(inet.OpenUrl(server.Url("/nolength")));
    EXPECT_EQ(inet.ContentLength, 0u);
    TMemoryStream stream;
    EXPECT_TRUE(inet.ReadToStream(&stream, 0));
    EXPECT_EQ(stream.Data(), std::string(2500, 'b'));
}

TEST_F(InetTest, AnUnreadableContentLengthKeepsTheBody)
{
    // The body ends with the connection; the length can't be read, so it is 0.
    for (const std::string value : {"abc", "-5", "99999999999999999999999", ""}) {
        SCOPED_TRACE(value);
        server.Handle("/odd", [value](const Request&) {
            Response r;
            r.raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + value +
                    "\r\nConnection: close\r\n\r\n<html>body</html>";
            return r;
        });
        TInet inet;
        ASSERT_TRUE(inet.OpenUrl(server.Url("/odd")));
        EXPECT_EQ(inet.Status, InetOk);
        EXPECT_EQ(inet.ContentLength, 0u);
        TMemoryStream stream;
        inet.ReadToStream(&stream, 0);
        EXPECT_EQ(stream.Data(), "<html>body</html>");
    }
}

TEST_F(InetTest, OpenReturnsWhenTheHeadersAreIn)
{
    // The body never comes: Open still returns at once, and the read gives up
    // after the stall limit.
    server.Handle("/silent", [](const Request&) {
        Response r;
        r.body = std::string(5000, 'x');
        r.stallAfter = 0;
        return r;
    });
    TInet inet;
    inet.StallTimeoutSeconds = 1;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(inet.OpenUrl(server.Url("/silent")));
    EXPECT_EQ(inet.ContentLength, 5000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    TMemoryStream stream;
    EXPECT_FALSE(inet.ReadToStream(&stream, 0));
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(InetTest, BadAddressesFailBeforeAnySession)
{
    const NoProxies noProxies;
    const TempDir other;
    const std::string secret = other.Write("secret.html", "FLV <title>secret</title>");
    const std::string closedPort = "http://127.0.0.1:" + std::to_string(FreePort()) + "/x";
    const std::string addresses[] = {
        "",
        "not an address",
        "http://",
        "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/file",
        "file://" + secret,
        "gopher://127.0.0.1/",
        closedPort,
    };
    for (const std::string& address : addresses) {
        SCOPED_TRACE(address);
        TInet inet;
        inet.ConnectTimeoutSeconds = 3;
        EXPECT_FALSE(inet.OpenUrl(address));
        EXPECT_EQ(inet.Status, InetClosed);
        EXPECT_FALSE(inet.IsOpen);

        TMemoryStream stream;
        EXPECT_FALSE(inet.ReadToStream(&stream, 0));
        EXPECT_EQ(stream.Size(), 0);
        const std::string out = dir.File("out.bin");
        EXPECT_FALSE(inet.DownloadToFile(out, 0, 0, true));
        EXPECT_FALSE(PathExists(out));

        EXPECT_EQ(FetchPageTitle(address), "");
        EXPECT_EQ(QueryContentLength(address), 0);
        EXPECT_EQ(DetectMediaExtension(address, ".flv", true), ".flv");
    }
    // Not even the ftp address on the server's own port got through.
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(InetTest, ResponsesThatAreNoHttpDoNotOpen)
{
    server.Handle("/garbage", [](const Request&) {
        Response r;
        r.raw = "this is not HTTP at all\r\n\r\nFLV";
        return r;
    });
    server.Handle("/to-file", [](const Request&) {
        Response r;
        r.status = 302;
        r.headers.emplace_back("Location", "file:///etc/passwd");
        return r;
    });
    server.Handle("/loop", [](const Request&) {
        Response r;
        r.status = 302;
        r.headers.emplace_back("Location", "/loop");
        return r;
    });
    for (const char* path : {"/garbage", "/to-file", "/loop"}) {
        SCOPED_TRACE(path);
        TInet inet;
        EXPECT_FALSE(inet.OpenUrl(server.Url(path)));
        EXPECT_EQ(inet.Status, InetNotOpened);
        EXPECT_FALSE(inet.IsOpen);
        const std::string out = dir.File("garbage.bin");
        EXPECT_FALSE(inet.DownloadToFile(out, 0, 0, false));
        EXPECT_FALSE(PathExists(out));
        EXPECT_EQ(FetchPageTitle(server.Url(path)), "");
        EXPECT_EQ(DetectMediaExtension(server.Url(path), "x", false), "x");
    }
}

// --- Reading into memory ------------------------------------------------------

TEST_F(InetTest, ReadToStreamChunksLimitsAndProgress)
{
    const std::string body = GeneratedBody(0, 5000);
    server.Serve("/page", body);
    server.Handle("/chunked", [body](const Request&) {
        Response r;
        r.body = body;
        r.chunked = true;
        return r;
    });

    {
        TInet inet;
        Recorder rec;
        inet.OnProgress = rec.Callback();
        TMemoryStream stream;
        inet.Url = server.Url("/page");
        EXPECT_TRUE(inet.ReadToStream(&stream, 1));  // opens by itself
        EXPECT_TRUE(SameBytes(stream.Data(), body.substr(0, 1024)));
        EXPECT_EQ(inet.Status, InetOk);
        ASSERT_EQ(rec.calls.size(), 1u);
        EXPECT_EQ(rec.calls[0].bytes, 1024);
    }
    for (const char* path : {"/page", "/chunked"}) {
        SCOPED_TRACE(path);
        TInet inet;
        Recorder rec;
        inet.OnProgress = rec.Callback();
        TMemoryStream stream;
        ASSERT_TRUE(inet.OpenUrl(server.Url(path)));
        EXPECT_TRUE(inet.ReadToStream(&stream, 0));
        EXPECT_TRUE(SameBytes(stream.Data(), body));
        // 4 full reads, one of 904, the empty read, then the closing (0, total).
        ASSERT_EQ(rec.calls.size(), 7u);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(rec.calls[i].bytes, 1024);
        EXPECT_EQ(rec.calls[4].bytes, 904);
        EXPECT_EQ(rec.calls[5].bytes, 0);
        EXPECT_EQ(rec.calls[6].bytes, 0);
        EXPECT_EQ(rec.calls[6].total, 5000);
    }
    {
        TInet inet;
        Recorder rec;
        rec.stopAt = 2;
        inet.OnProgress = rec.Callback();
        inet.Url = server.Url("/page");
        TMemoryStream stream;
        EXPECT_FALSE(inet.ReadToStream(&stream, 0));
        EXPECT_EQ(inet.Status, InetAborted);
        EXPECT_FALSE(inet.IsOpen);
        EXPECT_EQ(stream.Size(), 2048);
        inet.Close();  // nothing left to release
    }
    {
        const std::size_t before = server.Requests().size();
        TInet inet;
        inet.Url = server.Url("/page");
        EXPECT_FALSE(inet.ReadToStream(nullptr, 0));
        EXPECT_FALSE(inet.IsOpen);
        EXPECT_EQ(server.Requests().size(), before);
    }
}

TEST_F(InetTest, ErrorPagesAndRedirectsAreReadLikeAnyBody)
{
    server.Handle("/old", [](const Request&) {
        Response r;
        r.status = 301;
        r.headers.emplace_back("Location", "/new");
        r.body = "moved";
        return r;
    });
    server.Serve("/new", "the new page");

    TInet inet;
    TMemoryStream stream;
    ASSERT_TRUE(inet.OpenUrl(server.Url("/old")));
    EXPECT_EQ(inet.ContentLength, 12u);
    EXPECT_TRUE(inet.ReadToStream(&stream, 0));
    EXPECT_EQ(stream.Data(), "the new page");

    TMemoryStream notFound;
    ASSERT_TRUE(inet.OpenUrl(server.Url("/missing")));
    EXPECT_TRUE(inet.ReadToStream(&notFound, 50));
    EXPECT_NE(notFound.Data().find("404 Not Found"), std::string::npos);

    const std::string out = dir.File("404.html");
    TInet file;
    ASSERT_TRUE(file.OpenUrl(server.Url("/missing")));
    EXPECT_TRUE(file.DownloadToFile(out, 0, 0, false));
    EXPECT_EQ(TempDir::Read(out), notFound.Data());
}

// --- Downloading to a file --------------------------------------------------

TEST_F(InetTest, DownloadWritesTheBodyWithTheCallbackProtocol)
{
    const std::uint64_t size = 3 * 10240 + 100;
    server.Handle("/media", [size](const Request&) { return Generated(size); });
    const std::string out = dir.File("media.mp4");

    TInet inet;
    ASSERT_TRUE(inet.OpenUrl(server.Url("/media")));
    Recorder rec;
    inet.OnProgress = rec.Callback();
    ASSERT_TRUE(CreateEmptyFile(out));
    EXPECT_TRUE(inet.DownloadToFile(out, 0, 0, true));
    EXPECT_EQ(inet.Status, InetOk);
    EXPECT_TRUE(SameBytes(TempDir::Read(out), GeneratedBody(0, size)));

    const std::vector<std::pair<std::int32_t, std::int64_t>> expected = {
        {10240, 10240}, {10240, 20480}, {10240, 30720}, {100, 30820}, {0, 30820}, {0, 30820}};
    ASSERT_EQ(rec.calls.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(rec.calls[i].bytes, expected[i].first) << i;
        EXPECT_EQ(rec.calls[i].total, expected[i].second) << i;
    }
    EXPECT_EQ(server.Requests().back().headers.count("range"), 0u);

    // A false answer to the in-loop empty read still aborts, after every byte arrived.
    TInet late;
    Recorder stopLate;
    stopLate.stopAt = 5;
    late.OnProgress = stopLate.Callback();
    late.Url = server.Url("/media");
    EXPECT_FALSE(late.DownloadToFile(out, 0, 0, false));
    EXPECT_EQ(late.Status, InetAborted);
    EXPECT_TRUE(SameBytes(TempDir::Read(out), GeneratedBody(0, size)));
}

TEST_F(InetTest, DownloadChunkLimitAndAbort)
{
    server.Handle("/media", [](const Request&) { return Generated(100000); });
    const std::string out = dir.File("part.bin");

    TInet limited;
    limited.Url = server.Url("/media");
    EXPECT_TRUE(limited.DownloadToFile(out, 2, 0, false));
    EXPECT_EQ(limited.Status, InetOk);
    EXPECT_TRUE(SameBytes(TempDir::Read(out), GeneratedBody(0, 20480)));

    // Stopping on the first chunk leaves exactly that chunk; the handles are gone
    // once, and Close and destruction find nothing more to release.
    TInet inet;
    Recorder rec;
    rec.stopAt = 1;
    inet.OnProgress = rec.Callback();
    ASSERT_TRUE(inet.OpenUrl(server.Url("/media")));
    EXPECT_FALSE(inet.DownloadToFile(out, 0, 0, false));
    EXPECT_EQ(inet.Status, InetAborted);
    EXPECT_FALSE(inet.IsOpen);
    EXPECT_TRUE(SameBytes(TempDir::Read(out), GeneratedBody(0, 10240)));
    ASSERT_EQ(rec.calls.size(), 1u);
    inet.Close();
    inet.Close();
}

TEST_F(InetTest, DownloadContinuesFromAnOffset)
{
    const std::uint64_t size = 30000;
    server.Handle("/media", [size](const Request&) { return Generated(size); });

    // Continue a 5000-byte file (the design's calling order: Open, then download).
    const std::string out = dir.Write("resume.bin", GeneratedBody(0, 5000));
    TInet inet;
    ASSERT_TRUE(inet.OpenUrl(server.Url("/media")));
    Recorder rec;
    inet.OnProgress = rec.Callback();
    EXPECT_TRUE(inet.DownloadToFile(out, 0, 5000, true));
    EXPECT_TRUE(SameBytes(TempDir::Read(out), GeneratedBody(0, size)));
    ASSERT_FALSE(rec.calls.empty());
    EXPECT_EQ(rec.calls[0].total, 5000 + 10240);
    EXPECT_EQ(rec.calls.back().total, 30000);
    EXPECT_EQ(server.Requests().back().headers.at("range"), "bytes=5000-");

    // Not opened before, and a missing file with append: created, written from its start.
    const std::string fresh = dir.File("fresh.bin");
    TInet direct;
    direct.Url = server.Url("/media");
    EXPECT_TRUE(direct.DownloadToFile(fresh, 0, 29000, true));
    EXPECT_TRUE(SameBytes(TempDir::Read(fresh), GeneratedBody(29000, 1000)));

    // Fresh start (append false) replaces whatever was there.
    TInet again;
    again.Url = server.Url("/media");
    EXPECT_TRUE(again.DownloadToFile(fresh, 0, 0, false));
    EXPECT_TRUE(SameBytes(TempDir::Read(fresh), GeneratedBody(0, size)));
}

TEST_F(InetTest, IgnoredRangeFailsAndLeavesTheFileAlone)
{
    server.Handle("/norange", [](const Request&) {
        Response r = Generated(30000);
        r.honourRanges = false;
        return r;
    });
    server.Handle("/short", [](const Request&) { return Generated(3000); });

    const std::string out = dir.Write("keep.bin", "old content");
    const std::string missing = dir.File("missing.bin");
    for (const std::string path : {"/norange", "/short"}) {
        SCOPED_TRACE(path);
        for (bool opened : {false, true}) {
            TInet inet;
            inet.Url = server.Url(path);
            if (opened) {
                ASSERT_TRUE(inet.Open());
            }
            EXPECT_FALSE(inet.DownloadToFile(out, 0, 5000, false));
            EXPECT_EQ(inet.Status, InetSeekFailed);
            EXPECT_FALSE(inet.DownloadToFile(missing, 0, 5000, true));
            EXPECT_EQ(TempDir::Read(out), "old content");
            EXPECT_FALSE(PathExists(missing));
        }
    }
}

TEST_F(InetTest, BrokenBodiesFailButKeepWhatArrived)
{
    server.Handle("/dropped", [](const Request&) {
        Response r = Generated(50000);
        r.dropAfter = 25000;
        return r;
    });
    server.Handle("/overlong", [](const Request&) {
        Response r;
        r.body = GeneratedBody(0, 15000);
        r.announcedLength = 40000;
        return r;
    });
    server.Handle("/chunked-dropped", [](const Request&) {
        Response r = Generated(50000);
        r.chunked = true;
        r.dropAfter = 25000;
        return r;
    });
    server.Handle("/stalled", [](const Request&) {
        Response r = Generated(50000);
        r.stallAfter = 25000;
        return r;
    });

    const std::pair<const char*, std::size_t> cases[] = {
        {"/dropped", 25000}, {"/overlong", 15000}, {"/chunked-dropped", 25000}, {"/stalled", 25000}};
    for (const auto& [path, arrived] : cases) {
        SCOPED_TRACE(path);
        const std::string out = dir.File("broken.bin");
        TInet inet;
        inet.StallTimeoutSeconds = 1;
        Recorder rec;
        inet.OnProgress = rec.Callback();
        inet.Url = server.Url(path);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(inet.DownloadToFile(out, 0, 0, false));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_TRUE(SameBytes(TempDir::Read(out), GeneratedBody(0, arrived)));
        ASSERT_FALSE(rec.calls.empty());
        EXPECT_EQ(rec.calls.back().bytes, 0);
        EXPECT_EQ(rec.calls.back().total, static_cast<std::int64_t>(arrived));

        TMemoryStream stream;
        TInet page;
        page.StallTimeoutSeconds = 1;
        ASSERT_TRUE(page.OpenUrl(server.Url(path)));
        EXPECT_FALSE(page.ReadToStream(&stream, 0));
        EXPECT_TRUE(SameBytes(stream.Data(), GeneratedBody(0, arrived)));
    }
}

TEST_F(InetTest, OutputThatCannotBeWritten)
{
    server.Handle("/media", [](const Request&) { return Generated(30000); });
    const std::string blocker = dir.Write("plain-file", "x");
    // Links planted at the output name: to a file elsewhere, and dangling.
    const std::string victim = dir.Write("victim.txt", "keep me");
    const std::string linkToFile = dir.File("link.bin");
    const std::string dangling = dir.File("dangling.bin");
    SKIP_ON_WINDOWS(PosixLinks);
    ASSERT_TRUE(testsys::MakeSymlink(victim, linkToFile));
    ASSERT_TRUE(testsys::MakeSymlink(dir.File("created-elsewhere"), dangling));
    const std::string fifo = dir.File("fifo.bin");
    ASSERT_TRUE(testsys::MakeFifo(fifo, 0644));

    const std::string targets[] = {
        dir.File("no/such/dir/out.bin"),
        blocker + "/out.bin",
        dir.Path(),
        "/dev/null",
        "",
        linkToFile,
        dangling,
        fifo,
    };
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        for (bool append : {false, true}) {
            TInet inet;
            ASSERT_TRUE(inet.OpenUrl(server.Url("/media")));
            EXPECT_FALSE(inet.DownloadToFile(target, 0, 0, append));
            // Refused before opening, or a file that could not be opened: never a network failure.
            EXPECT_TRUE(inet.Status == InetOk || inet.Status == InetWriteFailed) << inet.Status;
        }
    }
    EXPECT_TRUE(DirectoryExists(dir.Path()));
    EXPECT_EQ(TempDir::Read(blocker), "x");
    EXPECT_EQ(TempDir::Read(victim), "keep me");
    EXPECT_FALSE(PathExists(dir.File("created-elsewhere")));
    EXPECT_FALSE(CreateEmptyFile(linkToFile));
    EXPECT_FALSE(CreateEmptyFile(fifo));
    EXPECT_EQ(TempDir::Read(victim), "keep me");
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    if (!testsys::RunsAsRoot()) {
        const std::string locked = dir.Path() + "/locked";
        ASSERT_TRUE(ForceDirectories(locked));
        ::chmod(locked.c_str(), 0500);
        TInet inet;
        inet.Url = server.Url("/media");
        EXPECT_FALSE(inet.DownloadToFile(locked + "/out.bin", 0, 0, false));
        EXPECT_FALSE(PathExists(locked + "/out.bin"));
    }
}

TEST_F(InetTest, AFailedWriteIsAFailedDownload)
{
    server.Handle("/media", [](const Request&) { return Generated(100000); });
    const std::string out = dir.File("full.bin");

    // Files may grow to 20000 bytes only; the write beyond fails (EFBIG).
    SKIP_ON_WINDOWS(PosixProcesses);
    bool result = true;
    ASSERT_TRUE(testsys::WithFileSizeLimit(20000, [&] {
        TInet inet;
        inet.Url = server.Url("/media");
        result = inet.DownloadToFile(out, 0, 0, false);
    }));

    EXPECT_FALSE(result);
    EXPECT_LE(FileSizeOf(out), 20000);
}

// --- One-shot queries -------------------------------------------------------

TEST(ExtractTitle, FindsTheTextBetweenTheTags)
{
    EXPECT_EQ(ExtractTitle("<html><head><title lang=\"en\" id=t>My Video</title></head>"), "My Video");
    EXPECT_EQ(ExtractTitle("<TITLE>\r\n  Spaced \t\n</TITLE>"), "Spaced");
    EXPECT_EQ(ExtractTitle("<Title>Mixed Case</tItLe>"), "Mixed Case");
    EXPECT_EQ(ExtractTitle("<title>no end"), "");
    EXPECT_EQ(ExtractTitle("no title here"), "");
    EXPECT_EQ(ExtractTitle("<title>a > b</title>"), "a > b");
    EXPECT_EQ(ExtractTitle("<title>Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87</title>"), "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87");
}

TEST_F(InetTest, FetchPageTitleReadsOneUncachedPiece)
{
    server.Serve("/page", "<html><head><title class=\"x\">\n  Hello &amp; Bye \n</title></head>");
    server.Serve("/late", std::string(10300, ' ') + "<title>Too late</title>");
    server.Serve("/unclosed", "<title>" + std::string(10240, 'a') + "</title>");
    server.Serve("/zero", std::string("<b>") + '\0' + "</b><title>Hidden</title>");
    server.Handle("/error", [](const Request&) {
        Response r;
        r.status = 500;
        r.body = "<title>Server Error</title>";
        return r;
    });

    EXPECT_EQ(FetchPageTitle(server.Url("/page")), "Hello &amp; Bye");
    const Request first = server.Requests().back();
    EXPECT_EQ(first.headers.at("accept"), "*/*");
    EXPECT_EQ(first.headers.at("cache-control"), "no-cache");
    EXPECT_EQ(first.headers.at("pragma"), "no-cache");
    EXPECT_EQ(first.headers.at("user-agent"), "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)");

    EXPECT_EQ(FetchPageTitle(server.Url("/late")), "");
    EXPECT_EQ(FetchPageTitle(server.Url("/unclosed")), "");
    EXPECT_EQ(FetchPageTitle(server.Url("/zero")), "");
    EXPECT_EQ(FetchPageTitle(server.Url("/error")), "Server Error");
}

TEST_F(InetTest, QueryContentLengthReadsOnlyTheHeaders)
{
    const std::uint64_t huge = 5ull << 30;  // beyond 32 bits, and never sent whole
    server.Handle("/huge", [huge](const Request&) { return Generated(huge); });
    server.Handle("/nolength", [](const Request&) {
        Response r;
        r.body = "abc";
        r.sendContentLength = false;
        return r;
    });
    server.Handle("/chunked", [](const Request&) {
        Response r;
        r.body = "abc";
        r.chunked = true;
        return r;
    });

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QueryContentLength(server.Url("/huge")), static_cast<std::int64_t>(huge));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(QueryContentLength(server.Url("/nolength")), 0);
    EXPECT_EQ(QueryContentLength(server.Url("/chunked")), 0);
}

TEST_F(InetTest, OneShotQueriesUseTheProxyVariablesAndTInetDoesNot)
{
    // The second server plays the proxy: it sees the absolute address.
    TestHttpServer proxy;
    proxy.Fallback([](const Request& req) {
        Response r;
        r.body = "<title>via proxy " + req.target + "</title>";
        return r;
    });
    server.Serve("/direct", "<title>direct</title>");

    const NoProxies noProxies;
    const ScopedEnv viaProxy("http_proxy", proxy.Url(""));
    const ScopedEnv n1("no_proxy", std::nullopt);
    const ScopedEnv n2("NO_PROXY", std::nullopt);

    EXPECT_EQ(FetchPageTitle("http://video.example.invalid/watch"),
              "via proxy http://video.example.invalid/watch");
    EXPECT_GT(QueryContentLength("http://video.example.invalid/file"), 0);

    const std::size_t seen = proxy.Requests().size();
    TInet inet;
    TMemoryStream stream;
    ASSERT_TRUE(inet.OpenUrl(server.Url("/direct")));
    EXPECT_TRUE(inet.ReadToStream(&stream, 0));
    EXPECT_EQ(stream.Data(), "<title>direct</title>");
    EXPECT_EQ(proxy.Requests().size(), seen);
}

TEST_F(InetTest, DetectMediaExtensionFromTheFirstBytes)
{
    const std::pair<std::string, std::string> cases[] = {
        {std::string("\x00\x00\x00\x1C" "ftypmp42", 12), "mp4"},
        {std::string("\x00\x00\x00\x18" "ftypmp42", 12), "def"},
        {"FLV\x01\x05", "flv"},
        {"ID3\x03\x00", "mp3"},
        {std::string("\xFF\xFB\x90\x00", 4), "mp3"},
        {"RIFF\x10\x00\x00\x00" "AVI ", "avi"},
        {"FLV", "def"},  // fewer than 4 bytes
        {"<html>", "def"},
    };
    int n = 0;
    for (const auto& [first, ext] : cases) {
        SCOPED_TRACE(ext + " #" + std::to_string(n));
        const std::string path = "/m" + std::to_string(n++);
        server.Serve(path, first + std::string(5000, '\x7F'), "application/octet-stream");
        if (first.size() < 4)
            server.Serve(path, first, "application/octet-stream");
        EXPECT_EQ(DetectMediaExtension(server.Url(path), "def", false), ext);
        EXPECT_EQ(DetectMediaExtension(server.Url(path), ".def", true), ext == "def" ? ".def" : "." + ext);
    }
    EXPECT_EQ(DetectMediaExtension("http://127.0.0.1:" + std::to_string(FreePort()) + "/v", ".flv", true), ".flv");
}

TEST_F(InetTest, TheProbeTellsTheServersAnswerAndAFileThatIsNeitherMediaNorPage)
{
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>(i % 256);
    const std::string mp4 = std::string("\x00\x00\x00\x20" "ftypisom", 12) + std::string(2000, '\0');
    const std::string mkv = std::string("\x1A\x45\xDF\xA3\x01\x00", 6) + std::string(2000, '\0');
    const std::string ts =
        std::string("\x47\x40\x00\x10", 4) + std::string(184, '\xFF') + "\x47" + std::string(400, '\0');
    server.Serve("/data.bin", binary, "application/octet-stream");
    server.Serve("/archive.zip", "PK\x03\x04" + binary, "application/zip");
    server.Serve("/untyped", binary, "");
    server.Serve("/film", mp4, "application/octet-stream");
    server.Serve("/film.mkv", mkv, "application/octet-stream");
    server.Serve("/film.ts", ts, "application/octet-stream");
    server.Serve("/list.m3u8", "#EXTM3U\n#EXT-X-VERSION:3\n", "application/octet-stream");
    server.Serve("/manifest", binary, "application/dash+xml");
    server.Serve("/page", "<html><head><title>x</title></head></html>", "text/html");
    server.Serve("/packed", binary, "text/html; charset=utf-8");  // a page's type: the engine reads it
    for (const int status : {403, 500}) {
        server.Handle("/status" + std::to_string(status), [status, binary](const Request&) {
            Response r;
            r.status = status;
            r.headers.emplace_back("Content-Type", "application/octet-stream");
            r.body = binary;
            return r;
        });
    }
    struct TCase {
        const char* Path;
        int Status;
        bool Plain;
    };
    const TCase cases[] = {
        {"/data.bin", 200, true},  {"/archive.zip", 200, true}, {"/untyped", 200, true},
        {"/film", 200, false},     {"/film.mkv", 200, false},   {"/film.ts", 200, false},
        {"/list.m3u8", 200, false}, {"/manifest", 200, false},  {"/page", 200, false},
        {"/packed", 200, false},   {"/status403", 403, false},  {"/status500", 500, false},
        {"/missing", 404, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        const TMediaAddress probe = ProbeMediaAddress(server.Url(c.Path));
        EXPECT_EQ(probe.HttpStatus, c.Status);
        EXPECT_EQ(probe.PlainFile, c.Plain);
        EXPECT_FALSE(probe.IsMedia);
    }
    const TMediaAddress none = ProbeMediaAddress(ClosedPortUrl("/x"));
    EXPECT_EQ(none.HttpStatus, 0);
    EXPECT_FALSE(none.PlainFile);

    EXPECT_TRUE(LooksLikeMediaBytes(mp4));
    EXPECT_TRUE(LooksLikeMediaBytes("OggS\x00\x02"));
    EXPECT_TRUE(LooksLikeMediaBytes(std::string("\xFF\xF1\x50\x80", 4)));  // AAC
    EXPECT_FALSE(LooksLikeMediaBytes(binary));
    EXPECT_FALSE(LooksLikeMediaBytes(std::string("\x89PNG\r\n\x1A\n", 8)));
    EXPECT_TRUE(LooksLikeBinaryBytes(binary));
    EXPECT_FALSE(LooksLikeBinaryBytes("<!DOCTYPE html>\r\n<html>\t\x1B[0m"));
}

// --- Limits of a network step ----------------------------------------------

TEST_F(InetTest, AStepEndsAtItsDeadlineAgainstSilentAndTricklingServers)
{
    server.Handle("/silent", [](const Request&) {
        Response r;
        r.silent = true;
        return r;
    });
    // A byte every 200 ms keeps every stall limit from firing: 5000 bytes take 1000 s.
    server.Handle("/trickle", [](const Request&) {
        Response r;
        r.body = "<html><head><title>" + std::string(5000, 'x');
        r.trickleMs = 200;
        return r;
    });
    using Clock = std::chrono::steady_clock;
    for (const std::string path : {"/silent", "/trickle"}) {
        SCOPED_TRACE(path);
        const auto start = Clock::now();
        {
            const TNetworkStepScope step(std::chrono::milliseconds(1500), nullptr);
            EXPECT_EQ(FetchPageTitle(server.Url(path)), "");
            EXPECT_TRUE(NetworkStepEnded());
            TInet page;
            TMemoryStream stream;
            EXPECT_FALSE(page.OpenUrl(server.Url(path)) && page.ReadToStream(&stream, 0));
        }
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
        EXPECT_FALSE(NetworkStepEnded()); // outside the scope nothing is limited
    }
}

TEST_F(InetTest, ACancelledStepEndsPromptly)
{
    server.Handle("/silent", [](const Request&) {
        Response r;
        r.silent = true;
        return r;
    });
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::string title = "unset";
    std::thread worker([&] {
        const TNetworkStepScope step(std::chrono::seconds(60), &cancel);
        title = FetchPageTitle(server.Url("/silent"));
        done = true;
    });
    ASSERT_TRUE(server.WaitForRequests(1, std::chrono::seconds(10)));
    EXPECT_FALSE(done);
    const auto start = std::chrono::steady_clock::now();
    cancel = true;
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(title, "");
}
