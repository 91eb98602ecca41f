// SPDX-License-Identifier: GPL-3.0-or-later
// Media probe: the encoder run with "-i" and the file prints a description of
// the file and stops; the duration, start time, frame size and frame rate are
// read from that description.

#include "convert/MediaProbe.h"

#include "app/ProgramValues.h"
#include "system/ConRun.h"
#include "base/ZQ_Conversion.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr std::size_t StreamTextMax = 200;
constexpr std::size_t ShortTextMax = 20;
constexpr std::size_t StreamsKept = 20;

// The text after the first occurrence of marker (empty when it is missing).
std::string After(const std::string& s, const std::string& marker)
{
    const std::size_t p = s.find(marker);
    return p == std::string::npos ? std::string() : s.substr(p + marker.size());
}

// Numbers are written with "." or "," as decimal separator.
std::optional<double> ReadFloat(std::string text)
{
    text = ReplaceAll(text, ",", ".");
    const std::optional<double> value = StrToFloat(text);
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    return value;
}

std::int32_t ToInt32(double value)
{
    const std::int64_t r = RoundHalfEven(value);
    if (r > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (r < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "Duration: 00:03:25.12, start: 0.000000, bitrate: 512 kb/s"
void ReadDurationLine(const std::string& line, TMediaInfo& info)
{
    const std::string rest = After(line, "Duration:");
    const std::size_t comma = rest.find(',');
    if (comma == std::string::npos)
        return;
    const std::string durationText = Trim(rest.substr(0, comma));
    info.DurationText = Utf8Cut(durationText, ShortTextMax);
    // A playing time is never negative, whatever the line says.
    info.Duration = std::max(0.0, TimeTextToSeconds(durationText));
    info.DurationSeconds = ToInt32(info.Duration);

    const std::string afterComma = rest.substr(comma + 1);
    if (afterComma.find("start:") == std::string::npos)
        return;
    const std::string startRest = Trim(After(afterComma, "start:"));
    const std::size_t startComma = startRest.find(',');
    if (startComma == std::string::npos)
        return;
    double working = info.Duration;
    if (const std::optional<double> start = ReadFloat(startRest.substr(0, startComma))) {
        info.StartTime = ToInt32(*start);
        working -= *start;
    }
    if (working < 0)
        working = 0;
    info.DurationSeconds = ToInt32(working);
}

// The frame size "WIDTHxHEIGHT" in the items before the frame rate: the last "x"
// with digits directly on both sides, whose width doesn't start with 0 and
// doesn't continue a word (so a codec tag like "0x31637661" is passed over).
void ReadFrameSize(const std::string& text, TMediaInfo& info)
{
    for (std::size_t x = text.rfind('x'); x != std::string::npos && x > 0; x = text.rfind('x', x - 1)) {
        std::size_t b = x;
        while (b > 0 && IsDigit(text[b - 1]))
            --b;
        std::size_t e = x + 1;
        while (e < text.size() && IsDigit(text[e]))
            ++e;
        if (b == x || e == x + 1 || text[b] == '0' || (b > 0 && IsAlnum(text[b - 1])))
            continue;
        const std::optional<std::int32_t> w = StrToInt32(text.substr(b, x - b));
        const std::optional<std::int32_t> h = StrToInt32(text.substr(x + 1, e - x - 1));
        if (w)
            info.Width = *w;
        if (h)
            info.Height = *h;
        return;
    }
}

// "Stream #0:0(und): Video: h264 (High) (avc1 / 0x31637661), yuv420p(progressive),
//  1280x720 [SAR 1:1 DAR 16:9], 25 fps, 25 tbr, 12800 tbn (default)"
void ReadVideoLine(const std::string& line, TMediaInfo& info)
{
    std::string text = Trim(After(line, "Video:"));
    const std::size_t firstComma = text.find(',');
    if (firstComma == std::string::npos)
        return;
    // The codec is the first word: newer encoders add a profile and a tag in
    // brackets after it.
    std::string codec = Trim(text.substr(0, firstComma));
    const std::size_t blank = codec.find(' ');
    if (blank != std::string::npos)
        codec.erase(blank);
    info.VideoCodec = Utf8Cut(codec, ShortTextMax);

    const std::size_t tbr = text.find(" tbr,");
    if (tbr != std::string::npos)
        text.erase(tbr);
    const std::size_t lastComma = text.rfind(',');
    if (lastComma == std::string::npos)
        return;
    std::string rate = Trim(text.substr(lastComma + 1));
    const std::size_t rateBlank = rate.find(' ');
    if (rateBlank != std::string::npos)
        rate.erase(rateBlank);
    if (const std::optional<double> r = ReadFloat(rate))
        info.FrameRate = *r;
    ReadFrameSize(text.substr(0, lastComma), info);
}

}  // namespace

double TimeTextToSeconds(const std::string& text)
{
    std::string t = ReplaceAll(ReplaceAll(text, ",", "."), " ", "");
    std::size_t colon = t.find(':');
    if (colon == std::string::npos)
        return 0;
    double hours = 0;
    double minutes = 0;
    double seconds = 0;
    if (const std::optional<std::int32_t> h = StrToInt32(t.substr(0, colon)))
        hours = *h;
    t.erase(0, colon + 1);
    colon = t.find(':');
    if (colon != std::string::npos) {
        if (const std::optional<std::int32_t> m = StrToInt32(t.substr(0, colon)))
            minutes = *m;
        t.erase(0, colon + 1);
        if (const std::optional<double> s = ReadFloat(t))
            seconds = *s;
    }
    return hours * 3600 + minutes * 60 + seconds;
}

void ParseProbeOutput(const std::vector<std::string>& lines, TMediaInfo& info)
{
    std::size_t streamCount = 0;
    for (const std::string& line : lines) {
        if (line.find("Duration:") != std::string::npos)
            ReadDurationLine(line, info);
        if (line.find("Stream #") != std::string::npos) {
            ++streamCount;
            if (streamCount <= StreamsKept) {
                TMediaStreamEntry& entry = info.Streams[streamCount - 1];
                entry.Present = true;
                entry.Text = Utf8Cut(Trim(line), StreamTextMax);
            }
            if (line.find("Video:") != std::string::npos)
                ReadVideoLine(line, info);
        }
    }
    const double frames = static_cast<double>(info.DurationSeconds) * info.FrameRate;
    info.FrameCount = ToInt32(frames);
}

void ProbeMediaFile(const std::string& file, const std::string& encoder, TMediaInfo& info, const TConsoleTick& onTick)
{
    info = TMediaInfo{};
    info.FileName = file;
    info.FileSize = FileSizeOf(file);
    if (!FileExists(file) || FindExecutable(encoder).empty())
        return;
    std::vector<std::string> lines;
    // The file goes to the encoder as one argument, whatever characters it holds.
    RunConsoleApp(encoder, std::vector<std::string>{"-i", file}, &lines, nullptr, TLineEndRule::LoneLfCompletes, onTick);
    ParseProbeOutput(lines, info);
}
