// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/EngineFormat.h"

#include "app/ProgramValues.h"
#include "base/ZQ_Strings.h"

#include <algorithm>

bool IsMediaExtension(const std::string& ext)
{
    if (std::find(MediaExtensions.begin(), MediaExtensions.end(), ext) != MediaExtensions.end())
        return true;
    for (const char* more : {"flv", "webm", "mkv", "m4a", "m4v", "mov", "ogg", "ogv", "opus", "ts", "3gp", "mpg"})
        if (ext == more)
            return true;
    return false;
}

bool IsEngineResultExtension(const std::string& ext)
{
    const std::string name = LowerAscii(!ext.empty() && ext[0] == '.' ? ext.substr(1) : ext);
    if (name.empty())
        return false;
    if (IsMediaExtension(name))
        return true;
    for (const char* subtitle : {"srt", "vtt", "ass", "ssa", "sub", "lrc", "ttml"})
        if (name == subtitle)
            return true;
    return false;
}
