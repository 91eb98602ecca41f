// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/EngineOptions.h"

#include "system/FileDescriptors.h"

#include "base/ZQ_Conversion.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "engine/EngineChoice.h"

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {
bool IsIdChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '+';
}

bool IsLanguageChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool AtLeast(const std::string& version, const TEngineVersion& since)
{
    const std::optional<TEngineVersion> v = ParseEngineVersion(version);
    return v && *v >= since;
}

std::string OrDash(const std::string& text)
{
    return text.empty() ? std::string("-") : text;
}
} // namespace

std::optional<TFormatChoice> ParseFormatChoice(const std::string& text)
{
    const std::string value = Trim(text);
    const std::string lower = LowerAscii(value);
    TFormatChoice choice;
    if (lower == "best")
        return choice;
    if (lower == "audio") {
        choice.Kind = TFormatChoice::TKind::Audio;
        return choice;
    }
    for (const int height : {1080, 720, 480})
        if (lower == std::to_string(height) + "p") {
            choice.Kind = TFormatChoice::TKind::UpTo;
            choice.Height = height;
            return choice;
        }
    if (value.empty() || value.size() > 100 || value.front() == '+' || value.back() == '+')
        return std::nullopt;
    for (const char c : value)
        if (!IsIdChar(c))
            return std::nullopt;
    choice.Kind = TFormatChoice::TKind::Id;
    choice.Id = value;
    return choice;
}

std::string FormatChoiceText(const TFormatChoice& choice)
{
    switch (choice.Kind) {
    case TFormatChoice::TKind::Best: return "best";
    case TFormatChoice::TKind::UpTo: return std::to_string(choice.Height) + "p";
    case TFormatChoice::TKind::Audio: return "audio";
    case TFormatChoice::TKind::Id: return choice.Id;
    }
    return "best";
}

TEngineFormat EngineFormatFor(const TFormatChoice& choice)
{
    switch (choice.Kind) {
    case TFormatChoice::TKind::Best:
        return {};
    case TFormatChoice::TKind::UpTo: {
        const std::string h = std::to_string(choice.Height);
        return {"bv*[height<=" + h + "]+ba/b[height<=" + h + "]/wv*+ba/w", ""};
    }
    case TFormatChoice::TKind::Audio:
        return {"ba/b", ""};
    case TFormatChoice::TKind::Id:
        return {choice.Id, ""};
    }
    return {};
}

std::optional<std::string> ParseSubtitleLanguages(const std::string& text)
{
    std::string list;
    std::size_t start = 0;
    const std::string value = Trim(text);
    if (LowerAscii(value) == "all")
        return std::string("all");
    while (start <= value.size()) {
        std::size_t end = value.find(',', start);
        if (end == std::string::npos)
            end = value.size();
        const std::string language = Trim(value.substr(start, end - start));
        if (language.empty() || language.size() > 20)
            return std::nullopt;
        for (const char c : language)
            if (!IsLanguageChar(c))
                return std::nullopt;
        list += (list.empty() ? "" : ",") + language;
        if (list.size() > 200)
            return std::nullopt;
        start = end + 1;
    }
    if (list.empty())
        return std::nullopt;
    return list;
}

std::optional<std::string> ParseCookiesBrowser(const std::string& text)
{
    const std::string value = Trim(text);
    const std::size_t colon = value.find(':');
    const std::string browser = LowerAscii(value.substr(0, colon));
    bool known = false;
    for (const char* b : CookiesBrowsers)
        known = known || browser == b;
    if (!known)
        return std::nullopt;
    if (colon == std::string::npos)
        return browser;
    const std::string profile = value.substr(colon + 1);
    // The engine reads "::" as the start of a container's name, and cuts blanks
    // around the profile.
    if (profile.empty() || profile.size() > 1000 || profile.find("::") != std::string::npos ||
        profile.front() == ':' || Trim(profile) != profile)
        return std::nullopt;
    for (const char c : profile)
        if (static_cast<unsigned char>(c) < 32)
            return std::nullopt;
    return browser + ":" + profile;
}

