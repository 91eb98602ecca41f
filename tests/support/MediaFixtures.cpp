// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MediaFixtures.h"

#include "system/ConRun.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>

namespace fixtures {
namespace {
bool Ffmpeg(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {"-v", "error", "-y"};
    all.insert(all.end(), args.begin(), args.end());
    try {
        return RunConsoleApp("ffmpeg", all, nullptr, {}) == 0;
    } catch (const EConsoleError&) {
        return false;
    }
}

std::string ContentType(const std::string& name)
{
    const std::string ext = std::filesystem::path(name).extension().string();
    if (ext == ".m3u8")
        return "application/vnd.apple.mpegurl";
    if (ext == ".mpd")
        return "application/dash+xml";
    if (ext == ".ts")
        return "video/mp2t";
    if (ext == ".m4s")
        return "video/iso.segment";
    if (ext == ".mp4")
        return "video/mp4";
    return "application/octet-stream";
}
} // namespace

std::string MakeClip(const std::string& path, int seconds, const std::string& size)
{
    const std::string length = std::to_string(seconds);
    const bool made = Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=25", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=44100", "-t", length, "-c:v", "libx264", "-preset",
                              "ultrafast", "-g", "25", "-c:a", "aac", "-b:a", "64k", "-shortest", path});
    return made ? path : std::string();
}

bool MakeHls(const std::string& clip, const std::string& dir)
{
    std::filesystem::create_directories(dir);
    return Ffmpeg({"-i", clip, "-c", "copy", "-f", "hls", "-hls_time", "1", "-hls_playlist_type", "vod",
                   dir + "/index.m3u8"});
}

bool MakeDash(const std::string& clip, const std::string& dir)
{
    std::filesystem::create_directories(dir);
    return Ffmpeg({"-i", clip, "-map", "0:v", "-map", "0:a", "-c", "copy", "-f", "dash", "-seg_duration", "1",
                   "-adaptation_sets", "id=0,streams=v id=1,streams=a", dir + "/manifest.mpd"});
}

void ServeFiles(testhttp::TestHttpServer& server, const std::string& prefix, const std::string& dir, int paceMs)
{
    for (const std::string& name : FolderEntries(dir)) {
        testhttp::Response response;
        response.body = TempDir::Read(dir + "/" + name);
        response.headers.emplace_back("Content-Type", ContentType(name));
        response.paceMs = paceMs;
        server.Handle(prefix + name, [response](const testhttp::Request&) { return response; });
    }
}

std::vector<std::string> StreamTypes(const std::string& file)
{
    std::vector<std::string> lines;
    try {
        RunConsoleApp("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type", "-of", "csv=p=0", file},
                      &lines, {});
    } catch (const EConsoleError&) {
        return {};
    }
    std::vector<std::string> types;
    for (std::string line : lines) {
        line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n' || c == ','; }),
                   line.end());
        if (!line.empty())
            types.push_back(line);
    }
    return types;
}

std::vector<int> ProcessesWorkingIn(const std::string& dir)
{
    std::vector<int> found;
    std::error_code ec;
    const std::string base = std::filesystem::weakly_canonical(dir, ec).string();
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        std::error_code linkError;
        const std::string cwd = std::filesystem::read_symlink(entry.path() / "cwd", linkError).string();
        if (!linkError && (cwd == base || cwd.rfind(base + "/", 0) == 0))
            found.push_back(std::stoi(name));
    }
    return found;
}

std::vector<int> ProcessesWithArgument(const std::string& argument)
{
    std::vector<int> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const std::string cmdline = TempDir::Read(entry.path().string() + "/cmdline");
        std::size_t start = 0;
        while (start < cmdline.size()) {
            std::size_t end = cmdline.find('\0', start);
            if (end == std::string::npos)
                end = cmdline.size();
            if (cmdline.compare(start, end - start, argument) == 0) {
                found.push_back(std::stoi(name));
                break;
            }
            start = end + 1;
        }
    }
    return found;
}

std::vector<std::string> FolderEntries(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace fixtures
