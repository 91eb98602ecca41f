// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the whole road of one download on a bundled sample, on this computer only:
// a page of a recognised site and a short generated clip are served on 127.0.0.1;
// the page is resolved and named as the new-download dialog does it, and the job
// is handed to a real download process, which downloads the clip, converts it
// with the first conversion profile and ends by itself.
//
// Usage: brimtale_sample [--program PATH] [--dir DIR] [--cli]
// With --cli the same job runs through brimtale-cli (beside the program) instead.

#include "app/DownloadJob.h"
#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "system/ConRun.h"
#include "convert/EncoderProfiles.h"
#include "system/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"
#include "system/ZQ_System.h"
#include "sites/VideoSite.h"
#include "sites/ZQ_YouTube.h"
#include "support/TestHttpServer.h"
#include "plan/OutputNaming.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {
std::string ReadAll(const std::string& path)
{
    return ReadWholeFile(path, 64 * 1024 * 1024).Text;
}

std::string PercentEncode(const std::string& s)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.')
            out.push_back(static_cast<char>(c));
        else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "brimtale_sample: %s\n", message.c_str());
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    const std::string self = ExecutablePath();
    std::string program = ExtractFileDir(self) + "/brimtale";
    std::string dir = ExtractFileDir(self) + "/sample";
    bool throughCli = false;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--cli")
            throughCli = true;
        else if (opt == "--program" && i + 1 < argc)
            program = argv[++i];
        else if (opt == "--dir" && i + 1 < argc)
            dir = argv[++i];
    }
    if (!FileExists(program))
        return Fail("the program is not built: " + program);
    const std::string ffmpeg = FindExecutable("ffmpeg");
    if (ffmpeg.empty())
        return Fail("ffmpeg is not installed");

    // A folder of its own, with a copy of the program beside its own settings,
    // so that the sample never touches the user's files.
    std::error_code ec;
    fs::create_directories(dir + "/downloads", ec);
    fs::copy_file(program, dir + "/brimtale", fs::copy_options::overwrite_existing, ec);
    if (ec)
        return Fail("cannot copy the program into " + dir + ": " + ec.message());
    if (throughCli)
        fs::copy_file(ExtractFileDir(program) + "/brimtale-cli", dir + "/brimtale-cli",
                      fs::copy_options::overwrite_existing, ec);
    fs::copy_file(ExtractFileDir(program) + "/bmt_encoder_profiles.ini", dir + "/bmt_encoder_profiles.ini",
                  fs::copy_options::overwrite_existing, ec);
    TIniFile settings(dir + "/bmt.ini");
    settings.WriteStrings({{"Main", {"Language", "EN"}}, {"Main", {"AutoClose", "1"}},
                           {"Main", {"LastDir", dir + "/downloads"}}});

    // The clip: ten seconds of a test picture and a tone, as Flash video.
    const std::string clip = dir + "/sample_clip.flv";
    std::printf("Making a 10-second sample clip with %s ...\n", ffmpeg.c_str());
    std::vector<std::string> lines;
    const std::uint32_t made = RunConsoleApp(
        ffmpeg,
        std::vector<std::string>{"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=duration=10:size=640x360:rate=25",
                                 "-f", "lavfi", "-i", "sine=frequency=440:duration=10", "-c:v", "flv", "-q:v", "4",
                                 "-c:a", "aac", "-shortest", clip},
        &lines, nullptr);
    if (made != 0 || FileSizeOf(clip) == 0)
        return Fail("ffmpeg could not make the sample clip");

    // The site, on 127.0.0.1.
    testhttp::TestHttpServer server(std::chrono::seconds(600));
    const std::string clipData = ReadAll(clip);
    server.Serve("/videoplayback", clipData, "video/x-flv");
    const std::string media = server.Url("/videoplayback?itag=34&id=0123456789abcdef0123&sig=sample");
    std::string page = ReadAll(std::string(BRIMTALE_SAMPLE_DIR) + "/watch.html");
    const std::size_t at = page.find("{{STREAMS}}");
    if (at == std::string::npos)
        return Fail("the sample page is damaged");
    page.replace(at, 11, PercentEncode("url=" + media + "&quality=medium&itag=34"));
    server.Serve("/www.youtube.com/watch", page);
    const std::string pageUrl = server.Url("/www.youtube.com/watch?v=BrimtaleSample");

    if (throughCli) {
        // The same road from the terminal program: one command line.
        const std::vector<TEncoderProfile> profiles = ReadEncoderProfiles(dir + "/bmt_encoder_profiles.ini");
        std::vector<std::string> args{"-f", "FLV_360", "-d", dir + "/downloads"};
        if (!profiles.empty())
            args.insert(args.end(), {"-p", profiles.front().Section});
        args.push_back(pageUrl);
        std::printf("Running: brimtale-cli");
        for (const std::string& a : args)
            std::printf(" %s", a.c_str());
        std::printf("\n");
        std::uint32_t code = 1;
        try {
            code = RunConsoleApp(dir + "/brimtale-cli", args, nullptr, [](int, const std::string& line) {
                if (!line.empty())
                    std::printf("  %s\n", line.c_str());
                std::fflush(stdout);
            });
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
        }
        std::printf("\nbrimtale-cli ended with code %u; the files are in %s/downloads\n", code, dir.c_str());
        return code == 0 ? 0 : 1;
    }

    // What the new-download dialog does with the address.
    std::printf("Page: %s\n", pageUrl.c_str());
    const TVideoSite site = DetectVideoSite(pageUrl);
    if (site != vsYouTube)
        return Fail("the sample page was not recognised");
    const std::string name = FileNameFromPage(pageUrl, site);
    const TYT_MovieItem item = GetYouTubeMovie(pageUrl, 34);
    if (!item.Found)
        return Fail("no media address found on the sample page");
    std::string output = CleanDoubledExtension(dir + "/downloads/" + name + item.Extension);
    output = GetUniqueFileName(output);
    const std::int64_t size = QueryContentLength(item.URL);

    TDownloadJob job;
    job.Switch = "-get";
    job.Source = pageUrl;
    job.MediaUrl = item.URL;
    job.OutputFile = output;
    job.ExpectedSize = size > 0 && size <= INT32_MAX ? static_cast<std::int32_t>(size) : 0;
    job.EncoderParams = "-";
    job.EncoderExt = "-";
    job.TargetExt = "-";
    const std::vector<TEncoderProfile> profiles = ReadEncoderProfiles(dir + "/bmt_encoder_profiles.ini");
    if (!profiles.empty()) {
        job.EncoderParams = profiles.front().Params;
        job.EncoderExt = profiles.front().EncExt;
        job.TargetExt = profiles.front().Ext;
        std::printf("Profile: %s\n", profiles.front().DisplayName.c_str());
    }
    std::printf("Media: %s\nSaving to: %s\n", item.URL.c_str(), output.c_str());

    // The download process, with its window on the screen when there is one.
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    if (!display && !std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("BRIMTALE_ECHO", "1", 1);
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        // Qt wants a private runtime folder; a session without one (root, a
        // container) gets one inside the sample's folder.
        const std::string runtime = dir + "/runtime";
        fs::create_directories(runtime, ec);
        fs::permissions(runtime, fs::perms::owner_all, ec);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    if (!display)
        ::setenv("BRIMTALE_AUTO_ANSWER", "no", 1);

    // Without a person to press Close, a run that goes wrong is ended after a while.
    std::atomic<int> childPid{0};
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!done.wait_for(lock, std::chrono::seconds(display ? 3600 : 180), [&] { return finished; }) && childPid > 0)
            ::kill(childPid, SIGTERM);
    });
    std::uint32_t code = 1;
    try {
        code = RunConsoleApp(dir + "/brimtale", JobToArgs(job, true), nullptr, [&](int pid, const std::string& line) {
            childPid = pid;
            if (!line.empty())
                std::printf("  %s\n", line.c_str());
            std::fflush(stdout);
        });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    done.notify_all();
    watchdog.join();

    std::printf("\nThe download process ended with code %u.\n", code);
    std::printf("Downloaded file: %s%s\n", output.c_str(), FileExists(output) ? "" : " (not there)");
    const std::string converted = ChangeFileExt(output, "." + job.TargetExt);
    if (job.TargetExt != "-")
        std::printf("Converted file:  %s%s\n", converted.c_str(), FileExists(converted) ? "" : " (not there)");
    std::printf("Settings and logs: %s\n", dir.c_str());
    return code == 0 && (job.TargetExt == "-" || FileExists(converted)) ? 0 : 1;
}
