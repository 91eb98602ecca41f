// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Which page engine (yt-dlp) runs, and with which arguments. The candidates are
// the program's own copy in engine/ beside the settings, one beside the
// executable and the one on PATH; the newest by version wins. Every engine run
// gets "--no-update" (the program keeps its own copy current), and an engine
// new enough to know it is told which JavaScript runtime to use.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

// An engine version, "YYYY.MM.DD" with an optional ".N" (nightly builds).
struct TEngineVersion {
    int Year = 0, Month = 0, Day = 0;
    std::int64_t Build = 0;
    auto operator<=>(const TEngineVersion&) const = default;
};
std::optional<TEngineVersion> ParseEngineVersion(const std::string& text);

// The first release that needs, and knows, "--js-runtimes".
constexpr TEngineVersion JsRuntimesSince{2025, 11, 12, 0};
// An engine older than this many days is out of date.
constexpr int EngineStaleDays = 90;

// The program's own engine folder: DataDir + "/engine".
std::string OwnEngineDir();

// What a program prints for "--version", trimmed to its first line; asked once
// per file and kept by path, inode, modification time and size (an engine's
// version on disk too, in DataDir/engine-versions.txt, for the next process).
// Empty when it doesn't run or doesn't answer within a few seconds.
std::string ProgramVersionOf(const std::string& path);
// Forgets the kept versions (the file of them too).
void ForgetProgramVersions();

struct TJsRuntime {
    std::string Name;     // "deno" or "node"; empty: none
    std::string Path;
    std::string Version;  // "2.3.1", "22.4.0"
};

struct TEngineChoice {
    std::string Path;     // empty: no engine at all
    std::string Version;  // as the engine printed it
    std::string Source;   // "own", "beside", "path" (or "given" when a test names one)
    TJsRuntime Runtime;
};

// The JavaScript runtime: engine/deno, else deno on PATH (2.3 or later), else
// node on PATH (22 or later).
TJsRuntime ChooseJsRuntime();
// The newest engine of the candidates (an own copy that is a link, or not the
// user's, is skipped), and the runtime. When PageEngineOverride names one, it is
// the only candidate, and its version is asked only when a runtime is there.
TEngineChoice ChooseEngine();

// The arguments every run of that engine starts with.
std::vector<std::string> EngineBaseArgs(const TEngineChoice& choice);
// Base arguments followed by args.
std::vector<std::string> EngineRunArgs(const TEngineChoice& choice, const std::vector<std::string>& args);

// Days from the version's date to now; -1 when the version can't be read.
int EngineAgeDays(const std::string& version, std::time_t now);
int EngineAgeDays(const std::string& version);

// A look-up that found nothing may be the engine's fault: it is out of date,
// or the address is YouTube's and there is no runtime (or the engine is too
// old to use one). An engine whose version is unknown is not judged.
bool EngineMayBeTheCause(const TEngineChoice& choice, bool youTube);
