// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ClipOptions.h"

#include "base/ZQ_Strings.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>

const char* const ChapterFilePrefix = "chapter.";

namespace {
constexpr double MaxClipSeconds = 1000.0 * 3600;

// Digits with at most one "." (no sign, no exponent).
std::optional<double> Number(const std::string& text)
{
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    int dots = 0;
    for (const char c : text) {
        if (c == '.')
            ++dots;
        else if (c < '0' || c > '9')
            return std::nullopt;
    }
    if (dots > 1 || text == ".")
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string Trimmed(double seconds)
{
    // At most three decimals, none when whole.
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    std::string s = text;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s;
}
} // namespace

std::optional<double> ParseClipTime(const std::string& given)
{
    const std::string text = LowerAscii(Trim(given));
    if (text.empty())
        return std::nullopt;
    double total = 0;
    if (text.find_first_of("hms") != std::string::npos) {
        // "1h2m3.5s": each unit once, in that order.
        std::size_t pos = 0;
        int last = -1;
        bool any = false;
        while (pos < text.size()) {
            const std::size_t unit = text.find_first_of("hms", pos);
            if (unit == std::string::npos)
                return std::nullopt;
            const std::optional<double> value = Number(text.substr(pos, unit - pos));
            const int rank = text[unit] == 'h' ? 0 : text[unit] == 'm' ? 1 : 2;
            if (!value || rank <= last || (rank < 2 && std::floor(*value) != *value))
                return std::nullopt;
            total += *value * (rank == 0 ? 3600 : rank == 1 ? 60 : 1);
            last = rank;
            any = true;
            pos = unit + 1;
        }
        if (!any)
            return std::nullopt;
    } else {
        // "SS", "M:SS", "H:MM:SS": the fields after the first below 60.
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (;;) {
            const std::size_t colon = text.find(':', start);
            fields.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
        if (fields.size() > 3)
            return std::nullopt;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const std::optional<double> value = Number(fields[i]);
            const bool lastField = i + 1 == fields.size();
            if (!value || (!lastField && std::floor(*value) != *value) || (i > 0 && *value >= 60))
                return std::nullopt;
            total = total * 60 + *value;
        }
    }
    if (total > MaxClipSeconds)
        return std::nullopt;
    return total;
}

std::optional<TTimeSection> ParseTimeSection(const std::string& given, std::string& error, bool polish)
{
    const std::string text = Trim(given);
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos || text.find('-', dash + 1) != std::string::npos) {
        error = polish ? "część filmu zapisuje się jako POCZĄTEK-KONIEC, np. 1:30-2:45: " + text
                       : "a part of a video is written START-END, as 1:30-2:45: " + text;
        return std::nullopt;
    }
    const std::optional<double> start = ParseClipTime(text.substr(0, dash));
    const std::optional<double> end = ParseClipTime(text.substr(dash + 1));
    if (!start || !end) {
        error = polish ? "to nie jest czas (90, 1:30, 1:02:03 albo 1m30s): " + text
                       : "not a time (90, 1:30, 1:02:03 or 1m30s): " + text;
        return std::nullopt;
    }
    if (*end <= *start) {
        error = polish ? "koniec części filmu nie jest po jej początku: " + text
                       : "the part's end is not after its start: " + text;
        return std::nullopt;
    }
    return TTimeSection{*start, *end};
}

std::string ClipTimeText(double seconds)
{
    if (seconds < 0 || !std::isfinite(seconds))
        seconds = 0;
    // Milliseconds as a unit of their own: a dot in a file name reads as its extension.
    const long long ms = std::llround(seconds * 1000);
    const long long whole = ms / 1000;
    const long long h = whole / 3600;
    const long long m = whole / 60 % 60;
    const long long s = whole % 60;
    std::string text;
    if (h > 0)
        text += std::to_string(h) + "h";
    if (m > 0)
        text += std::to_string(m) + "m";
    if (s > 0)
        text += std::to_string(s) + "s";
    if (ms % 1000 > 0)
        text += std::to_string(ms % 1000) + "ms";
    if (text.empty())
        text = "0s";
    return text;
}

std::string SectionTag(const TTimeSection& section)
{
    return "[" + ClipTimeText(section.Start) + "-" + ClipTimeText(section.End) + "]";
}

std::string NameWithSection(const std::string& name, const TTimeSection& section)
{
    const std::string tag = SectionTag(section);
    if (name.find(tag) != std::string::npos)
        return name;
    const std::size_t dot = name.rfind('.');
    // A dot that starts the name or ends a long tail is no extension's.
    if (dot == std::string::npos || dot == 0 || name.size() - dot > 6)
        return name + " " + tag;
    return name.substr(0, dot) + " " + tag + name.substr(dot);
}

std::string SectionValue(const TTimeSection& section)
{
    return Trimmed(section.Start) + "-" + Trimmed(section.End);
}

std::optional<TTimeSection> SectionFromValue(const std::string& value)
{
    std::string error;
    return ParseTimeSection(value, error);
}

std::optional<TSponsorMode> ParseSponsorMode(const std::string& text)
{
    const std::string mode = LowerAscii(Trim(text));
    if (mode == "remove")
        return TSponsorMode::Remove;
    if (mode == "mark")
        return TSponsorMode::Mark;
    return std::nullopt;
}

