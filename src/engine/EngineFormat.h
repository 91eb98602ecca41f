// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A format as the page engine lists it, and the engine's choice of format.

#include <cstdint>
#include <string>

struct TPageFormat {
    std::string Id;
    std::string Ext;
    std::string VideoCodec;  // "none" for audio only; empty when the engine doesn't know
    std::string AudioCodec;
    int Height = 0;          // 0 when unknown
    std::int64_t Size = 0;   // 0 when unknown
    int Width = 0;           // 0 when unknown
    double Fps = 0;          // frames per second, 0 when unknown
};

// The engine's choice of format: a format selection and, when video and audio
// arrive apart, the container they are merged into (empty: the engine's own).
struct TEngineFormat {
    std::string Selector;
    std::string MergeFormat;
    bool operator==(const TEngineFormat&) const = default;
};

// True for a media file's extension (no dot, lower case) the program knows.
bool IsMediaExtension(const std::string& ext);
// True for the extensions (".mp4" or "mp4", any case) a file the engine made may
// have: the media and subtitle types the program knows. Anything else (a
// ".desktop", a script) is refused.
bool IsEngineResultExtension(const std::string& ext);
