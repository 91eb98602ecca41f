// SPDX-License-Identifier: GPL-3.0-or-later
// The user's folders on Linux: the home folder and the XDG folders.
#include "system/UserFolders.h"

#include "base/ZQ_Strings.h"
#include "system/ZQ_FileSystem.h"

#include <cstdlib>

std::string HomeFolder()
{
    const char* homeEnv = std::getenv("HOME");
    return homeEnv && *homeEnv == '/' ? homeEnv : "/";
}

namespace {
std::string HomeOrRoot()
{
    const char* homeEnv = std::getenv("HOME");
    return homeEnv && *homeEnv ? homeEnv : "/";
}

// A folder named in the user's user-dirs.dirs (KEY="$HOME/Name"), or the
// empty text when the file or the key is missing.
std::string XdgUserDir(const std::string& key)
{
    const std::string home = HomeOrRoot();
    const char* configEnv = std::getenv("XDG_CONFIG_HOME");
    const std::string config = configEnv && *configEnv ? configEnv : JoinPath(home, ".config");
    const TWholeFile dirs = ReadWholeFile(JoinPath(config, "user-dirs.dirs"), 65536);
    if (!dirs.Ok())
        return {};
    for (const std::string& line : SplitLines(dirs.Text)) {
        const std::string t = Trim(line);
        if (t.rfind(key + "=", 0) != 0)
            continue;
        std::string value = t.substr(key.size() + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        return ReplaceFirst(value, "$HOME", home);
    }
    return {};
}
} // namespace

std::string UserVideosFolder()
{
    // XDG_VIDEOS_DIR when it exists, else ~/Videos when it exists, else the
    // home folder.
    const std::string home = HomeOrRoot();
    if (const std::string videos = XdgUserDir("XDG_VIDEOS_DIR"); !videos.empty() && DirectoryExists(videos))
        return CleanDirPath(videos);
    if (DirectoryExists(JoinPath(home, "Videos")))
        return JoinPath(home, "Videos");
    return CleanDirPath(home);
}

std::string UserDesktopFolder()
{
    const std::string desktop = XdgUserDir("XDG_DESKTOP_DIR");
    return desktop.empty() ? JoinPath(HomeOrRoot(), "Desktop") : CleanDirPath(desktop);
}

std::string UserStartMenuFolder()
{
    // A relative XDG_DATA_HOME is not one (the XDG rules say to ignore it).
    const char* dataEnv = std::getenv("XDG_DATA_HOME");
    const std::string data = dataEnv && *dataEnv == '/' ? dataEnv : JoinPath(HomeOrRoot(), ".local/share");
    return JoinPath(data, "applications");
}

std::string UserDataFolder()
{
    const char* dataEnv = std::getenv("XDG_DATA_HOME");
    if (dataEnv && *dataEnv)
        return JoinPath(dataEnv, "brimtale");
    const char* homeEnv = std::getenv("HOME");
    const std::string home = homeEnv && *homeEnv ? homeEnv : "/tmp";
    return JoinPath(home, ".local/share/brimtale");
}

bool IsInstalledProgram(const std::string& programDir)
{
    return DirectoryExists(JoinPath(programDir, "../share/brimtale"));
}

std::string ShippedDataFolder(const std::string& programDir)
{
    return JoinPath(programDir, "../share/brimtale");
}