std::optional<std::string> ParseSponsorCategories(const std::string& text)
{
    if (text.size() > 500)
        return std::nullopt;
    bool chosen[std::size(SponsorCategories)] = {};
    bool any = false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string name =
            LowerAscii(Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (!name.empty()) {
            bool known = false;
            for (std::size_t i = 0; i < std::size(SponsorCategories); ++i)
                if (name == SponsorCategories[i].Engine || name == SponsorCategories[i].Name ||
                    (name == "interaction" && i == 2)) {
                    chosen[i] = known = any = true;
                }
            if (!known)
                return std::nullopt;
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (!any)
        return std::nullopt;
    std::string list;
    for (std::size_t i = 0; i < std::size(SponsorCategories); ++i)
        if (chosen[i])
            list += (list.empty() ? "" : ",") + std::string(SponsorCategories[i].Engine);
    return list;
}

std::string SponsorValue(const TClipOptions& options)
{
    if (options.Sponsor == TSponsorMode::Off)
        return {};
    const std::string categories =
        options.SponsorCategories.empty() ? DefaultSponsorCategories : options.SponsorCategories;
    return (options.Sponsor == TSponsorMode::Remove ? "remove:" : "mark:") + categories;
}

void SetSponsorFromValue(TClipOptions& options, const std::string& value)
{
    options.Sponsor = TSponsorMode::Off;
    options.SponsorCategories.clear();
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos)
        return;
    const std::optional<TSponsorMode> mode = ParseSponsorMode(value.substr(0, colon));
    const std::optional<std::string> categories = ParseSponsorCategories(value.substr(colon + 1));
    if (!mode || !categories)
        return;
    options.Sponsor = *mode;
    options.SponsorCategories = *categories;
}

std::vector<std::string> ClipEngineArgs(const TClipOptions& options, const std::string& chapterTemplate)
{
    std::vector<std::string> args;
    if (options.Section) {
        // Cut at the times asked for, not at the nearest key frames.
        args.push_back("--download-sections");
        args.push_back("*" + SectionValue(*options.Section));
        args.push_back("--force-keyframes-at-cuts");
    }
    if (options.Sponsor != TSponsorMode::Off) {
        // Only the categories named: never the engine's "all" or its own default.
        const std::optional<std::string> categories = ParseSponsorCategories(
            options.SponsorCategories.empty() ? DefaultSponsorCategories : options.SponsorCategories);
        args.push_back(options.Sponsor == TSponsorMode::Remove ? "--sponsorblock-remove" : "--sponsorblock-mark");
        args.push_back(categories.value_or(DefaultSponsorCategories));
    }
    if (options.SplitChapters) {
        args.push_back("--split-chapters");
        // The chapters' list in the file would go into every part and make
        // each as long as the whole in a player's eyes.
        args.push_back("--no-embed-chapters");
        args.push_back("-o");
        args.push_back("chapter:" + chapterTemplate);
    }
    return args;
}

TClipOptions WithoutSponsor(TClipOptions options)
{
    options.Sponsor = TSponsorMode::Off;
    options.SponsorCategories.clear();
    return options;
}

std::string ChapterOutputTemplate()
{
    // The title cut to 150 bytes; the program gives the file its own name.
    return std::string(ChapterFilePrefix) + "%(section_number)03d.%(section_title).150B.%(ext)s";
}

std::optional<TChapterFile> ParseChapterFileName(const std::string& name)
{
    const std::string prefix = ChapterFilePrefix;
    if (name.compare(0, prefix.size(), prefix) != 0 || name.size() < prefix.size() + 5)
        return std::nullopt;
    const std::string digits = name.substr(prefix.size(), 3);
    for (const char c : digits)
        if (c < '0' || c > '9')
            return std::nullopt;
    if (name[prefix.size() + 3] != '.')
        return std::nullopt;
    const std::string rest = name.substr(prefix.size() + 4);  // "Title.mp4"
    const std::size_t dot = rest.rfind('.');
    if (dot == std::string::npos || dot + 1 >= rest.size())
        return std::nullopt;
    TChapterFile chapter;
    chapter.Number = std::atoi(digits.c_str());
    chapter.Title = rest.substr(0, dot);
    chapter.Ext = rest.substr(dot + 1);
    if (chapter.Number <= 0)
        return std::nullopt;
    return chapter;
}

bool IsSponsorServiceError(const std::string& engineError)
{
    return PosText("SponsorBlock", engineError) != 0;
}

std::optional<double> PageDuration(const std::string& pageInfoJson)
{
    const nlohmann::json doc = nlohmann::json::parse(pageInfoJson, nullptr, false);
    if (!doc.is_object())
        return std::nullopt;
    const auto found = doc.find("duration");
    if (found == doc.end() || !found->is_number())
        return std::nullopt;
    const double duration = found->get<double>();
    if (!std::isfinite(duration) || duration <= 0)
        return std::nullopt;
    return duration;
}

std::optional<TTimeSection> FitSection(const TTimeSection& section, std::optional<double> duration,
                                       std::string& error, bool polish)
{
    if (!duration || section.End <= *duration)
        return section;
    if (section.Start >= *duration) {
        error = polish ? "część filmu " + SectionTag(section) + " zaczyna się po jego końcu (" +
                             ClipTimeText(*duration) + ")"
                       : "the part " + SectionTag(section) + " starts after the video's end (" +
                             ClipTimeText(*duration) + ")";
        return std::nullopt;
    }
    return TTimeSection{section.Start, *duration};
}
