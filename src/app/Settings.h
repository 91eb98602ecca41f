// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings every process loads at start-up and writes back at fixed moments
// (section "Main" of bmt.ini), and the directory history file.

#include <string>
#include <vector>

constexpr std::size_t SettingsPathMax = 250;

struct TAppSettings {
    bool AutoClose = false;
    bool LangPolish = false;
    bool Notifications = true;  // a desktop notification when a job ends unseen
    std::string DirListFile;   // directory history file
    std::string LastDir;       // last output directory
    std::string ProfilesFile;  // encoder profiles file
    bool EngineNightly = false;      // the page engine's updates come from the nightly builds
    bool EngineWeeklyCheck = false;  // look for a newer page engine once a week
    int EngineLastCheckDay = 0;      // day (since 1970) of the last weekly look
    bool ListInFolder = true;        // the videos of a list go into a folder named after it
    int MaxDownloads = 3;             // jobs of the list that run at once
    bool ShowDownloadWindows = true;  // a single job of the dialog opens its window (jobs that come as many never do)
    bool ResumeAtStart = true;        // unfinished jobs of the list continue at start
    int Connections = 4;              // connections per download, and per host across all jobs
    int MainWidth = 0;                // the main window's size as the user left it (0: not known)
    int MainHeight = 0;
    std::string ListColumns;          // the list's column widths, "W,W,..."
};

constexpr int MaxDownloadsLimit = 10;
constexpr int ConnectionsLimit = 16;

extern TAppSettings AppSettings;

// Defaults built from DataDir (and the shipped profiles for an installed program).
void InitSettings();
// Overlays AppSettings with what the file holds; never fails.
void LoadSettings(const std::string& fileName);
// Writes Language, DirListFile, LastDir (and AutoClose when asked); never fails.
void SaveSettings(const std::string& fileName, bool withAutoClose);

// Writes Notifications alone, at once: download processes read it when they start.
void SaveNotificationsSetting(const std::string& fileName);

// Writes MainWidth, MainHeight and ListColumns at once.
void SaveMainWindowSettings(const std::string& fileName);

// Writes ListInFolder alone, at once.
void SaveListFolderSetting(const std::string& fileName);

// The first-run rule: without a settings file the locale decides the language.
void ApplyFirstRunLanguage();

// Directory history: one directory per line, newest first. Blank lines are dropped.
std::vector<std::string> LoadDirList(const std::string& fileName);
void SaveDirList(const std::string& fileName, const std::vector<std::string>& dirs);

// Writes the page engine's settings (EngineChannel, EngineWeeklyCheck,
// EngineLastCheckDay) at once.
void SaveEngineSettings(const std::string& fileName);

// Writes MaxDownloads, ShowDownloadWindows, ResumeAtStart and Connections at once.
void SaveDownloadListSettings(const std::string& fileName);
