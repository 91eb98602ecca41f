// SPDX-License-Identifier: GPL-3.0-or-later
#include "sites/ZQ_YouTube.h"

#include "net/ZQ_Internet.h"
#include "base/ZQ_Strings.h"
#include "base/ZQ_URL.h"
#include "sites/SitePage.h"

#include <algorithm>
#include <vector>

const std::string YouTubeWatchPrefix = "http://www.youtube.com/watch?v=";

const std::array<TYouTubeFormat, 6> YouTubeFormats = {{
    {"rbMP4_1080", "HD 1080p", true, 37, 6, "MP4_1080"},
    {"rbMP4_720", "HD 720p", true, 22, 5, "MP4_720"},
    {"rbMP4_360", "360p", true, 18, 4, "MP4_360"},
    {"rbFLV_480", "480p", false, 35, 3, "FLV_480"},
    {"rbFLV_360", "360p", false, 34, 2, "FLV_360"},
    {"rbFLV_240", "240p", false, 5, 1, "FLV_240"},
}};

const std::array<int, 6> YouTubeProbeOrder = {5, 34, 35, 18, 22, 37};

namespace {
// Length of the video identifier kept in a stream address.
constexpr std::size_t StreamIdLength = 16;

// The lines of a text in ascending order, letter case ignored; of lines that
// differ only in case, the first one stays.
std::vector<std::string> SortedUniqueLines(const std::string& text)
{
    struct Entry {
        std::string key;
        std::string line;
    };
    std::vector<Entry> list;
    for (std::string& line : SplitLines(text))
        list.push_back(Entry{LowerAscii(line), std::move(line)});
    // A stable sort keeps equal lines in page order, so the first of them leads its run.
    std::stable_sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
    std::vector<std::string> lines;
    lines.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i)
        if (i == 0 || list[i].key != list[i - 1].key)
            lines.push_back(std::move(list[i].line));
    return lines;
}

// A stream line's address with its "id=" value cut to its first 16 characters;
// every other parameter is copied as it stands, in its order.
std::string CutStreamId(const std::string& line)
{
    std::string result;
    std::size_t from = 0;
    bool first = true;
    while (true) {
        const std::size_t amp = line.find('&', from);
        const std::string part = line.substr(from, amp == std::string::npos ? std::string::npos : amp - from);
        if (first) {
            result = part;
            first = false;
        } else if (part.compare(0, 3, "id=") == 0) {
            result += "&id=" + part.substr(3, StreamIdLength);
        } else {
            result += "&" + part;
        }
        if (amp == std::string::npos)
            break;
        from = amp + 1;
    }
    return result;
}
} // namespace

bool IsYouTubeUrl(const std::string& text)
{
    const std::string t = LowerAscii(Trim(text));
    return Pos("//youtube.", t) > 0 || Pos(".youtube.", t) > 0;
}

std::string NormalizeYouTubeUrl(const std::string& url)
{
    if (Pos("/user/", url) == 0)
        return url;
    // A channel address whose last element is a video identifier.
    return YouTubeWatchPrefix + url.substr(LastCharPos(url, '/'));
}

std::string YouTubeFormatUrl(const std::string& pageUrl, int formatNumber)
{
    std::string url = NormalizeYouTubeUrl(pageUrl);
    // A format the address already asks for must not reach the site twice.
    url = ReplaceFirst(url, "fmt=", "ffmt=");
    return url + "&fmt=" + std::to_string(formatNumber);
}

std::string FindYouTubeStream(const std::string& pageText, int formatNumber)
{
    std::string text = UrlDecode(pageText);
    // Every address starts a line of its own.
    text = ReplaceAll(text, "http://", "\r\n\r\nhttp://");
    text = ReplaceAll(text, "|", "");

    const std::string itag = "itag=" + std::to_string(formatNumber);
    std::string candidate;
    for (const std::string& line : SortedUniqueLines(text)) {
        if (Pos("videoplayback", line) == 0 || Pos(itag, line) == 0)
            continue;
        if (Pos("id=", line) == 0)
            continue;
        // The last qualifying line in sorted order wins.
        candidate = CutStreamId(line);
    }
    return candidate;
}

TYT_MovieItem GetYouTubeMovie(const std::string& pageUrl, int formatNumber)
{
    TYT_MovieItem item;
    std::string page;
    if (!ReadPageText(YouTubeFormatUrl(pageUrl, formatNumber), ResolverPageChunks, page))
        return item;
    const std::string url = FindYouTubeStream(page, formatNumber);
    if (url.empty())
        return item;
    item.Found = true;
    item.URL = url;
    item.Extension = DetectMediaExtension(url, "", true);
    return item;
}

TYT_Info_NEW GetYouTubeFormats(const std::string& pageUrl)
{
    TYT_Info_NEW info;
    const std::string url = NormalizeYouTubeUrl(pageUrl);
    for (std::size_t i = 0; i < YouTubeProbeOrder.size(); ++i)
        info[i] = GetYouTubeMovie(url, YouTubeProbeOrder[i]);
    return info;
}
