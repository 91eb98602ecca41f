// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Taking only the part of a video the user wants: a time section, one file per
// chapter, and the sponsor segments left out or marked as chapters; how the
// user writes them, how a job carries them, and the engine's arguments.

#include <optional>
#include <string>
#include <vector>

// A part of a video, in seconds from its start.
struct TTimeSection {
    double Start = 0;
    double End = 0;
    bool operator==(const TTimeSection&) const = default;
};

// A time as the user writes it: seconds ("90", "90.5"), M:SS, H:MM:SS, or
// with units ("1m30s", "1h2m", "45s"). Nothing when it is not one (or beyond
// 1000 hours).
std::optional<double> ParseClipTime(const std::string& text);
// "START-END" ("1:30-2:45"). error says what is wrong when it is no section:
// no "-", a time that is not one, an end not after the start.
std::optional<TTimeSection> ParseTimeSection(const std::string& text, std::string& error, bool polish = false);
// A time in a file name: "1m30s", "45s", "1h2m3s", "2s500ms", "0s" (no dot).
std::string ClipTimeText(double seconds);
// The tag a file of the section is named with: "[1m30s-2m45s]".
std::string SectionTag(const TTimeSection& section);
// "NAME [1m30s-2m45s].mp4" for "NAME.mp4" (the tag before the extension); a
// name that holds the tag already stays as it is.
std::string NameWithSection(const std::string& name, const TTimeSection& section);
// How a job carries a section ("90-165", "1.5-3"), and back.
std::string SectionValue(const TTimeSection& section);
std::optional<TTimeSection> SectionFromValue(const std::string& value);

enum class TSponsorMode { Off, Remove, Mark };
// The categories the program offers, as the engine names them, and as the user
// may write them on the command line.
struct TSponsorCategory {
    const char* Engine;  // "selfpromo"
    const char* Name;    // "self-promotion"
};
constexpr TSponsorCategory SponsorCategories[] = {
    {"sponsor", "sponsor"},
    {"selfpromo", "self-promotion"},
    {"interaction", "interaction-reminder"},
    {"intro", "intro"},
    {"outro", "outro"},
};
// What is taken when no category is named.
constexpr const char* DefaultSponsorCategories = "sponsor";
// "remove", "mark" (letter case ignored).
std::optional<TSponsorMode> ParseSponsorMode(const std::string& text);
// A comma list of the categories, by either name ("sponsor, self-promotion,
// intro"); the engine's list in the order of SponsorCategories, each once, or
// nothing when a name is no category or none is given.
std::optional<std::string> ParseSponsorCategories(const std::string& text);

struct TClipOptions {
    std::optional<TTimeSection> Section;  // only this part of the video
    bool SplitChapters = false;            // one file per chapter besides the whole
    TSponsorMode Sponsor = TSponsorMode::Off;
    std::string SponsorCategories;         // the engine's list; empty: DefaultSponsorCategories
    bool operator==(const TClipOptions&) const = default;
    bool Any() const { return Section || SplitChapters || Sponsor != TSponsorMode::Off; }
};

// How a job carries the sponsor choice: "remove:sponsor,intro", "mark:sponsor";
// empty for none. The other way, an unknown text is none.
std::string SponsorValue(const TClipOptions& options);
void SetSponsorFromValue(TClipOptions& options, const std::string& value);

// The engine's arguments for them. chapterTemplate is where the chapters' files
// go (an output template of the engine's, used only with SplitChapters).
std::vector<std::string> ClipEngineArgs(const TClipOptions& options, const std::string& chapterTemplate);
// The same options without the sponsor segments (a run again when the segment
// service failed).
TClipOptions WithoutSponsor(TClipOptions options);

// The name the engine gives the file of one chapter in its folder: the prefix,
// the chapter's number of three digits, its title, its extension
// ("chapter.001.Opening.mp4"), and the template that makes it.
extern const char* const ChapterFilePrefix;
std::string ChapterOutputTemplate();
struct TChapterFile {
    int Number = 0;
    std::string Title;
    std::string Ext;  // "mp4"
};
// Reads such a name; nothing when it is not one (no number, no extension).
std::optional<TChapterFile> ParseChapterFileName(const std::string& name);

// True when the engine's reason is about the sponsor segment service (it could
// not be reached, or answered with nonsense).
bool IsSponsorServiceError(const std::string& engineError);

// The duration the page information gives (seconds), or nothing.
std::optional<double> PageDuration(const std::string& pageInfoJson);
// The section checked against the video's duration (when known): a start at or
// beyond the end is refused (error says so); an end beyond it becomes the end.
std::optional<TTimeSection> FitSection(const TTimeSection& section, std::optional<double> duration,
                                       std::string& error, bool polish = false);
