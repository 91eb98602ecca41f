// SPDX-License-Identifier: GPL-3.0-or-later
// The real brimtale-cli, from a folder of its own (settings and profiles beside
// it): a page named from its title, a local clip converted, the lists, the exit
// statuses, Ctrl+C, a hostile title and an existing file.

#include "app/ProgramValues.h"
#include "net/HostSlots.h"
#include "support/MediaFixtures.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <functional>
#include <spawn.h>
#include <sys/stat.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using TRun = TProgramRun;

// Options that only watch the run: whileRunning gets the pid about every 50 ms.
TProgramOptions Watching(const std::function<void(pid_t, const TRun&)>& whileRunning)
{
    TProgramOptions options;
    options.WhileRunning = whileRunning;
    return options;
}

std::string Sha256Hex(const std::string& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr);
    static const char* const hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string Mp4Bytes(std::size_t size)
{
    std::string media = std::string("\0\0\0\x1C" "ftypmp42\0\0\0\0mp42isom", 24);
    media.resize(size, 'v');
    return media;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        exe = dir.File("brimtale-cli");
        fs::copy_file(BRIMTALE_CLI, exe);
        fs::copy_file(std::string(BRIMTALE_SOURCE_DIR) + "/data/bmt_encoder_profiles.ini",
                      dir.File("bmt_encoder_profiles.ini"));
        dir.Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n");
        fs::create_directory(out);
    }

    // A YouTube-like watch page with the given title and one stream of format 22.
    void ServePage(const std::string& title, testhttp::Response media)
    {
        server.Handle("/watch", [this, title](const testhttp::Request&) {
            testhttp::Response r;
            r.body = "<html><head><title>" + title + "</title></head><body>" +
                     server.Url("/videoplayback?itag=22&id=0123456789abcdef&k=1") + "\n</body></html>";
            return r;
        });
        server.Handle("/videoplayback", [media](const testhttp::Request&) { return media; });
    }

    std::string PageUrl() const { return server.Url("/watch?v=abc&m=.youtube."); }

    TempDir dir;
    std::string exe;
    std::string out = dir.File("videos");
    testhttp::TestHttpServer server{std::chrono::seconds(120)};
};

} // namespace

