// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Program-wide values set once at start-up, and the small path helpers that
// find the program's files beside its executable.

#include "system/ZQ_FileSystem.h"  // FindExecutable, CleanDirPath

#include <array>
#include <optional>
#include <string>

struct TDownloadJob;
struct TAppSettings;

// The extensions of media files the program knows: "mp4", "avi", ...
extern const std::array<const char*, 10> MediaExtensions;

extern std::string AppDir;            // directory of the executable, no trailing "/"
extern std::string DataDir;           // where bmt.ini, the history and the log live
extern std::string DefaultOutputDir;  // first output directory the dialog offers
extern std::string SettingsFile;      // DataDir + "/bmt.ini"
extern std::string ShortcutFileName;  // "brimtale.desktop"

// Directory of the running executable, through CleanDirPath.
std::string ProgramDir();

// The output directory a typed text names, as an absolute path: "~" and "~/..."
// are the home folder, any other relative path is taken inside the home folder
// (never the working directory); "" stays "".
std::string UserOutputDir(const std::string& typed);

// True when the text is a signed 32-bit integer (decimal, or "$" and hexadecimal).
bool IsInteger(const std::string& text);

// The encoder: "ffmpeg" beside the executable, else the first "ffmpeg" on PATH,
// else the empty text. Looks at the disk on every call.
std::string GetFfmpegPath();

// The page engine: "yt-dlp" beside the executable, else the first "yt-dlp" on
// PATH, else the empty text. When PageEngineOverride holds a value it is used
// instead ("" meaning that there is none).
extern std::optional<std::string> PageEngineOverride;
std::string GetPageEnginePath();


// Sets AppDir, DataDir and DefaultOutputDir. When the executable's directory
// can't be written (an installed program), the data files live in the user's
// data folder and downloads go to the user's Videos folder.
void InitAppDirs();
// True when the executable's folder sits in an installed prefix (a
// "../share/brimtale" beside it); otherwise the folder is portable.
bool IsInstalledLayout(const std::string& programDir);
void InitAppDirsFor(const std::string& programDir);
void InitAppDirsFor(const std::string& programDir, bool programDirWritable);

// The error log of failed conversions.
std::string ErrorLogFile();

// Where the shipped profiles are found beside an installed program
// (<prefix>/share/brimtale); empty when there is no such folder.
std::string SharedDataDir();
