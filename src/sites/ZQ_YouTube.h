// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The YouTube resolver: the media address of one format of a watch page, and
// the probe of which formats a page offers.

#include <array>
#include <string>

extern const std::string YouTubeWatchPrefix;  // "http://www.youtube.com/watch?v="

bool IsYouTubeUrl(const std::string& text);

struct TYT_MovieItem {
    bool Found = false;
    std::string URL;
    std::string Extension;  // ".mp4", ".flv", ".mp3", ".avi" or empty
};

// Six items in the fixed order of format numbers 5, 34, 35, 18, 22, 37.
using TYT_Info_NEW = std::array<TYT_MovieItem, 6>;

// One row of the format table the dialog uses.
struct TYouTubeFormat {
    const char* Button;        // "rbMP4_1080", ...
    const char* Caption;       // "HD 1080p", ...
    bool Mp4;                  // MP4 (true) or FLV (false)
    int FormatNumber;          // 37, 22, 18, 35, 34, 5
    int Slot;                  // 1-based slot in TYT_Info_NEW
    const char* SettingsValue; // "MP4_1080", ...
};
// In the dialog's order: MP4 1080, 720, 360, FLV 480, 360, 240.
extern const std::array<TYouTubeFormat, 6> YouTubeFormats;
extern const std::array<int, 6> YouTubeProbeOrder;  // 5, 34, 35, 18, 22, 37

std::string NormalizeYouTubeUrl(const std::string& url);

// The address actually fetched for a format ("fmt=" neutralised, "&fmt=N" added).
std::string YouTubeFormatUrl(const std::string& pageUrl, int formatNumber);
// The media address found in a page text for a format; empty when none.
std::string FindYouTubeStream(const std::string& pageText, int formatNumber);

TYT_MovieItem GetYouTubeMovie(const std::string& pageUrl, int formatNumber);
TYT_Info_NEW GetYouTubeFormats(const std::string& pageUrl);