TEST_F(Cli, DownloadsAPageNamedFromItsTitle)
{
    testhttp::Response media;
    media.body = Mp4Bytes(200 * 1024);
    media.headers = {{"Content-Type", "video/mp4"}};
    ServePage("A clip", media);
    const TRun run = RunProgram(exe, {"-d", out, PageUrl()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, out + "/A clip.mp4\n");
    EXPECT_EQ(TempDir::Read(out + "/A clip.mp4"), media.body);

    // The same again: the existing file stays, the new one is numbered.
    const TRun again = RunProgram(exe, {"-q", "-d", out, PageUrl()});
    ASSERT_EQ(again.Status, 0) << again.Err;
    EXPECT_EQ(again.Out, out + "/A clip_01.mp4\n");
    EXPECT_EQ(again.Err, "");
    EXPECT_EQ(TempDir::Read(out + "/A clip.mp4"), media.body);
}

// A folder that takes no file is said at once, before any page is asked for.
TEST_F(Cli, AFolderThatTakesNoFileIsSaidBeforeAnythingIsFetched)
{
    ServePage("A clip", testhttp::Response{});
    // /proc takes no new file, not even from root.
    const TRun run = RunProgram(exe, {"-d", "/proc", PageUrl()});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "brimtale-cli: The folder can't be written: /proc\n");
    EXPECT_TRUE(server.Requests().empty());
    const TRun under = RunProgram(exe, {"-d", dir.File("bmt.ini") + "/sub", PageUrl()});
    EXPECT_EQ(under.Status, 1);
    EXPECT_NE(under.Err.find(dir.File("bmt.ini") + "/sub"), std::string::npos) << under.Err;
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Cli, AHostileTitleGivesOneSafeFileName)
{
    testhttp::Response media;
    media.body = Mp4Bytes(10 * 1024);
    ServePage("../x/%(id)s \"q\" $(touch pwned); `id`\nnext " + std::string(2000, 'z'), media);
    const TRun run = RunProgram(exe, {"-d", out, PageUrl()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    ASSERT_FALSE(run.Out.empty());
    const std::string path = run.Out.substr(0, run.Out.size() - 1);
    EXPECT_EQ(path.rfind(out + "/", 0), 0u);
    EXPECT_EQ(path.find('/', out.size() + 1), std::string::npos);
    EXPECT_LE(path.size() - out.size() - 1, 255u);
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
    EXPECT_FALSE(std::filesystem::exists(dir.File("pwned")));
}

TEST_F(Cli, ConvertsALocalClipWithAShippedProfile)
{
    const std::string clip = out + "/in clip.avi";
    const TRun made = RunProgram("/usr/bin/ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                      "testsrc=duration=1:size=160x120:rate=10", "-c:v", "mpeg4", clip});
    if (made.Status != 0)
        GTEST_SKIP() << "no ffmpeg";
    const TRun run = RunProgram(exe, {"-p", "avi (mpeg-4/mp3)", "-d", out, clip});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string converted = out + "/in clip_01.avi";
    EXPECT_EQ(run.Out, converted + "\n");
    const TRun probe = RunProgram("/usr/bin/ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of",
                                                       "csv=p=0", converted});
    EXPECT_EQ(probe.Status, 0);
    EXPECT_EQ(probe.Out, "mpeg4\n");
    EXPECT_TRUE(std::filesystem::exists(clip)); // kept without --delete-input

    // Without a profile a local file is refused with the dialog's message.
    const TRun refused = RunProgram(exe, {"-d", out, clip});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("To convert selected file you must specify the output format!"), std::string::npos);
}

TEST_F(Cli, ListsAndUsage)
{
    const TRun list = RunProgram(exe, {"--list-profiles"});
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out.rfind("MP4_H264\tMP4 (H.264/AAC)\n", 0), 0u) << list.Out;
    EXPECT_NE(list.Out.find("\nMP3\tMP3 audio only\n"), std::string::npos);

    EXPECT_EQ(RunProgram(exe, {"--help"}).Status, 0);

    // The formats a page offers: this one only HD 720p.
    testhttp::Response media;
    media.body = Mp4Bytes(1024);
    ServePage("Formats", media);
    const TRun formats = RunProgram(exe, {"--list-formats", PageUrl()});
    EXPECT_EQ(formats.Status, 0) << formats.Err;
    EXPECT_EQ(formats.Out, "MP4_720\tHD 720p\n");
    EXPECT_EQ(RunProgram(exe, {"--list-formats", "not a page"}).Status, 1);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--bogus", "x"}, {"-d"}, {}, {"-p", "no such profile", "x"}, {"-f", "MP4 9000", "x"},
             {"-o", "a", "x", "y"}}) {
        const TRun run = RunProgram(exe, bad);
        EXPECT_EQ(run.Status, 2) << (bad.empty() ? "" : bad[0]);
        EXPECT_NE(run.Err.find("brimtale-cli: "), std::string::npos);
    }
    EXPECT_NE(RunProgram(exe, {"--bogus"}).Err.find("--bogus"), std::string::npos);
}

