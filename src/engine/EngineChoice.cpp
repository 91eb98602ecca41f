// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/EngineChoice.h"

#include "system/FileDescriptors.h"
#include "system/Platform.h"

#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "system/ConRun.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"


#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <tuple>

namespace {
struct TKeptVersion {
    std::uint64_t Inode = 0;
    std::int64_t MTimeNs = 0;
    std::int64_t Size = 0;
    std::string Version;
};
std::mutex VersionLock;
std::map<std::string, TKeptVersion> Versions;
constexpr int VersionSeconds = 20;

bool ReadNumber(const std::string& text, std::size_t& pos, std::int64_t& out, std::size_t minDigits,
                std::size_t maxDigits)
{
    const std::size_t start = pos;
    out = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < maxDigits)
        out = out * 10 + (text[pos++] - '0');
    return pos - start >= minDigits;
}

// Numbers of a "2.3.1"-like text: major and minor.
std::pair<int, int> MajorMinor(const std::string& text)
{
    std::size_t pos = 0;
    std::int64_t major = 0, minor = 0;
    if (!ReadNumber(text, pos, major, 1, 6))
        return {-1, -1};
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        ReadNumber(text, pos, minor, 1, 6);
    }
    return {static_cast<int>(major), static_cast<int>(minor)};
}

TJsRuntime RuntimeIfUsable(const std::string& name, const std::string& path, int minMajor, int minMinor)
{
    if (path.empty())
        return {};
    const std::string printed = ProgramVersionOf(path);
    // deno: "deno 2.3.1 (stable, ...)"; node: "v22.4.0".
    std::string version = printed;
    if (version.rfind(name + " ", 0) == 0)
        version = version.substr(name.size() + 1);
    if (!version.empty() && version[0] == 'v')
        version.erase(0, 1);
    if (const std::size_t blank = version.find(' '); blank != std::string::npos)
        version.resize(blank);
    const auto [major, minor] = MajorMinor(version);
    if (major < 0 || std::tie(major, minor) < std::tie(minMajor, minMinor))
        return {};
    return {name, path, version};
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}
} // namespace

std::optional<TEngineVersion> ParseEngineVersion(const std::string& text)
{
    const std::string t = Trim(text);
    std::size_t pos = 0;
    std::int64_t y = 0, m = 0, d = 0, n = 0;
    if (!ReadNumber(t, pos, y, 4, 4) || pos >= t.size() || t[pos++] != '.' || !ReadNumber(t, pos, m, 1, 2) ||
        pos >= t.size() || t[pos++] != '.' || !ReadNumber(t, pos, d, 1, 2))
        return std::nullopt;
    if (pos < t.size()) {
        if (t[pos++] != '.' || !ReadNumber(t, pos, n, 1, 15) || pos != t.size())
            return std::nullopt;
    }
    if (m < 1 || m > 12 || d < 1 || d > 31)
        return std::nullopt;
    return TEngineVersion{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d), n};
}

std::string OwnEngineDir()
{
    return DataDir.empty() ? std::string() : DataDir + "/engine";
}

namespace {
// The versions asked are kept on disk as well (DataDir/engine-versions.txt, one
// line each: inode, modification time, size, version, path, tab-separated), so
// that a run of brimtale-cli doesn't start the engine once more only to ask.
std::string VersionFile()
{
    return DataDir.empty() ? std::string() : DataDir + "/engine-versions.txt";
}

std::vector<std::string> TabFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos || fields.size() > 5)
            return fields;
        start = tab + 1;
    }
}

std::string KeptLine(const std::string& path, const TKeptVersion& kept)
{
    return std::to_string(kept.Inode) + "\t" + std::to_string(kept.MTimeNs) + "\t" + std::to_string(kept.Size) + "\t" +
           kept.Version + "\t" + path;
}

std::vector<std::string> ReadVersionLines()
{
    std::vector<std::string> lines;
    const std::string file = VersionFile();
    const TWholeFile read = file.empty() ? TWholeFile{} : ReadWholeFile(file, 64 * 1024);
    if (!read.Ok())
        return lines;
    const std::string& text = read.Text;
    std::size_t start = 0;
    while (start < text.size() && lines.size() < 32) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::optional<std::string> StoredVersion(const std::string& path, const TKeptVersion& now)
{
    for (const std::string& line : ReadVersionLines()) {
        const std::vector<std::string> f = TabFields(line);
        if (f.size() == 5 && f[4] == path && f[0] == std::to_string(now.Inode) && f[1] == std::to_string(now.MTimeNs) &&
            f[2] == std::to_string(now.Size) && ParseEngineVersion(f[3]))
            return f[3];
    }
    return std::nullopt;
}

void StoreVersion(const std::string& path, const TKeptVersion& kept)
{
    const std::string file = VersionFile();
    if (file.empty() || !ParseEngineVersion(kept.Version) || path.find_first_of("\t\n") != std::string::npos)
        return;
    std::string text = KeptLine(path, kept) + "\n";
    int count = 1;
    for (const std::string& line : ReadVersionLines()) {
        const std::vector<std::string> f = TabFields(line);
        if (f.size() == 5 && f[4] != path && ++count <= 16)
            text += line + "\n";
    }
    WriteFileAtomically(file, text);
}
} // namespace

