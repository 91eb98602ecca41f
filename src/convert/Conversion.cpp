// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion steps that need no window.

#include "convert/Conversion.h"

#include "app/IniFile.h"

#include "convert/MediaProbe.h"
#include "base/ZQ_Conversion.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace {

bool HasExt(const std::string& ext)
{
    return !ext.empty() && ext != "-";
}

// Two names of one file: equal without regard to letter case, or two existing
// names (links, "./" spellings) that lead to the same file.
bool SameFile(const std::string& a, const std::string& b)
{
    if (SameTextAscii(a, b))
        return true;
    std::error_code ec;
    return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, ec) && !ec;
}

bool StartsWithAt(const std::string& s, std::size_t at, std::string_view what)
{
    if (s.size() - at < what.size())
        return false;
    for (std::size_t i = 0; i < what.size(); ++i) {
        char c = s[at + i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != what[i])
            return false;
    }
    return true;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "  libavutil      57. 28.100 / 57. 28.100" and "  libavutil version: 49.0.0"
bool IsLibraryVersionLine(const std::string& line)
{
    if (!StartsWithText(line, "  lib"))
        return false;
    std::size_t i = 5;
    while (i < line.size() && IsAsciiLetter(line[i]))
        ++i;
    if (i == 5 || i >= line.size() || line[i] != ' ')
        return false;
    while (i < line.size() && line[i] == ' ')
        ++i;
    return i < line.size() && (IsDigit(line[i]) || StartsWithText(line.substr(i), "version"));
}

// The rest of the banner's "configuration:" line, which is longer than an entry
// can hold: only "--option" words after a first (possibly cut) word.
bool IsConfigurationRest(const std::string& line)
{
    std::size_t words = 0;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i >= line.size())
            break;
        if (words > 0 && line.compare(i, 2, "--") != 0)
            return false;
        ++words;
        while (i < line.size() && line[i] != ' ')
            ++i;
    }
    return words >= 3;
}

// The encoder's time: seconds ("30.00") or hours:minutes:seconds ("00:00:30.00").
std::optional<double> ReadProgressTime(std::string text)
{
    // (A time the encoder doesn't know yet comes as a huge negative value,
    // which gives no percentage.)
    if (text.find(':') != std::string::npos)
        return TimeTextToSeconds(text);
    text = ReplaceFirst(text, ",", ".");
    return StrToFloat(text);
}

}  // namespace

TConversionNames ConversionNames(const TDownloadJob& job, bool localSource)
{
    TConversionNames names;
    names.Input = localSource ? job.Source : job.OutputFile;
    names.Output = job.OutputFile;
    if (HasExt(job.TargetExt))
        names.Output = ChangeFileExt(names.Output, "." + job.TargetExt);
    names.EncoderOutput = names.Output;
    if (HasExt(job.EncoderExt)) {
        names.EncoderOutput = ChangeFileExt(names.Output, "." + job.EncoderExt);
        // Without a final extension the encoder's file keeps its name.
        if (HasExt(job.TargetExt) && names.EncoderOutput != names.Output)
            names.FinalOutput = names.Output;
    }
    // The encoder must neither write onto its input nor have its output renamed
    // onto it.
    names.SameAsInput = SameFile(names.Output, names.Input) || SameFile(names.EncoderOutput, names.Input);
    return names;
}

std::string AspectText(std::int32_t width, std::int32_t height)
{
    if (height <= 0)
        return "16:9";
    const std::string text = FormatDecimal(static_cast<double>(width) / static_cast<double>(height), 4, "");
    return ReplaceFirst(text, ",", ".");
}

std::vector<std::string> BuildEncoderArgs(const std::string& params, const std::string& defaultVideoBitrate,
                                          const std::string& input, const std::string& output,
                                          const std::string& aspect)
{
    struct TPlaceholder {
        std::string_view Name;  // upper case
        const std::string* Value;
    };
    const std::array<TPlaceholder, 4> placeholders{{
        {"%DVB", &defaultVideoBitrate},
        {"%ASP", &aspect},
        {"%1", &input},
        {"%2", &output},
    }};

    std::vector<std::string> args = SplitCommandLine(params);
    for (std::string& arg : args) {
        // One pass from left to right: what a placeholder brings in is never
        // looked at again, so a path holding "%2" or "%ASP" arrives unchanged.
        std::string filled;
        std::size_t i = 0;
        while (i < arg.size()) {
            bool replaced = false;
            if (arg[i] == '%') {
                for (const TPlaceholder& p : placeholders) {
                    if (StartsWithAt(arg, i, p.Name)) {
                        filled += *p.Value;
                        i += p.Name.size();
                        replaced = true;
                        break;
                    }
                }
            }
            if (!replaced)
                filled.push_back(arg[i++]);
        }
        arg.swap(filled);
    }
    return args;
}

