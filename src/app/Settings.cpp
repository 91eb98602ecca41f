// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Settings.h"

#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "system/ZQ_System.h"

#include <algorithm>

TAppSettings AppSettings;

namespace {
const char* const Section = "Main";
constexpr std::size_t MaxHistoryFile = 16 * 1024 * 1024;

std::string DefaultProfilesFile()
{
    const std::string own = DataDir + "/bmt_encoder_profiles.ini";
    if (FileExists(own))
        return own;
    // An installed program reads the shipped profiles until the user has a copy.
    const std::string shared = SharedDataDir();
    if (!shared.empty() && FileExists(shared + "/bmt_encoder_profiles.ini"))
        return shared + "/bmt_encoder_profiles.ini";
    return own;
}
} // namespace

void InitSettings()
{
    AppSettings = TAppSettings{};
    AppSettings.DirListFile = DataDir + "/bmt_directories.txt";
    AppSettings.LastDir = DefaultOutputDir;
    AppSettings.ProfilesFile = DefaultProfilesFile();
}

void LoadSettings(const std::string& fileName)
{
    try {
        const TIniFile ini(fileName);
        const std::string lang = UpperAscii(Trim(ini.ReadString(Section, "Language", "EN")).substr(0, 2));
        AppSettings.LangPolish = lang == "PL";
        AppSettings.AutoClose = ini.ReadBool(Section, "AutoClose", AppSettings.AutoClose);
        AppSettings.Notifications = ini.ReadBool(Section, "Notifications", AppSettings.Notifications);
        AppSettings.EngineNightly = LowerAscii(Trim(ini.ReadString(Section, "EngineChannel", "stable"))) == "nightly";
        AppSettings.EngineWeeklyCheck = ini.ReadBool(Section, "EngineWeeklyCheck", false);
        AppSettings.EngineLastCheckDay = ini.ReadInteger(Section, "EngineLastCheckDay", 0);
        AppSettings.ListInFolder = ini.ReadBool(Section, "ListInFolder", AppSettings.ListInFolder);
        AppSettings.MaxDownloads =
            std::clamp(ini.ReadInteger(Section, "MaxDownloads", AppSettings.MaxDownloads), 1, MaxDownloadsLimit);
        AppSettings.ShowDownloadWindows = ini.ReadBool(Section, "ShowDownloadWindows", AppSettings.ShowDownloadWindows);
        AppSettings.ResumeAtStart = ini.ReadBool(Section, "ResumeAtStart", AppSettings.ResumeAtStart);
        AppSettings.Connections =
            std::clamp(ini.ReadInteger(Section, "Connections", AppSettings.Connections), 1, ConnectionsLimit);
        // A size from another screen is fitted to this one when the window opens.
        AppSettings.MainWidth = std::clamp(ini.ReadInteger(Section, "MainWidth", 0), 0, 20000);
        AppSettings.MainHeight = std::clamp(ini.ReadInteger(Section, "MainHeight", 0), 0, 20000);
        AppSettings.ListColumns = ini.ReadString(Section, "ListColumns", "").substr(0, 200);
        const std::string lastDir = ini.ReadString(Section, "LastDir", AppSettings.LastDir);
        // A longer path would name another directory once cut, so it is not taken.
        if (DirectoryExists(lastDir) && lastDir.size() <= SettingsPathMax)
            AppSettings.LastDir = lastDir;
        // "DirListFile" is written for reference; the history stays in its default place.
    } catch (...) {
    }
}

void SaveSettings(const std::string& fileName, bool withAutoClose)
{
    try {
        TIniFile ini(fileName);
        std::vector<std::pair<std::string, std::pair<std::string, std::string>>> keys;
        keys.push_back({Section, {"Language", AppSettings.LangPolish ? "PL" : "EN"}});
        if (withAutoClose)
            keys.push_back({Section, {"AutoClose", AppSettings.AutoClose ? "1" : "0"}});
        keys.push_back({Section, {"DirListFile", AppSettings.DirListFile}});
        keys.push_back({Section, {"LastDir", CleanDirPath(AppSettings.LastDir)}});
        ini.WriteStrings(keys);
    } catch (...) {
    }
}

void SaveNotificationsSetting(const std::string& fileName)
{
    try {
        TIniFile(fileName).WriteBool(Section, "Notifications", AppSettings.Notifications);
    } catch (...) {
    }
}

void SaveMainWindowSettings(const std::string& fileName)
{
    try {
        TIniFile(fileName).WriteStrings({{Section, {"MainWidth", std::to_string(AppSettings.MainWidth)}},
                                         {Section, {"MainHeight", std::to_string(AppSettings.MainHeight)}},
                                         {Section, {"ListColumns", AppSettings.ListColumns}}});
    } catch (...) {
    }
}

void SaveListFolderSetting(const std::string& fileName)
{
    try {
        TIniFile(fileName).WriteBool(Section, "ListInFolder", AppSettings.ListInFolder);
    } catch (...) {
    }
}

void ApplyFirstRunLanguage()
{
    if (!FileExists(SettingsFile))
        AppSettings.LangPolish = LocaleIsPolish(ProcessLocaleName());
}

std::vector<std::string> LoadDirList(const std::string& fileName)
{
    std::vector<std::string> dirs;
    const TWholeFile file = ReadWholeFile(fileName, MaxHistoryFile);
    if (!file.Ok())
        return dirs;
    for (const std::string& line : SplitLines(file.Text))
        if (!Trim(line).empty())
            dirs.push_back(line);
    return dirs;
}

void SaveDirList(const std::string& fileName, const std::vector<std::string>& dirs)
{
    std::string text;
    for (const std::string& d : dirs) {
        text += d;
        text += "\r\n";
    }
    WriteFileAtomically(fileName, text);
}

void SaveEngineSettings(const std::string& fileName)
{
    try {
        TIniFile(fileName).WriteStrings({
            {Section, {"EngineChannel", AppSettings.EngineNightly ? "nightly" : "stable"}},
            {Section, {"EngineWeeklyCheck", AppSettings.EngineWeeklyCheck ? "1" : "0"}},
            {Section, {"EngineLastCheckDay", std::to_string(AppSettings.EngineLastCheckDay)}},
        });
    } catch (...) {
    }
}

void SaveDownloadListSettings(const std::string& fileName)
{
    try {
        TIniFile(fileName).WriteStrings({
            {Section, {"MaxDownloads", std::to_string(std::clamp(AppSettings.MaxDownloads, 1, MaxDownloadsLimit))}},
            {Section, {"ShowDownloadWindows", AppSettings.ShowDownloadWindows ? "1" : "0"}},
            {Section, {"ResumeAtStart", AppSettings.ResumeAtStart ? "1" : "0"}},
            {Section, {"Connections", std::to_string(std::clamp(AppSettings.Connections, 1, ConnectionsLimit))}},
        });
    } catch (...) {
    }
}
