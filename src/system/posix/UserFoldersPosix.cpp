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

std::string UserVideosFolder()
{
    // XDG_VIDEOS_DIR from user-dirs.dirs, else ~/Videos when it exists, else
    // the home folder.
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
