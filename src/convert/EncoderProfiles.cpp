// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion profiles: every section of the profile file except "MAIN" with a
// non-blank "Params" is one profile, in the order of the sections in the file.

#include "convert/EncoderProfiles.h"

#include "app/IniFile.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

namespace {

constexpr std::size_t NameMax = 250;
constexpr std::size_t ParamsMax = 250;
constexpr std::size_t ExtMax = 10;

std::string ExtOrNone(const std::string& value)
{
    return value.empty() ? std::string("-") : Utf8Cut(value, ExtMax);
}

}  // namespace

std::vector<TEncoderProfile> ReadEncoderProfiles(const std::string& fileName)
{
    std::vector<TEncoderProfile> profiles;
    if (!FileExists(fileName))
        return profiles;
    try {
        const TIniFile ini(fileName);
        for (const std::string& section : ini.Sections()) {
            if (UpperAscii(section) == "MAIN")
                continue;
            const std::string params = ini.ReadString(section, "Params", "");
            if (Trim(params).empty())
                continue;
            TEncoderProfile profile;
            profile.Section = section;
            profile.DisplayName = Utf8Cut(ini.ReadString(section, "DisplayName", section), NameMax);
            profile.Params = Utf8Cut(params, ParamsMax);
            profile.EncExt = ExtOrNone(ini.ReadString(section, "EncExt", ""));
            profile.Ext = ExtOrNone(ini.ReadString(section, "Ext", ""));
            profiles.push_back(std::move(profile));
        }
    } catch (...) {
        // An unreadable file gives the profiles read so far (none, usually).
    }
    return profiles;
}

std::string ReadDefaultVideoBitrate(const std::string& fileName)
{
    const std::string fallback = "280k";
    if (!FileExists(fileName))
        return fallback;
    try {
        const TIniFile ini(fileName);
        // An empty value would leave the encoder a bitrate option without a value.
        const std::string value = ini.ReadString("MAIN", "DefaultVideoBitrate", fallback);
        return value.empty() ? fallback : value;
    } catch (...) {
        return fallback;
    }
}

const TEncoderProfile* FindProfileNamed(const std::vector<TEncoderProfile>& profiles, const std::string& name)
{
    for (const TEncoderProfile& p : profiles)
        if (SameTextAscii(Trim(name), p.Section))
            return &p;
    for (const TEncoderProfile& p : profiles)
        if (SameTextAscii(Trim(name), p.DisplayName))
            return &p;
    return nullptr;
}
