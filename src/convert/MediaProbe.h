// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the encoder tells about a media file: duration, frame size, frame rate.

#include "system/ConRun.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TMediaStreamEntry {
    bool Present = false;
    std::string Text;  // at most 200 bytes
};

struct TMediaInfo {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::string FileName;
    std::int64_t FileSize = 0;
    std::int32_t DurationSeconds = 0;  // duration minus start, rounded, never below 0
    double Duration = 0;               // as printed, start not subtracted
    std::string DurationText;          // at most 20 bytes
    std::int32_t StartTime = 0;
    double FrameRate = 0;
    std::string VideoCodec;            // at most 20 bytes
    std::int32_t FrameCount = 0;
    std::array<TMediaStreamEntry, 21> Streams{};  // the first 20 "Stream #" lines
};

// Runs "encoder -i file" and reads its description into info (zeroed first);
// onTick is called while it runs (see RunConsoleApp).
void ProbeMediaFile(const std::string& file, const std::string& encoder, TMediaInfo& info,
                    const TConsoleTick& onTick = {});
// The reading of the description lines on their own.
void ParseProbeOutput(const std::vector<std::string>& lines, TMediaInfo& info);
// "00:03:25.12" -> 205.12; a text without ":" gives 0.
double TimeTextToSeconds(const std::string& text);