TEST_F(Cli, AnyPageAndAMediaAddressWithoutASite)
{
    const std::string clip = fixtures::MakeClip(dir.File("clip.mp4"), 2);
    ASSERT_FALSE(clip.empty());
    server.Serve("/files/clip.mp4", TempDir::Read(clip), "video/mp4");
    server.Serve("/page", "<html><head><title>Holiday</title></head><body><video src=\"/files/clip.mp4\"></video></body></html>");
    const TRun run = RunProgram(exe, {"--no-metadata", "-d", out, server.Url("/page"), server.Url("/files/clip.mp4")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    // One line per input: the page through the engine (named from its title), the file as it is.
    const std::size_t newline = run.Out.find('\n');
    ASSERT_NE(newline, std::string::npos);
    const std::string fromPage = run.Out.substr(0, newline);
    EXPECT_EQ(fromPage.rfind(out + "/Holiday", 0), 0u) << fromPage;
    EXPECT_EQ(fromPage.substr(fromPage.size() - 4), ".mp4");
    EXPECT_EQ(TempDir::Read(fromPage), TempDir::Read(clip));
    EXPECT_EQ(run.Out.substr(newline + 1), out + "/clip.mp4\n");
    EXPECT_EQ(TempDir::Read(out + "/clip.mp4"), TempDir::Read(clip));
}

TEST_F(Cli, FormatsOfAYouTubePageComeFromTheEngineWhenItsOwnGiveNothing)
{
    const std::string clip = fixtures::MakeClip(dir.File("clip.mp4"), 2, "640x360");
    ASSERT_FALSE(clip.empty());
    ASSERT_TRUE(fixtures::MakeDash(clip, dir.File("dash")));
    fixtures::ServeFiles(server, "/dash/", dir.File("dash"));
    const TRun run = RunProgram(exe, {"--list-formats", server.Url("/dash/manifest.mpd?v=abc&m=.youtube.")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "MP4_360\t360p\nFLV_360\t360p\n");
}

TEST_F(Cli, OneFailedInputFailsTheRunAndTheOthersStillRun)
{
    testhttp::Response media;
    media.body = Mp4Bytes(10 * 1024);
    ServePage("Fine", media);
    server.Serve("/empty", "<html><head><title>Nothing</title></head><body>no media</body></html>");
    const TRun run = RunProgram(exe, {"-d", out, "not an address", server.Url("/empty?v=1&m=.youtube."), PageUrl()});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("Invalid URL or input file does not exist!"), std::string::npos);
    // The site's own resolver found nothing, and neither did the page engine.
    EXPECT_NE(run.Err.find("No video or music found on this page."), std::string::npos);
    EXPECT_EQ(run.Out, out + "/Fine.mp4\n");
}

// An address the server answers with an error, or a file that is no media:
// one line in the program's words and language; the engine's own line goes to
// the error log.
TEST_F(Cli, AServersErrorAnswerOrAFileThatIsNoMediaIsSaidInTheProgramsWords)
{
    testhttp::ServeRefusalsAndAPlainFile(server);
    struct TCase {
        const char* Path;
        const char* English;
        const char* Polish;
        const char* EngineLine;  // in the error log; nullptr: the engine is not asked
    };
    const TCase cases[] = {
        {"/missing", "The server says this address does not exist (404).",
         "Serwer podaje, że ten adres nie istnieje (404).", "HTTP Error 404"},
        {"/status403", "The server refused access (403).", "Serwer odmówił dostępu (403).", "HTTP Error 403"},
        {"/status500", "The server failed (500).", "Wystąpił błąd serwera (500).", "HTTP Error 500"},
        {"/files/data.bin", "This address gives a file that is no video or music.",
         "Pod tym adresem jest plik, który nie jest filmem ani muzyką.", nullptr},
    };
    const std::string log = dir.File("bmt_errors.log");
    for (const bool polish : {false, true}) {
        dir.Write("bmt.ini", polish ? "[Main]\r\nLanguage=PL\r\n" : "[Main]\r\nLanguage=EN\r\n");
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(c.Path) + (polish ? " PL" : " EN"));
            ::unlink(log.c_str());
            const TRun run = RunProgram(exe, {"-d", out, server.Url(c.Path)});
            EXPECT_EQ(run.Status, 1);
            EXPECT_EQ(run.Out, "");
            EXPECT_NE(run.Err.find(std::string("brimtale-cli: ") + (polish ? c.Polish : c.English)), std::string::npos)
                << run.Err;
            for (const char* engines :
                 {"report", "yt-dlp -U", "HTTP Error", "Invalid data", "No video or music", "Na tej stronie"})
                EXPECT_EQ(run.Err.find(engines), std::string::npos) << run.Err;
            if (c.EngineLine) {
                EXPECT_NE(TempDir::Read(log).find(c.EngineLine), std::string::npos);
            }
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(Cli, CtrlCStopsTheTransferAndKeepsThePartialFile)
{
    testhttp::Response media;
    media.generatedSize = 4 * 1024 * 1024; // some three seconds
    media.paceMs = 50;
    ServePage("Slow", media);
    // Ctrl+C once the progress shows bytes on their way.
    bool sent = false;
    const TRun run = RunProgram(exe, {"-d", out, PageUrl()}, Watching([&](pid_t pid, const TRun& sofar) {
        if (!sent && sofar.Err.find(" MB / 4.00 MB") != std::string::npos) {
            sent = true;
            ::kill(pid, SIGINT);
        }
    }));
    ASSERT_TRUE(sent) << run.Err;
    EXPECT_EQ(run.Status, 130) << run.Err;
    const std::string kept = "the partial file is kept: ";
    const std::size_t at = run.Err.find(kept);
    ASSERT_NE(at, std::string::npos) << run.Err;
    const std::string partial = run.Err.substr(at + kept.size(), run.Err.find('\n', at) - at - kept.size());
    EXPECT_EQ(partial.rfind(out + "/Slow", 0), 0u) << partial;
    EXPECT_GT(std::filesystem::file_size(partial), 0u);
    EXPECT_LT(std::filesystem::file_size(partial), 4u * 1024 * 1024);
    EXPECT_EQ(run.Out, "");
}

// The same page started twice, half a second apart: two jobs, two names, two
// whole files, never one folder or one file written by both.
TEST_F(Cli, TheSamePageStartedTwiceGivesTwoWholeFiles)
{
    const std::string clip = fixtures::MakeClip(dir.File("clip.mp4"), 8, "640x360");
    ASSERT_FALSE(clip.empty());
    testhttp::Response media;
    media.body = TempDir::Read(clip);
    media.headers = {{"Content-Type", "video/mp4"}};
    media.paceMs = 150;  // a few seconds each, so the two overlap
    server.Handle("/files/clip.mp4", [media](const testhttp::Request&) { return media; });
    server.Serve("/page", "<html><head><title>Twice</title></head><body><video src=\"/files/clip.mp4\"></video></body></html>");

    TRun first;
    // The files as served: no title or chapters added.
    const std::vector<std::string> args = {"-q", "--no-metadata", "-d", out, "-o", "Twice.mp4", server.Url("/page")};
    std::thread firstRun([&] { first = RunProgram(exe, args); });
    // The second starts once the first has taken its name.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(out + "/.Twice.mp4.parts") && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const TRun second = RunProgram(exe, args);
    firstRun.join();

    ASSERT_EQ(first.Status, 0) << first.Err;
    ASSERT_EQ(second.Status, 0) << second.Err;
    EXPECT_EQ(first.Out, out + "/Twice.mp4\n");
    EXPECT_EQ(second.Out, out + "/Twice_01.mp4\n");
    for (const std::string name : {"Twice.mp4", "Twice_01.mp4"}) {
        EXPECT_TRUE(TempDir::Read(out + "/" + name) == media.body) << name;
        EXPECT_EQ(fixtures::StreamTypes(out + "/" + name), (std::vector<std::string>{"video", "audio"})) << name;
    }
    EXPECT_EQ(fixtures::FolderEntries(out), (std::vector<std::string>{"Twice.mp4", "Twice_01.mp4"}));
}

// Every shipped profile after an MP4 download through the engine: the converted
// file takes a free numbered name beside the download, which stays.
TEST_F(Cli, EveryShippedProfileConvertsAnMp4Page)
{
    const std::string clip = fixtures::MakeClip(dir.File("clip.mp4"), 2);
    ASSERT_FALSE(clip.empty());
    server.Serve("/files/clip.mp4", TempDir::Read(clip), "video/mp4");
    server.Serve("/page", "<html><head><title>Film</title></head><body><video src=\"/files/clip.mp4\"></video></body></html>");
    const TRun list = RunProgram(exe, {"--list-profiles"});
    ASSERT_EQ(list.Status, 0);
    int profiles = 0;
    for (std::size_t at = 0, end; (end = list.Out.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string section = list.Out.substr(at, list.Out.find('\t', at) - at);
        ++profiles;
        const std::string folder = out + "/" + section;
        std::filesystem::create_directory(folder);
        const TRun run = RunProgram(exe, {"-q", "-p", section, "-d", folder, "-o", "Film", server.Url("/page")});
        ASSERT_EQ(run.Status, 0) << section << ": " << run.Err;
        const std::string converted = run.Out.substr(0, run.Out.size() - 1);
        if (section == "MP4_H264" || section == "PHONE_MP4") {
            EXPECT_EQ(converted, folder + "/Film_01.mp4");
        }
        EXPECT_TRUE(std::filesystem::exists(folder + "/Film.mp4")) << section;  // the download stays
        EXPECT_FALSE(fixtures::StreamTypes(converted).empty()) << section << ": " << converted;
        // The download and the converted file, and nothing else (no temporary file).
        EXPECT_EQ(fixtures::FolderEntries(folder).size(), 2u) << section;
    }
    EXPECT_GE(profiles, 6);
}

// A conversion that fails is a failure: exit status 1, the reason, and no
// file under the final name.
TEST_F(Cli, AFailedConversionFailsTheRunAndLeavesNoOutput)
{
    const std::string input = out + "/broken.avi";
    dir.Write("videos/broken.avi", "not a video at all");
    const TRun run = RunProgram(exe, {"-p", "MP4_H264", "-d", out, input});
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_NE(run.Err.find("Conversion failed"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(fixtures::FolderEntries(out), std::vector<std::string>{"broken.avi"});
}

namespace {
// A port on 127.0.0.1 that nothing listens on at the moment.
int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool Listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}
} // namespace

// An HTTPS server whose certificate nobody vouches for: the reason says so,
// not "invalid address" or "connection error".
TEST_F(Cli, AnUntrustedCertificateIsNamed)
{
    const std::string key = dir.File("key.pem");
    const std::string cert = dir.File("cert.pem");
    const TRun made = RunProgram("/usr/bin/openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                                                      "-out", cert, "-subj", "/CN=127.0.0.1", "-days", "1"});
    if (made.Status != 0)
        GTEST_SKIP() << "no openssl";
    const int port = FreePort();
    ASSERT_GT(port, 0);
    pid_t tlsServer = -1;
    std::vector<std::string> args = {"/usr/bin/openssl", "s_server", "-quiet", "-accept", "127.0.0.1:" + std::to_string(port),
                                     "-cert", cert, "-key", key, "-www"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ASSERT_EQ(::posix_spawn(&tlsServer, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!Listening(port) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/clip.mp4";
    const TRun run = RunProgram(exe, {"-d", out, url});
    ::kill(tlsServer, SIGKILL);
    ::waitpid(tlsServer, nullptr, 0);
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("The server's certificate is not trusted: " + url), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find("Invalid URL"), std::string::npos) << run.Err;
    EXPECT_TRUE(fixtures::FolderEntries(out).empty());
}

// A disk that fills up: the true reason, no tries that can't help, and the
// conversion's broken output gone. Needs root for a small tmpfs of its own.
TEST_F(Cli, AFullDiskIsNamedAndNotRetried)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const std::string small = dir.File("small");
    std::filesystem::create_directory(small);
    if (RunProgram("/bin/mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", small}).Status != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    struct Unmount {
        std::string path;
        ~Unmount() { RunProgram("/bin/umount", {path}); }
    } unmount{small};

    testhttp::Response media;
    media.generatedSize = 2 * 1024 * 1024;
    media.headers = {{"Content-Type", "video/mp4"}};
    server.Handle("/files/big.mp4", [media](const testhttp::Request&) { return media; });
    const TRun run = RunProgram(exe, {"-d", small, server.Url("/files/big.mp4")});
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("Disk full: " + small), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find("Retrying"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find("Connection error"), std::string::npos) << run.Err;

    // A conversion that doesn't fit: the reason, and nothing left under any name.
    for (const std::string& name : fixtures::FolderEntries(small))
        std::filesystem::remove(small + "/" + name);
    const std::string clip = out + "/noise.avi";
    const TRun made = RunProgram("/usr/bin/ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                      "testsrc=duration=30:size=320x240:rate=25", "-c:v", "mpeg4",
                                                      "-q:v", "31", clip});
    ASSERT_EQ(made.Status, 0) << made.Err;
    const TRun convert = RunProgram(exe, {"-p", "AVI_MPEG4", "-d", small, clip});
    EXPECT_EQ(convert.Status, 1);
    EXPECT_NE(convert.Err.find("Disk full: " + small), std::string::npos) << convert.Err;
    EXPECT_TRUE(fixtures::FolderEntries(small).empty());
}

// A transfer that breaks is tried again and continued where the file ends, as
// in the download window; a page that can't be read says why, not that a name
// is missing.
TEST_F(Cli, ABrokenTransferIsContinuedAndAFailedLookUpSaysWhy)
{
    const std::uint64_t size = 1024 * 1024;
    std::atomic<int> continued{0};
    server.Handle("/files/clip.mp4", [&, size](const testhttp::Request& request) {
        testhttp::Response r;
        r.generatedSize = size;
        r.headers = {{"Content-Type", "video/mp4"}};
        // From the start (asked for whole or from byte 0) it always breaks
        // after 300 KiB (the probe reads less); the first try to continue finds
        // the server down, the next one works.
        const auto range = request.headers.find("range");
        if (range == request.headers.end() || range->second == "bytes=0-")
            r.dropAfter = 300 * 1024;
        else if (continued++ == 0)
            r.dropAfter = 0;
        return r;
    });
    const TRun run = RunProgram(exe, {"-d", out, server.Url("/files/clip.mp4")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Err.find("Retrying 2/6..."), std::string::npos) << run.Err;
    EXPECT_TRUE(TempDir::Read(out + "/clip.mp4") == testhttp::GeneratedBody(0, size));
    const auto requests = server.Requests();
    ASSERT_GE(requests.size(), 4u);
    const auto range = requests.back().headers.find("range");
    ASSERT_NE(range, requests.back().headers.end());
    EXPECT_EQ(range->second, "bytes=" + std::to_string(300 * 1024) + "-");

    const TRun closed = RunProgram(exe, {"-d", out, "http://127.0.0.1:1/watch?v=1"});
    EXPECT_EQ(closed.Status, 1);
    EXPECT_EQ(closed.Err.find("You must enter a valid file name!"), std::string::npos) << closed.Err;
    EXPECT_NE(closed.Err.find("127.0.0.1:1"), std::string::npos) << closed.Err;
}

// A file large enough comes over the connections asked for, each a part of it
// written in place; the bytes are the server's and nothing is left beside them.
TEST_F(Cli, ALargeFileComesOverSeveralConnections)
{
    const std::string media = Mp4Bytes(9 * 1024 * 1024 + 77);
    server.Handle("/files/big.mp4", [&media](const testhttp::Request&) {
        testhttp::Response r;
        r.body = media;
        r.paceMs = 15;  // a second or two over one connection: worth more
        r.headers = {{"Content-Type", "video/mp4"}, {"ETag", "\"1\""}};
        return r;
    });
    const TRun run = RunProgram(exe, {"--connections", "3", "-d", out, server.Url("/files/big.mp4")});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(TempDir::Read(out + "/big.mp4") == media);
    EXPECT_FALSE(std::filesystem::exists(out + "/big.mp4.parts"));
    std::set<std::string> ranges;
    for (const auto& request : server.Requests()) {
        const auto range = request.headers.find("range");
        if (range != request.headers.end())
            ranges.insert(range->second);
    }
    EXPECT_GE(ranges.size(), 3u);
    EXPECT_TRUE(ranges.count("bytes=0-"));

    for (const char* bad : {"0", "17", "many", ""}) {
        const TRun r = RunProgram(exe, {"--connections", bad, "x"});
        EXPECT_EQ(r.Status, 2) << bad << ": " << r.Err;
        EXPECT_NE(r.Err.find("--connections"), std::string::npos) << r.Err;
    }
}

// The connections to one host are shared with every other job of the user, in
// whatever process: while another holds them all, the download waits, and it
// goes on once they are free.
TEST_F(Cli, AnotherProcessHoldingTheHostsConnectionsMakesTheDownloadWait)
{
    const std::string media = Mp4Bytes(2 * 1024 * 1024);
    server.Handle("/files/wait.mp4", [&media](const testhttp::Request&) {
        testhttp::Response r;
        r.body = media;
        r.headers = {{"Content-Type", "video/mp4"}};
        return r;
    });
    const std::string runtime = dir.File("runtime");
    std::filesystem::create_directory(runtime);
    ::chmod(runtime.c_str(), 0700);
    const std::string folder = runtime + "/brimtale-" + std::to_string(::geteuid()) + "-connections";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    auto held = std::make_unique<THostSlots>(folder, HostKeyOf(server.Url("/")), 2);
    ASSERT_GE(held->TryTake(), 0);
    ASSERT_GE(held->TryTake(), 0);

    auto ranged = [this] {
        int n = 0;
        for (const auto& request : server.Requests())
            n += request.headers.count("range") ? 1 : 0;
        return n;
    };
    int rangedWhileHeld = 0;
    std::optional<std::chrono::steady_clock::time_point> probed;
    TProgramOptions options = Watching([&](pid_t, const TRun&) {
        if (!held)
            return;
        if (!probed && !server.Requests().empty())
            probed = std::chrono::steady_clock::now();
        // Half a second after the look-up the download has had every chance to ask.
        if (probed && std::chrono::steady_clock::now() - *probed > std::chrono::milliseconds(500)) {
            rangedWhileHeld = ranged();
            held.reset();
        }
    });
    options.Env = {"XDG_RUNTIME_DIR=" + runtime};
    const TRun run = RunProgram(exe, {"--connections", "2", "-d", out, server.Url("/files/wait.mp4")}, options);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_FALSE(held);
    EXPECT_EQ(rangedWhileHeld, 0);
    EXPECT_GE(ranged(), 1);
    EXPECT_TRUE(TempDir::Read(out + "/wait.mp4") == media);
}

TEST_F(Cli, PageEngineStatusUpdateAndRestore)
{
    // Where the engine comes from and the runtime, one line each.
    const TRun status = RunProgram(exe, {"--engine-status"});
    EXPECT_EQ(status.Status, 0);
    EXPECT_EQ(status.Out.rfind("engine: ", 0), 0u) << status.Out;
    EXPECT_NE(status.Out.find("\nruntime: "), std::string::npos) << status.Out;
    EXPECT_EQ(std::count(status.Out.begin(), status.Out.end(), '\n'), 2);

    // No release server: one line says why, and nothing changed.
    ::setenv("BRIMTALE_RELEASES_URL", "http://127.0.0.1:1", 1);
    const TRun update = RunProgram(exe, {"--update-engine", "--channel", "nightly"});
    ::unsetenv("BRIMTALE_RELEASES_URL");
    EXPECT_EQ(update.Status, 1);
    EXPECT_NE(update.Err.find("Looking for the newest release...\n"), std::string::npos) << update.Err;
    EXPECT_NE(update.Err.find("The page engine is unchanged: the release server can't be reached"), std::string::npos)
        << update.Err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("engine/yt-dlp")));

    const TRun restore = RunProgram(exe, {"--restore-engine"});
    EXPECT_EQ(restore.Status, 1);
    EXPECT_EQ(restore.Err, "The page engine is unchanged: there is no update to undo.\n");

    EXPECT_EQ(RunProgram(exe, {"--update-engine", "--channel", "weekly"}).Status, 2);
    EXPECT_EQ(RunProgram(exe, {"--channel", "nightly", "x"}).Status, 2);
}

// The system's engine on PATH, then the first update of the program's own:
// --restore-engine goes back to the one on PATH, and only once.
TEST_F(Cli, RestoreEngineGoesBackToTheEngineOnPathOnce)
{
    const std::string gpg = FindExecutable("gpg");
    if (gpg.empty() || FindExecutable("gpgv").empty())
        GTEST_SKIP() << "gpg or gpgv is not installed";
    // A signing key of the test's own, trusted instead of the engine's, and a
    // release signed with it.
    TempDir home;
    ::chmod(home.Path().c_str(), 0700);
    TProgramOptions gpgRun;
    gpgRun.Env = {"GNUPGHOME=" + home.Path()};
    ASSERT_EQ(RunProgram(gpg, {"--batch", "--pinentry-mode", "loopback", "--passphrase", "", "--quick-gen-key",
                               "Test <test@example.invalid>", "ed25519", "sign", "never"},
                         gpgRun)
                  .Status,
              0);
    ASSERT_EQ(RunProgram(gpg, {"--batch", "--armor", "--output", home.File("key.asc"), "--export", "test@example.invalid"},
                         gpgRun)
                  .Status,
              0);
    const std::string engine = "#!/bin/sh\necho 2026.12.01\n";
    const std::string sums = Sha256Hex(engine) + "  yt-dlp\n" + Sha256Hex(engine) + "  yt-dlp_linux\n";
    home.Write("SHA2-256SUMS", sums);
    ASSERT_EQ(RunProgram(gpg, {"--batch", "--pinentry-mode", "loopback", "--passphrase", "", "--detach-sign", "--output",
                               home.File("SHA2-256SUMS.sig"), home.File("SHA2-256SUMS")},
                         gpgRun)
                  .Status,
              0);
    const std::string signature = TempDir::Read(home.File("SHA2-256SUMS.sig"));
    if (const std::string gpgconf = FindExecutable("gpgconf"); !gpgconf.empty())
        RunProgram(gpgconf, {"--kill", "gpg-agent"}, gpgRun);
    testhttp::TestHttpServer releases;
    testhttp::ServeEngineRelease(releases, "2026.12.01", sums, signature, engine);

    // The system's engine: a stand-in first on PATH.
    std::filesystem::create_directory(dir.File("bin"));
    const std::string system = WriteScript(dir.File("bin/yt-dlp"), "echo 2023.03.04\n");
    TProgramOptions options;
    options.Env = {"PATH=" + dir.File("bin") + ":/usr/bin:/bin", "BRIMTALE_RELEASES_URL=" + releases.Url(""),
                   "BRIMTALE_RELEASES_KEYRING=" + home.File("key.asc")};
    const std::string onPath = "engine: " + system + " 2023.03.04, ";
    TRun status = RunProgram(exe, {"--engine-status"}, options);
    EXPECT_EQ(status.Out.rfind(onPath, 0), 0u) << status.Out;

    const TRun update = RunProgram(exe, {"-q", "--update-engine"}, options);
    ASSERT_EQ(update.Status, 0) << update.Err;
    EXPECT_EQ(update.Err.rfind("Page engine updated to 2026.12.01.", 0), 0u) << update.Err;
    status = RunProgram(exe, {"--engine-status"}, options);
    EXPECT_EQ(status.Out.rfind("engine: " + dir.File("engine/yt-dlp") + " 2026.12.01, ", 0), 0u) << status.Out;

    // Back to the one on PATH, with where it comes from.
    TRun restore = RunProgram(exe, {"--restore-engine", "--engine-status"}, options);
    EXPECT_EQ(restore.Status, 0) << restore.Err;
    EXPECT_EQ(restore.Err, "The previous page engine is back (2023.03.04, on PATH).\n");
    EXPECT_EQ(restore.Out.rfind(onPath, 0), 0u) << restore.Out;
    EXPECT_NE(restore.Out.find(" (path)\n"), std::string::npos) << restore.Out;

    // Once: a second one changes nothing and says so.
    restore = RunProgram(exe, {"--restore-engine", "--engine-status"}, options);
    EXPECT_EQ(restore.Status, 1);
    EXPECT_EQ(restore.Err, "The page engine is unchanged: there is no update to undo.\n");
    EXPECT_EQ(restore.Out.rfind(onPath, 0), 0u) << restore.Out;

    // The same in Polish, after the next update.
    dir.Write("bmt.ini", "[Main]\r\nLanguage=PL\r\n");
    ASSERT_EQ(RunProgram(exe, {"-q", "--update-engine"}, options).Status, 0);
    restore = RunProgram(exe, {"--restore-engine"}, options);
    EXPECT_EQ(restore.Status, 0) << restore.Err;
    EXPECT_EQ(restore.Err, "Przywrócono poprzedni silnik stron (2023.03.04, z PATH).\n");
    restore = RunProgram(exe, {"--restore-engine", "--engine-status"}, options);
    EXPECT_EQ(restore.Status, 1);
    EXPECT_EQ(restore.Err, "Silnik stron bez zmian: nie ma aktualizacji do cofnięcia.\n");
    EXPECT_EQ(restore.Out.rfind(onPath, 0), 0u) << restore.Out;

    // An own copy before the update: it is back once, and a second
    // --restore-engine never puts the newer one back.
    dir.Write("bmt.ini", "[Main]\r\nLanguage=EN\r\n");
    const std::string own = WriteScript(dir.File("engine/yt-dlp"), "echo 2025.01.01\n");
    ::chmod(own.c_str(), 0755);
    ASSERT_EQ(RunProgram(exe, {"-q", "--update-engine"}, options).Status, 0);
    restore = RunProgram(exe, {"--restore-engine"}, options);
    EXPECT_EQ(restore.Status, 0) << restore.Err;
    EXPECT_EQ(restore.Err, "The previous page engine is back (2025.01.01, Brimtale's own copy).\n");
    restore = RunProgram(exe, {"--restore-engine", "--engine-status"}, options);
    EXPECT_EQ(restore.Status, 1);
    EXPECT_EQ(restore.Err, "The page engine is unchanged: there is no update to undo.\n");
    EXPECT_EQ(restore.Out.rfind("engine: " + own + " 2025.01.01, ", 0), 0u) << restore.Out;
}
