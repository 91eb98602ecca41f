// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProgramValues.h"

#include "app/IniFile.h"

#include "base/ZQ_Conversion.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"
#include "system/ZQ_System.h"

#include <cstdlib>
#include <unistd.h>

const std::array<const char*, 10> MediaExtensions = {"mp4", "avi", "wmv", "mp3", "wav", "flac", "voc", "ac3", "aac", "wma"};

std::string AppDir;
std::string DataDir;
std::string DefaultOutputDir;
std::string SettingsFile;
std::string ShortcutFileName = "brimtale.desktop";

std::string CleanDirPath(const std::string& path)
{
    std::string p = path;
    if (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.size() >= 2 && p.compare(p.size() - 2, 2, "/.") == 0) {
        p.erase(p.size() - 2);
        if (p.empty())
            return std::string(1, '/');
    }
    return p;
}

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

namespace {
// The XDG videos folder: XDG_VIDEOS_DIR from user-dirs.dirs, else ~/Videos when it
// exists, else the home folder.
std::string UserVideosDir()
{
    const char* homeEnv = std::getenv("HOME");
    const std::string home = homeEnv && *homeEnv ? homeEnv : "/";
    const char* configEnv = std::getenv("XDG_CONFIG_HOME");
    const std::string config = configEnv && *configEnv ? configEnv : JoinPath(home, ".config");
    if (const TWholeFile dirs = ReadWholeFile(JoinPath(config, "user-dirs.dirs"), 65536); dirs.Ok()) {
        for (const std::string& line : SplitLines(dirs.Text)) {
            const std::string t = Trim(line);
            if (t.rfind("XDG_VIDEOS_DIR=", 0) != 0)
                continue;
            std::string value = t.substr(15);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            value = ReplaceFirst(value, "$HOME", home);
            if (DirectoryExists(value))
                return CleanDirPath(value);
        }
    }
    if (DirectoryExists(JoinPath(home, "Videos")))
        return JoinPath(home, "Videos");
    return CleanDirPath(home);
}

std::string UserDataDir()
{
    const char* dataEnv = std::getenv("XDG_DATA_HOME");
    if (dataEnv && *dataEnv)
        return JoinPath(dataEnv, "brimtale");
    const char* homeEnv = std::getenv("HOME");
    const std::string home = homeEnv && *homeEnv ? homeEnv : "/tmp";
    return JoinPath(home, ".local/share/brimtale");
}
} // namespace

std::string UserOutputDir(const std::string& typed)
{
    const std::string dir = Trim(typed);
    if (dir.empty())
        return {};
    if (dir.front() == '/')
        return ExpandFileName(dir);
    const char* homeEnv = std::getenv("HOME");
    const std::string home = homeEnv && *homeEnv == '/' ? homeEnv : "/";
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
    return !programDir.empty() && DirectoryExists(JoinPath(programDir, "../share/brimtale"));
}

void InitAppDirsFor(const std::string& programDir)
{
    // An installed program keeps its data in the user's folders whoever runs it
    // (root may write the bin folder, but it is no place for settings); a
    // portable folder keeps them beside the executable when it may be written.
    const bool portable = !IsInstalledLayout(programDir);
    InitAppDirsFor(programDir, portable && ::access(programDir.c_str(), W_OK) == 0);
}

void InitAppDirsFor(const std::string& programDir, bool programDirWritable)
{
    AppDir = programDir;
    if (programDirWritable) {
        DataDir = AppDir;
        DefaultOutputDir = AppDir;
    } else {
        DataDir = UserDataDir();
        ForceDirectories(DataDir);
        DefaultOutputDir = UserVideosDir();
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
    const std::string dir = CleanDirPath(ExpandFileName(JoinPath(AppDir, "../share/brimtale")));
    return DirectoryExists(dir) ? dir : std::string();
}
