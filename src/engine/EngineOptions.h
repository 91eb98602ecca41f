// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the user may ask of the page engine besides the page: a format (a quick
// choice or one of the page's own), subtitles, the title, chapters and cover
// picture in the file, the cookies of a browser or of a cookies file, and a
// speed limit; and the engine's arguments for them.
//
// An engine is told only what its version knows. Everything below exists in
// Debian's 2023.03.04 except what is marked as newer; an engine whose version
// is unknown is treated as that one.

#include "engine/ClipOptions.h"
#include "engine/EngineChoice.h"
#include "engine/EngineFormat.h"

#include "system/PrivateFolders.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The format asked for, as the user names it ("-f" of brimtale-cli, the
// dialog's quick choices, the "EngineFormat" setting).
struct TFormatChoice {
    enum class TKind { Best, UpTo, Audio, Id };
    TKind Kind = TKind::Best;
    int Height = 0;   // UpTo: 1080, 720 or 480
    std::string Id;   // Id: one of the page's format ids (or ids joined by "+")
    bool operator==(const TFormatChoice&) const = default;
};

// "best", "1080p", "720p", "480p", "audio" (letter case ignored), or an engine
// format id: letters, digits and "-_.+" (at most 100 characters). Anything else
// is no choice.
std::optional<TFormatChoice> ParseFormatChoice(const std::string& text);
// The choice as it is written: "best", "720p", "audio", or the id.
std::string FormatChoiceText(const TFormatChoice& choice);
// The engine's format selection for the choice. Best up to a height takes the
// best video of at most that height with the best audio, else the best single
// file of at most that height, else the smallest there is. Audio only takes the
// best audio-only stream, and only when the page has none, the best single file.
TEngineFormat EngineFormatFor(const TFormatChoice& choice);

// The cookies' browsers the program offers.
constexpr const char* CookiesBrowsers[] = {"firefox", "chromium", "chrome", "brave"};

struct TEngineOptions {
    bool Metadata = true;        // title, chapters and (where the container takes one) the cover picture
    std::string Subtitles;       // empty: none; "all"; or languages, "en,pl"
    bool EmbedSubtitles = false; // in the file (MP4, MKV, WebM) instead of beside it
    std::string CookiesBrowser;  // BROWSER or BROWSER:PROFILE (a profile's name or folder)
    std::string CookiesFile;     // a cookies file (Netscape format); the engine gets a copy
    std::int64_t RateLimit = 0;  // bytes per second; 0: no limit
    TClipOptions Clip;           // a part of the video, its chapters, sponsor segments
    bool operator==(const TEngineOptions&) const = default;
};

// "all" or a comma list of language codes (letters, digits, "-", "_"); the
// list as the engine takes it (blanks dropped), or nothing when it is not one.
std::optional<std::string> ParseSubtitleLanguages(const std::string& text);
// BROWSER[:PROFILE] with one of CookiesBrowsers (letter case ignored); the
// value as the engine takes it, or nothing.
std::optional<std::string> ParseCookiesBrowser(const std::string& text);
// A rate: a number with an optional K, M or G (1024, 1024², 1024³; letter case
// ignored, a trailing "B" or "/s" allowed): "500K", "2M", "1.5M". At least
// 1 KiB per second. Nothing when it is not one.
std::optional<std::int64_t> ParseRateLimit(const std::string& text);
// A rate as the engine and the user read it: "500K", "2M", "1536".
std::string RateLimitText(std::int64_t bytesPerSecond);

// The first release with "--progress-delta" (fewer progress lines to read).
constexpr TEngineVersion ProgressDeltaSince{2024, 4, 9, 0};

// The engine's arguments for the options, for an engine of that version (as it
// prints it; empty when unknown). cookiesCopy is the copy of the cookies file
// the engine may read and write (empty: none). ext is the extension the file
// is expected to get ("mp4", "webm"; empty when unknown): the cover picture goes
// only into containers that take one.
std::vector<std::string> EngineOptionArgs(const TEngineOptions& options, const std::string& engineVersion,
                                          const std::string& cookiesCopy, const std::string& ext);
// The cookies arguments alone (for a look-up).
std::vector<std::string> EngineCookiesArgs(const TEngineOptions& options, const std::string& cookiesCopy);
// Arguments only an engine of a newer version is given.
std::vector<std::string> NewerEngineArgs(const std::string& engineVersion);

// Writes text to a new file only the user may read (never over anything at
// the name, never through a link); false when it can't.
bool WritePrivateFile(const std::string& path, const std::string& text);
// Copies a cookies file (at most 16 MB, a regular file) to a new private file;
// false when it can't be read or written.
bool CopyCookiesFile(const std::string& from, const std::string& to);

// A folder of its own in the temporary folder (mode 0700), held while the
// object lives and gone with it and everything in it. Path() is empty when it
// could not be made. A page look-up runs the engine in one, so nothing the
// engine writes lands anywhere else.
class TPrivateTempDir {
public:
    TPrivateTempDir();
    ~TPrivateTempDir();
    TPrivateTempDir(const TPrivateTempDir&) = delete;
    TPrivateTempDir& operator=(const TPrivateTempDir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::unique_ptr<TFolderHold> hold_;
};
// Removes what such folders of runs that have gone (killed, crashed) left in
// the temporary folder; how many went.
int RemoveStaleTempDirs();

// The reason given when the look-up's private folder can't be made.
constexpr const char* TempDirUnusableText = "no private folder can be made in the temporary folder";
// The reason given when the cookies file can't be read.
constexpr const char* CookiesFileUnreadableText = "the cookies file can't be read";

// The cookies a page look-up is given (see LookUpPage): the browser or file of
// the options, for every look-up from now on.
void SetLookUpCookies(const TEngineOptions& options);
// The look-up's arguments for them (empty when there are none). A cookies file
// goes as a copy in dir, the look-up's private folder; when the copy can't be
// made there, failed is set and the arguments are empty.
std::vector<std::string> LookUpCookiesArgs(const TPrivateTempDir& dir, bool& failed);
// What identifies them in the look-ups kept.
std::string LookUpCookiesKey();

// One line of the page's formats: id, container, resolution, frame rate,
// codecs and size, separated by tabs (an unknown value is "-").
std::string FormatListLine(const TPageFormat& format);
// The same for the new-download dialog's list, in the program's language:
// "dash-v1: mp4, 320x240, 25 fps, avc1.64000d, 1.50 KB"; what is not known is
// left out ("0: mp4").
std::string FormatChoiceLine(const TPageFormat& format, bool polish);
