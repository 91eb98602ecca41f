// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProgramValues.h"

#include "app/IniFile.h"

#include "base/ZQ_Conversion.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "system/FileDescriptors.h"
#include "system/Platform.h"
#include "system/UserFolders.h"
#include "system/ZQ_System.h"

const std::array<const char*, 10> MediaExtensions = {"mp4", "avi", "wmv", "mp3", "wav", "flac", "voc", "ac3", "aac", "wma"};

std::string AppDir;
std::string DataDir;
std::string DefaultOutputDir;
std::string SettingsFile;
std::string ShortcutFileName = ShortcutFileOfProgram;

std::string ProgramDir()
{
    const std::string exe = ExecutablePath();
    const std::size_t slash = exe.rfind('/');
    if (slash == std::string::npos)
        return {};
    return CleanDirPath(slash == 0 ? "/" : exe.substr(0, slash));
}

bool IsInteger(const std::string& text)
{
    // An optional sign and digits with nothing after them: "12 " is no integer.
    return !text.empty() && static_cast<unsigned char>(text.back()) > ' ' && StrToInt32(text).has_value();
}


std::string UserOutputDir(const std::string& typed)
{
    const std::string dir = Trim(typed);
    if (dir.empty())
        return {};
    if (IsAbsolutePath(dir))
        return ExpandFileName(dir);
    const std::string home = HomeFolder();
    if (dir == "~")
        return ExpandFileName(home);
    if (dir.rfind("~/", 0) == 0)
        return ExpandFileName(JoinPath(home, dir.substr(2)));
    // "~user" is not looked up; like any relative path it is taken in the home folder.
    return ExpandFileName(JoinPath(home, dir));
}

namespace {
std::string FindBesideOrOnPath(const std::string& name)
{
    const std::string beside = JoinPath(AppDir, name);
    if (!AppDir.empty() && IsExecutableFile(beside))
        return beside;
    return FindExecutable(name);
}
} // namespace

std::optional<std::string> PageEngineOverride;

std::string GetFfmpegPath()
{
    return FindBesideOrOnPath("ffmpeg");
}

std::string GetPageEnginePath()
{
    if (PageEngineOverride)
        return PageEngineOverride->empty() ? std::string() : FindExecutable(*PageEngineOverride);
    return FindBesideOrOnPath("yt-dlp");
}

bool IsInstalledLayout(const std::string& programDir)
{
    return !programDir.empty() && IsInstalledProgram(programDir);
}

void InitAppDirsFor(const std::string& programDir)
{
    // An installed program keeps its data in the user's folders whoever runs it
    // (root may write the bin folder, but it is no place for settings); a
    // portable folder keeps them beside the executable when it may be written.
    const bool portable = !IsInstalledLayout(programDir);
    InitAppDirsFor(programDir, portable && MayWrite(programDir));
}

void InitAppDirsFor(const std::string& programDir, bool programDirWritable)
{
    AppDir = programDir;
    if (programDirWritable) {
        DataDir = AppDir;
        DefaultOutputDir = AppDir;
    } else {
        DataDir = UserDataFolder();
        ForceDirectories(DataDir);
        DefaultOutputDir = UserVideosFolder();
    }
}

void InitAppDirs()
{
    InitAppDirsFor(ProgramDir());
}

std::string ErrorLogFile()
{
    return JoinPath(DataDir, "bmt_errors.log");
}

std::string SharedDataDir()
{
    if (AppDir.empty())
        return {};
    const std::string dir = CleanDirPath(ExpandFileName(ShippedDataFolder(AppDir)));
    return DirectoryExists(dir) ? dir : std::string();
}
