// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The page engine (yt-dlp), asked what a page holds: its title and the formats
// it offers, as the engine's JSON page information. The engine runs as a
// program of its own, never through a shell; the address always follows "--",
// and the user's own configuration of the engine is not read.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/EngineFormat.h"

struct TPageInfo {
    bool Found = false;      // the engine answered with something to download
    std::string Title;
    std::string Ext;         // of the file the chosen format gives: "mp4", "webm", ...
    std::int64_t Size = 0;   // of that file when the engine knows it, else 0
    std::vector<TPageFormat> Formats;
    std::vector<std::string> SubtitleLanguages;  // the languages of the page's own subtitles
    std::string Error;       // why nothing was found, in the engine's words (may be empty)
    bool TooLarge = false;   // the page information was beyond the limits below
    bool EngineFailed = false;  // the engine itself failed (refused its command line, or ended
                                // with an error and no reason): Error says how
    std::size_t ListEntries = 0;  // the page is a list: its entries (of any kind); else 0
    // The engine's page information as it printed it (when it found media and
    // the text is at most PageInfoKeptBytes): a download starts from it instead
    // of reading the page again.
    std::shared_ptr<const std::string> Json;
};
constexpr std::size_t PageInfoKeptBytes = 16 * 1024 * 1024;

// The engine's format for one of the YouTube format numbers of the dialog's
// buttons (37, 22, 18: MP4 1080p, 720p, 360p; 35, 34, 5: FLV 480p, 360p, 240p).
// An MP4 button takes the best video of at most its height in MP4 with MP4
// audio, else any video of that height, and merges into MP4. An FLV button
// takes FLV of at most its height when the page has it, else the best video and
// audio of at most that height in any container. Another number: the engine's
// default (the best single file, or the best video and audio merged).
TEngineFormat YouTubeEngineFormat(int formatNumber);
// True when the page offers video of exactly the button's height (an MP4 button
// needs it in MP4).
bool PageOffersYouTubeFormat(const TPageInfo& info, int formatNumber);

// What is read of the page information at most: values (of any kind, names
// included), nesting, formats. Beyond them it counts as too large.
constexpr std::size_t PageInfoMaxNodes = 4'000'000;
constexpr std::size_t PageInfoMaxDepth = 256;
constexpr std::size_t PageInfoMaxFormats = 10'000;
// The reason given then (the windows show it in the user's language).
constexpr const char* PageInfoTooLargeText = "page information too large";
// The reason of a look-up ended by its time limit (read as a page that can't be reached).
constexpr const char* LookUpTimedOutText = "the page engine's look-up timed out";

// What the engine printed for -J: the page information, or Found false (with
// TooLarge set when it was too large to read).
TPageInfo ParsePageInfo(const std::string& json);
// The page information without the request cookies the engine writes into it
// (every "cookies" field, every "Cookie" of "http_headers"), to be kept on
// disk; empty when it is no JSON document.
std::string PageInfoWithoutCookies(const std::string& json);
// The same, keeping the text in Json when it has media and is small enough.
TPageInfo PageInfoFromJson(std::string json);
// The reason in a line of the engine's that refuses its command line
// ("yt-dlp: error: no such option: --x" gives "no such option: --x"); empty
// for any other line.
std::string EngineUsageError(const std::string& line);
// The same for the last such line of the engine's output; empty when none.
std::string EngineUsageErrorIn(const std::string& output);
// The engine's reason for a failed run, never empty: its own, or the code it
// ended with.
std::string EngineFailureReason(const std::string& reason, std::uint32_t exitCode);
// The engine's reason from its error output: the last "ERROR: " line, without
// the prefix, cut to a readable length.
std::string EngineErrorText(const std::string& errorOutput);

// Why a look-up found nothing, in the program's words and the user's language:
// the engine's own failure, page information too large, or else what
// NoMediaMessage makes of the engine's reason (httpStatus: what the program's
// own client saw, 0 when it asked nothing).
std::string PageInfoProblem(const TPageInfo& info, bool polish, int httpStatus = 0);
// Keeps the engine's reason for an address in the program's error log (the
// one a failed conversion writes), so that its own words can be read there.
// Nothing when the program has no data folder.
void LogEngineReason(const std::string& url, const std::string& reason);

// The engine's arguments for the page information of an address.
std::vector<std::string> PageInfoArgs(const std::string& url, const TEngineFormat& format);

// The longest a look-up may take, and the most it may print.
constexpr int PageLookUpSeconds = 60;
constexpr std::size_t PageInfoMaxBytes = 64 * 1024 * 1024;

// Asks the engine about the page (network, a child process). It ends at the
// current thread's network-step deadline or cancel, and after PageLookUpSeconds
// at the latest. An answer with media is kept for the address and format, so
// the dialog asks only once. No engine: Found false with an empty Error.
TPageInfo LookUpPage(const std::string& url, const TEngineFormat& format = {});
// Keeps what another run of the engine read of the page (the page information
// a download wrote, or why it found none) as the answer of a look-up with the
// engine's own format, so that the page is not asked again.
void KeepPageLookUp(const std::string& url, const TPageInfo& info);
// Forgets the kept answers.
void ForgetPageLookUps();
// The entries of the page's list when a kept answer (of the engine's own
// format) says it is one, else 0. Never asks the engine.
std::size_t KeptListEntries(const std::string& url);
// When the last look-up of the address found nothing: the engine's reason
// (possibly empty). Nothing when it found media or was not asked (or cancelled).
std::optional<std::string> PageLookUpFailure(const std::string& url);
