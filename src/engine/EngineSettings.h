// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The page engine's choices as bmt.ini keeps them (section "Main"): the dialog's
// format, subtitles and metadata, and the Options tab's sign-in cookies and
// speed limit. Reading never fails (a missing or bad value is the default);
// writing is whole and locked as every settings write.

#include "engine/EngineOptions.h"

#include <string>

// The dialog's: "EngineFormat" (best, 1080p, 720p, 480p, audio or a format id),
// "Metadata" (1), "Subtitles" (empty, "all" or "en,pl"), "EmbedSubtitles" (0).
struct TEngineDialogSettings {
    TFormatChoice Format;
    bool Metadata = true;
    std::string Subtitles;
    bool EmbedSubtitles = false;
    bool operator==(const TEngineDialogSettings&) const = default;
};
TEngineDialogSettings ReadEngineDialogSettings(const std::string& settingsFile);
bool WriteEngineDialogSettings(const std::string& settingsFile, const TEngineDialogSettings& settings);

// The Options tab's: "CookiesFrom" (a browser, "BROWSER:PROFILE", or empty),
// "CookiesFile" (a file, or empty), "LimitRate" (as typed: "500K"; empty: none).
struct TEngineAccessSettings {
    std::string CookiesBrowser;
    std::string CookiesFile;
    std::string LimitRate;
    bool operator==(const TEngineAccessSettings&) const = default;
};
TEngineAccessSettings ReadEngineAccessSettings(const std::string& settingsFile);
bool WriteEngineAccessSettings(const std::string& settingsFile, const TEngineAccessSettings& settings);

// What a job asks of the engine from both: a value that is no valid one counts
// as none (a browser not offered, a rate that can't be read).
TEngineOptions EngineOptionsFrom(const TEngineDialogSettings& dialog, const TEngineAccessSettings& access);