std::optional<std::int64_t> ParseRateLimit(const std::string& text)
{
    std::string value = LowerAscii(Trim(text));
    if (EndsWith(value, "/s"))
        value.resize(value.size() - 2);
    if (EndsWith(value, "b"))
        value.pop_back();
    double unit = 1;
    if (!value.empty() && (value.back() == 'k' || value.back() == 'm' || value.back() == 'g')) {
        unit = value.back() == 'k' ? 1024.0 : value.back() == 'm' ? 1024.0 * 1024 : 1024.0 * 1024 * 1024;
        value.pop_back();
    }
    if (value.empty() || value.size() > 20)
        return std::nullopt;
    for (const char c : value)
        if (!((c >= '0' && c <= '9') || c == '.'))
            return std::nullopt;
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (end != value.c_str() + value.size() || !std::isfinite(number))
        return std::nullopt;
    const double rate = number * unit;
    if (rate < 1024 || rate > 2147483647.0)
        return std::nullopt;
    return static_cast<std::int64_t>(rate);
}

std::string RateLimitText(std::int64_t bytesPerSecond)
{
    if (bytesPerSecond % (1024 * 1024) == 0)
        return std::to_string(bytesPerSecond / (1024 * 1024)) + "M";
    if (bytesPerSecond % 1024 == 0)
        return std::to_string(bytesPerSecond / 1024) + "K";
    return std::to_string(bytesPerSecond);
}

std::vector<std::string> EngineCookiesArgs(const TEngineOptions& options, const std::string& cookiesCopy)
{
    if (!cookiesCopy.empty())
        return {"--cookies", cookiesCopy};
    if (!options.CookiesBrowser.empty())
        return {"--cookies-from-browser", options.CookiesBrowser};
    return {};
}

std::vector<std::string> NewerEngineArgs(const std::string& engineVersion)
{
    std::vector<std::string> args;
    if (AtLeast(engineVersion, ProgressDeltaSince)) {
        // The progress is shown a few times a second: more lines are read for nothing.
        args.push_back("--progress-delta");
        args.push_back("0.2");
    }
    return args;
}

std::vector<std::string> EngineOptionArgs(const TEngineOptions& options, const std::string& engineVersion,
                                          const std::string& cookiesCopy, const std::string& ext)
{
    std::vector<std::string> args;
    if (options.Metadata) {
        args.push_back("--embed-metadata");
        args.push_back("--embed-chapters");
        // The engine fails a download whose container takes no picture.
        for (const char* takes : {"mp4", "m4a", "m4v", "mov", "mkv", "mka", "mp3", "ogg", "opus", "flac"})
            if (LowerAscii(ext) == takes) {
                args.push_back("--embed-thumbnail");
                break;
            }
    }
    if (!options.Subtitles.empty()) {
        // Embedding writes the files itself and removes them afterwards; with
        // "--write-subs" besides, the engine would keep them.
        args.push_back(options.EmbedSubtitles ? "--embed-subs" : "--write-subs");
        args.push_back("--sub-langs");
        args.push_back(options.Subtitles);
        args.push_back("--convert-subs");
        args.push_back("srt");
    }
    const std::vector<std::string> cookies = EngineCookiesArgs(options, cookiesCopy);
    args.insert(args.end(), cookies.begin(), cookies.end());
    if (options.RateLimit > 0) {
        args.push_back("--limit-rate");
        args.push_back(std::to_string(options.RateLimit));
    }
    const std::vector<std::string> clip = ClipEngineArgs(options.Clip, ChapterOutputTemplate());
    args.insert(args.end(), clip.begin(), clip.end());
    const std::vector<std::string> newer = NewerEngineArgs(engineVersion);
    args.insert(args.end(), newer.begin(), newer.end());
    return args;
}

std::string FormatListLine(const TPageFormat& format)
{
    std::string resolution = "-";
    if (format.VideoCodec == "none")
        resolution = "audio only";
    else if (format.Width > 0 && format.Height > 0)
        resolution = std::to_string(format.Width) + "x" + std::to_string(format.Height);
    else if (format.Height > 0)
        resolution = std::to_string(format.Height) + "p";
    std::string fps = "-";
    if (format.Fps > 0)
        fps = FormatDecimal(format.Fps, 2, ".");
    std::string codecs;
    if (!format.VideoCodec.empty() && format.VideoCodec != "none")
        codecs = format.VideoCodec;
    if (!format.AudioCodec.empty() && format.AudioCodec != "none")
        codecs += (codecs.empty() ? "" : "+") + format.AudioCodec;
    const std::string size = format.Size > 0 ? SizeText(static_cast<std::uint64_t>(format.Size)) : "-";
    auto clean = [](const std::string& text) {
        std::string out = PrintableText(text);
        for (char& c : out)
            if (c == '\t')
                c = ' ';
        return OrDash(out);
    };
    return clean(format.Id) + "\t" + clean(format.Ext) + "\t" + resolution + "\t" + fps + "\t" + clean(codecs) + "\t" +
           size;
}