bool IsBannerLine(const std::string& line)
{
    static const std::array<const char*, 10> prefixes{
        "FFmpeg version",
        "  configuration:",
        "  libavutil version:",
        "  libavcodec version:",
        "  libavformat version:",
        "  libavdevice version:",
        "  built on ",
        "Press [q] to stop encoding",
        // Today's encoder: "  built with gcc 12 ...", and the shorter
        // "Press [q] to stop, [?] for help".
        "  built with ",
        "Press [q] to stop",
    };
    for (const char* prefix : prefixes)
        if (StartsWithText(line, prefix))
            return true;
    return IsLibraryVersionLine(line) || IsConfigurationRest(line);
}

namespace {
bool IsDroppedLine(const std::string& entry)
{
    return Trim(entry).empty() || IsBannerLine(entry);
}

TProgressReading ReadProgressEntry(const std::string& entry)
{
    TProgressReading reading;
    if (entry.find("time=") == std::string::npos || entry.find("size=") == std::string::npos)
        return reading;

    // The encoder's six-character "frame=" label is dropped.
    const std::string counters = entry.size() > 6 ? entry.substr(6) : std::string();
    const std::size_t fps = counters.find("fps=");
    if (fps != std::string::npos) {
        // A frame count is never negative; such a reading is ignored.
        const std::optional<std::int32_t> frames = StrToInt32(Trim(counters.substr(0, fps)));
        if (frames && *frames >= 0)
            reading.Frames = *frames;
    }

    const std::string afterTime = Trim(entry.substr(entry.find("time=") + 5));
    const std::size_t blank = afterTime.find(' ');
    if (blank != std::string::npos)
        if (const std::optional<double> seconds = ReadProgressTime(afterTime.substr(0, blank)))
            reading.TimeSeconds = RoundHalfEven(*seconds);
    return reading;
}

// The walk goes from the last entry to the first, so for each value the reading
// nearest the top wins: an earlier reading overrides a later one.
void TakeReading(TProgressReading& into, const TProgressReading& earlier)
{
    if (earlier.Frames)
        into.Frames = earlier.Frames;
    if (earlier.TimeSeconds)
        into.TimeSeconds = earlier.TimeSeconds;
}

TConversionProgress ProgressOf(const TProgressReading& reading)
{
    TConversionProgress progress;
    if (reading.Frames)
        progress.Frames = *reading.Frames;
    if (reading.TimeSeconds)
        progress.TimeSeconds = *reading.TimeSeconds;
    return progress;
}
} // namespace

TConversionProgress TrimAndReadProgress(std::vector<std::string>& lines)
{
    TProgressReading reading;
    for (std::size_t i = lines.size(); i-- > 0;) {
        if (IsDroppedLine(lines[i])) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        TakeReading(reading, ReadProgressEntry(lines[i]));
    }
    return ProgressOf(reading);
}

TConversionProgress TProgressReader::Read(std::vector<std::string>& lines)
{
    if (lines.size() < settled_) {
        // The list was emptied or cut by someone else: read it afresh.
        settled_ = 0;
        prefix_.clear();
    }
    // Only entries from the last settled one on can be new or changed.
    lines.erase(std::remove_if(lines.begin() + static_cast<std::ptrdiff_t>(settled_), lines.end(), IsDroppedLine),
                lines.end());
    if (lines.empty()) {
        settled_ = 0;
        prefix_.clear();
        return {};
    }
    // The last entry may still be rewritten (a line ended by CR replaces it), also
    // when it was settled before and what followed it was dropped.
    settled_ = std::min(settled_, lines.size() - 1);
    prefix_.resize(settled_ + 1);
    for (std::size_t i = settled_; i + 1 < lines.size(); ++i) {
        TProgressReading next = ReadProgressEntry(lines[i]);
        ++entriesRead_;
        TakeReading(next, prefix_.back());
        prefix_.push_back(next);
    }
    settled_ = lines.size() - 1;
    TProgressReading reading = ReadProgressEntry(lines.back());
    ++entriesRead_;
    TakeReading(reading, prefix_.back());
    return ProgressOf(reading);
}

int ConversionPercent(std::int64_t timeSeconds, std::int32_t durationSeconds)
{
    if (durationSeconds <= 0 || timeSeconds <= 0)
        return 0;
    const std::int64_t percent =
        RoundHalfEven(static_cast<double>(timeSeconds) * 100.0 / static_cast<double>(durationSeconds));
    if (percent < 0)
        return 0;
    if (percent > 100)
        return 100;
    return static_cast<int>(percent);
}

void WriteErrorLog(const std::string& fileName, const std::vector<std::string>& lines)
{
    // The date and time as the user's locale writes them.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char date[64] = "";
    char time[64] = "";
    if (::localtime_r(&now, &local)) {
        std::strftime(date, sizeof date, "%x", &local);
        std::strftime(time, sizeof time, "%X", &local);
    }
    std::string lf = std::string(date) + " - " + time + "\n";
    for (const std::string& line : lines)
        lf += line + "\n";
    std::string text;
    for (const std::string& line : SplitLines(lf))
        text += line + "\r\n";
    // A new file put in place whole: on a full disk the old log stays as it
    // was, and a link at the name is replaced, never written through.
    ReplaceFileAtomically(fileName, text);
}
