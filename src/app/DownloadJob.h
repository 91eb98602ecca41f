// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One download (and optional conversion) and the "-get" command line that hands
// it from the interactive process to a download process of its own.

#include "base/ZQ_Strings.h"  // SplitCommandLine
#include "system/ZQ_FileSystem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Field limits in bytes; texts are cut at a UTF-8 character boundary.
constexpr std::size_t JobSwitchMax = 4;
constexpr std::size_t JobPathMax = 1023;   // Source, MediaUrl, OutputFile
constexpr std::size_t JobParamsMax = 250;  // EncoderParams
constexpr std::size_t JobExtMax = 10;      // EncoderExt, TargetExt

struct TDownloadJob {
    std::string Switch;
    std::string Source;       // page address as entered (trimmed), or a local file
    std::string MediaUrl;     // address of the media file; "-" or empty for a local file
    std::string OutputFile;   // full path of the file to write
    std::int32_t MainWindow = 0;
    std::int32_t ExpectedSize = 0;  // 0 or less: unknown
    std::string EncoderParams;  // profile parameter template, or "-"
    std::string EncoderExt;     // extension the encoder writes, or "-"
    std::string TargetExt;      // final extension of the converted file, or "-"
    bool DeleteInput = false;
    // Downloaded through the page engine (arguments 12 to 14, after the fields
    // above): MediaUrl is then the page's address, EngineFormat the engine's
    // format selection and EngineMerge the container video and audio are merged
    // into (both empty for the engine's own choice).
    bool ThroughEngine = false;
    std::string EngineFormat;
    std::string EngineMerge;
    // What the page engine is asked besides the format, and the speed limit of
    // any download: arguments "NAME=VALUE" after all others (see JobToArgs).
    bool EngineMetadata = true;       // "metadata=0" turns it off
    std::string EngineSubtitles;      // "subs=": "all" or languages "en,pl"; empty: none
    bool EngineEmbedSubtitles = false;  // "embed-subs=1"
    std::string CookiesBrowser;       // "cookies-from=": BROWSER[:PROFILE]
    std::string CookiesFile;          // "cookies=": a cookies file the engine gets a copy of
    std::int64_t RateLimit = 0;       // "rate=": bytes per second; 0: none
    // Only a part of it: "section=START-END" (seconds, "90-165"); one file per
    // chapter besides the whole: "chapters=1"; sponsor segments removed or
    // marked: "sponsor=remove:sponsor,intro" (empty: none).
    std::string Section;
    bool SplitChapters = false;
    std::string Sponsor;
    // "output-id=DEVICE:INODE": the file this job reserved and writes. A job
    // that has one writes that file only; a file put at its name since is
    // "changed outside Brimtale" and left alone.
    std::optional<TFileId> OutputId;

    bool operator==(const TDownloadJob&) const = default;
};

extern TDownloadJob Job;

void ClearJob(TDownloadJob& job);

// The receiver: args[0] is the program, args[1] the switch, and so on.
TDownloadJob JobFromArgs(const std::vector<std::string>& args);
// Clears Job and fills it from the process's command line.
void ReadCommandLine(int argc, char** argv);

// "-get" switch, an output file, and a media address or an existing source file.
// A path field longer than JobPathMax makes the job invalid rather than cut.
bool IsJobValid(const TDownloadJob& job);

// True when the job asks for a conversion: its encoder parameters are neither
// empty nor "-" (the job's "none"). Without one the encoder is never started.
bool JobConverts(const TDownloadJob& job);

// The sender: the argument list after the program name (switch first). Every
// field arrives as one argument whatever it holds. A job through the page engine
// has three more ("engine", its format, its merge container); then come the
// options that differ from their defaults, each as "NAME=VALUE".
std::vector<std::string> JobToArgs(const TDownloadJob& job, bool autoClose);

// The same arguments as one parameter text: -get and ten quoted fields (and the
// engine's three for a job through the page engine). There is
// no escape for a double quote, so a field holding one splits differently.
std::string BuildGetParams(const TDownloadJob& job, bool autoClose);