std::string FormatChoiceLine(const TPageFormat& format, bool polish)
{
    auto clean = [](const std::string& text) {
        std::string out = PrintableText(text);
        for (char& c : out)
            if (c == '\t')
                c = ' ';
        return out;
    };
    std::vector<std::string> parts;
    if (!format.Ext.empty())
        parts.push_back(clean(format.Ext));
    if (format.VideoCodec == "none")
        parts.push_back(polish ? "tylko d\u017awi\u0119k" : "audio only");
    else if (format.Width > 0 && format.Height > 0)
        parts.push_back(std::to_string(format.Width) + "x" + std::to_string(format.Height));
    else if (format.Height > 0)
        parts.push_back(std::to_string(format.Height) + "p");
    if (format.Fps > 0)
        parts.push_back(FormatDecimal(format.Fps, 2, ".") + " fps");
    std::string codecs;
    if (!format.VideoCodec.empty() && format.VideoCodec != "none")
        codecs = format.VideoCodec;
    if (!format.AudioCodec.empty() && format.AudioCodec != "none")
        codecs += (codecs.empty() ? "" : "+") + format.AudioCodec;
    if (!codecs.empty())
        parts.push_back(clean(codecs));
    if (format.Size > 0)
        parts.push_back(SizeText(static_cast<std::uint64_t>(format.Size)));
    std::string line = clean(format.Id);
    for (std::size_t i = 0; i < parts.size(); ++i)
        line += (i == 0 ? ": " : ", ") + parts[i];
    return line;
}

bool WritePrivateFile(const std::string& path, const std::string& text)
{
    const int fd = OpenRegular(path, TOpenAccess::Write, TOpenCreate::NewOnly, 0600);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, text.data(), text.size());
    const bool closed = CloseFile(fd);
    if (written && closed)
        return true;
    RemoveName(path);
    return false;
}

bool CopyCookiesFile(const std::string& from, const std::string& to)
{
    constexpr std::size_t MaxBytes = 16 * 1024 * 1024;
    const TWholeFile cookies = ReadWholeFile(from, MaxBytes);
    return cookies.Ok() && WritePrivateFile(to, cookies.Text);
}

namespace {
const char* const TempDirHoldFile = ".brimtale-run";

std::string TempFolder()
{
    return TemporaryFolder();
}
} // namespace

TPrivateTempDir::TPrivateTempDir()
{
    const std::string pattern = MakePrivateTempFolder("brimtale-");
    if (pattern.empty())
        return;
    hold_ = std::make_unique<TFolderHold>(pattern, TempDirHoldFile);
    if (hold_->Result() != TFolderHold::TResult::Held) {
        RemoveFolderTree(pattern);
        return;
    }
    path_ = pattern;
}

TPrivateTempDir::~TPrivateTempDir()
{
    if (path_.empty())
        return;
    RemoveFolderTree(path_);
}

int RemoveStaleTempDirs()
{
    return RemoveStaleFolders(TempFolder(), "brimtale-", TempDirHoldFile);
}

namespace {
std::mutex LookUpCookiesLock;
TEngineOptions LookUpCookies;
} // namespace

void SetLookUpCookies(const TEngineOptions& options)
{
    const std::lock_guard<std::mutex> lock(LookUpCookiesLock);
    LookUpCookies = TEngineOptions{};
    LookUpCookies.CookiesBrowser = options.CookiesBrowser;
    LookUpCookies.CookiesFile = options.CookiesFile;
}

std::vector<std::string> LookUpCookiesArgs(const TPrivateTempDir& dir, bool& failed)
{
    failed = false;
    TEngineOptions options;
    {
        const std::lock_guard<std::mutex> lock(LookUpCookiesLock);
        options = LookUpCookies;
    }
    std::string copy;
    if (!options.CookiesFile.empty()) {
        if (!dir.Path().empty())
            copy = dir.Path() + "/cookies.txt";
        if (copy.empty() || !CopyCookiesFile(options.CookiesFile, copy)) {
            failed = true;
            return {};
        }
    }
    return EngineCookiesArgs(options, copy);
}

std::string LookUpCookiesKey()
{
    const std::lock_guard<std::mutex> lock(LookUpCookiesLock);
    return LookUpCookies.CookiesBrowser + "\n" + LookUpCookies.CookiesFile;
}
