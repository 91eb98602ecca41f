// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/EngineSettings.h"

#include "app/IniFile.h"

TEngineDialogSettings ReadEngineDialogSettings(const std::string& settingsFile)
{
    TEngineDialogSettings settings;
    try {
        const TIniFile ini(settingsFile);
        settings.Format = ParseFormatChoice(ini.ReadString("Main", "EngineFormat", "best")).value_or(TFormatChoice{});
        settings.Metadata = ini.ReadBool("Main", "Metadata", true);
        settings.Subtitles = ParseSubtitleLanguages(ini.ReadString("Main", "Subtitles", "")).value_or("");
        settings.EmbedSubtitles = ini.ReadBool("Main", "EmbedSubtitles", false);
    } catch (...) {
    }
    return settings;
}

bool WriteEngineDialogSettings(const std::string& settingsFile, const TEngineDialogSettings& settings)
{
    try {
        TIniFile ini(settingsFile);
        return ini.WriteStrings({
            {"Main", {"EngineFormat", FormatChoiceText(settings.Format)}},
            {"Main", {"Metadata", settings.Metadata ? "1" : "0"}},
            {"Main", {"Subtitles", settings.Subtitles}},
            {"Main", {"EmbedSubtitles", settings.EmbedSubtitles ? "1" : "0"}},
        });
    } catch (...) {
        return false;
    }
}

TEngineAccessSettings ReadEngineAccessSettings(const std::string& settingsFile)
{
    TEngineAccessSettings settings;
    try {
        const TIniFile ini(settingsFile);
        settings.CookiesBrowser = ini.ReadString("Main", "CookiesFrom", "");
        settings.CookiesFile = ini.ReadString("Main", "CookiesFile", "");
        settings.LimitRate = ini.ReadString("Main", "LimitRate", "");
    } catch (...) {
    }
    return settings;
}

bool WriteEngineAccessSettings(const std::string& settingsFile, const TEngineAccessSettings& settings)
{
    try {
        TIniFile ini(settingsFile);
        return ini.WriteStrings({
            {"Main", {"CookiesFrom", settings.CookiesBrowser}},
            {"Main", {"CookiesFile", settings.CookiesFile}},
            {"Main", {"LimitRate", settings.LimitRate}},
        });
    } catch (...) {
        return false;
    }
}

TEngineOptions EngineOptionsFrom(const TEngineDialogSettings& dialog, const TEngineAccessSettings& access)
{
    TEngineOptions options;
    options.Metadata = dialog.Metadata;
    options.Subtitles = ParseSubtitleLanguages(dialog.Subtitles).value_or("");
    options.EmbedSubtitles = !options.Subtitles.empty() && dialog.EmbedSubtitles;
    options.CookiesBrowser = ParseCookiesBrowser(access.CookiesBrowser).value_or("");
    // A browser wins over a file: the window offers one or the other.
    if (options.CookiesBrowser.empty() && !access.CookiesFile.empty() && access.CookiesFile[0] == '/')
        options.CookiesFile = access.CookiesFile;
    options.RateLimit = access.LimitRate.empty() ? 0 : ParseRateLimit(access.LimitRate).value_or(0);
    return options;
}