std::string ProgramVersionOf(const std::string& path)
{
    const std::optional<TFileStamp> stamp = path.empty() ? std::nullopt : FileStampOf(path);
    if (!stamp)
        return {};
    const std::int64_t mtime = stamp->ModifiedNs;
    {
        const std::lock_guard<std::mutex> lock(VersionLock);
        if (const auto it = Versions.find(path); it != Versions.end() && it->second.Inode == stamp->Id.Inode &&
                                                   it->second.MTimeNs == mtime && it->second.Size == stamp->Size)
            return it->second.Version;
    }
    const TKeptVersion now{stamp->Id.Inode, mtime, stamp->Size, {}};
    if (const std::optional<std::string> stored = StoredVersion(path, now)) {
        const std::lock_guard<std::mutex> lock(VersionLock);
        Versions[path] = {stamp->Id.Inode, mtime, stamp->Size, *stored};
        return *stored;
    }
    std::string version;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(VersionSeconds);
    try {
        const TCapturedRun run = RunCaptured(path, {"--version"}, 4096, [giveUp] {
            return std::chrono::steady_clock::now() >= giveUp;
        });
        if (run.ExitCode == 0 && !run.Stopped && !run.TooLong) {
            const std::size_t end = run.Out.find('\n');
            version = Utf8Cut(Trim(run.Out.substr(0, end)), 100);
        }
    } catch (const EConsoleError&) {
    }
    const TKeptVersion kept{stamp->Id.Inode, mtime, stamp->Size, version};
    StoreVersion(path, kept);
    const std::lock_guard<std::mutex> lock(VersionLock);
    if (Versions.size() > 64)
        Versions.clear();
    Versions[path] = kept;
    return version;
}

void ForgetProgramVersions()
{
    const std::lock_guard<std::mutex> lock(VersionLock);
    Versions.clear();
    if (!VersionFile().empty())
        RemoveName(VersionFile());
}

TJsRuntime ChooseJsRuntime()
{
    const std::string dir = OwnEngineDir();
    if (!dir.empty() && IsOwnFolder(dir) && IsOwnExecutable(dir + "/deno" + ExecutableSuffix))
        if (TJsRuntime own = RuntimeIfUsable("deno", dir + "/deno" + ExecutableSuffix, 0, 0); !own.Name.empty())
            return own;
    if (TJsRuntime deno = RuntimeIfUsable("deno", FindExecutable("deno"), 2, 3); !deno.Name.empty())
        return deno;
    return RuntimeIfUsable("node", FindExecutable("node"), 22, 0);
}

TEngineChoice ChooseEngine()
{
    TEngineChoice choice;
    std::vector<std::pair<std::string, std::string>> candidates;  // source, path
    if (PageEngineOverride) {
        // The one engine named: its version matters only for the runtime's option.
        choice.Path = PageEngineOverride->empty() ? std::string() : FindExecutable(*PageEngineOverride);
        if (choice.Path.empty())
            return choice;
        choice.Source = "given";
        choice.Runtime = ChooseJsRuntime();
        if (!choice.Runtime.Name.empty())
            choice.Version = ProgramVersionOf(choice.Path);
        return choice;
    }
    const std::string dir = OwnEngineDir();
    if (!dir.empty() && IsOwnFolder(dir) && IsOwnExecutable(dir + "/yt-dlp" + ExecutableSuffix))
        candidates.emplace_back("own", dir + "/yt-dlp" + ExecutableSuffix);
    if (!AppDir.empty())
        candidates.emplace_back("beside", AppDir + "/yt-dlp" + ExecutableSuffix);
    candidates.emplace_back("path", FindExecutable("yt-dlp"));
    std::optional<TEngineVersion> best;
    for (const auto& [source, path] : candidates) {
        if (path.empty() || !IsExecutableFile(path))
            continue;
        if (!choice.Path.empty() && path == choice.Path)
            continue;
        const std::string version = ProgramVersionOf(path);
        const std::optional<TEngineVersion> parsed = ParseEngineVersion(version);
        // One that runs but prints no version is taken only when nothing better is there.
        if (choice.Path.empty() || (parsed && (!best || *parsed > *best))) {
            choice.Path = path;
            choice.Version = version;
            choice.Source = source;
            best = parsed;
        }
    }
    // Only an engine that takes a runtime (or names no version) has one looked
    // for: that asks the runtime its version, on every start of a download.
    if (!choice.Path.empty() && (!best || *best >= JsRuntimesSince))
        choice.Runtime = ChooseJsRuntime();
    return choice;
}

std::vector<std::string> EngineBaseArgs(const TEngineChoice& choice)
{
    std::vector<std::string> args = {"--no-update"};
    const std::optional<TEngineVersion> version = ParseEngineVersion(choice.Version);
    if (version && *version >= JsRuntimesSince && !choice.Runtime.Name.empty()) {
        args.push_back("--js-runtimes");
        args.push_back(choice.Runtime.Name + ":" + choice.Runtime.Path);
    }
    return args;
}

std::vector<std::string> EngineRunArgs(const TEngineChoice& choice, const std::vector<std::string>& args)
{
    std::vector<std::string> all = EngineBaseArgs(choice);
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

int EngineAgeDays(const std::string& version, std::time_t now)
{
    const std::optional<TEngineVersion> v = ParseEngineVersion(version);
    if (!v)
        return -1;
    const std::int64_t days = now / 86400 - DaysFromCivil(v->Year, static_cast<unsigned>(v->Month),
                                                          static_cast<unsigned>(v->Day));
    return days < 0 ? 0 : static_cast<int>(std::min<std::int64_t>(days, 1000000));
}

int EngineAgeDays(const std::string& version)
{
    return EngineAgeDays(version, std::time(nullptr));
}

bool EngineMayBeTheCause(const TEngineChoice& choice, bool youTube)
{
    if (choice.Path.empty())
        return false;
    // An engine that names no version is not judged.
    const std::optional<TEngineVersion> v = ParseEngineVersion(choice.Version);
    if (!v)
        return false;
    if (EngineAgeDays(choice.Version) > EngineStaleDays)
        return true;
    return youTube && (choice.Runtime.Name.empty() || *v < JsRuntimesSince);
}
