// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ZQ_ShellFolders.h"

#include "app/ProgramValues.h"
#include "system/UserFolders.h"
#include "system/ZQ_FileSystem.h"

std::string ShellFolder(const std::string& name)
{
    if (name == "Desktop")
        return UserDesktopFolder();
    if (name == "Start Menu")
        return UserStartMenuFolder();
    return {};
}

std::string InstalledIconPath()
{
    if (AppDir.empty())
        return {};
    const std::string icon =
        ExpandFileName(AppDir + "/../share/icons/hicolor/scalable/apps/brimtale.svg");
    return FileExists(icon) ? icon : std::string();
}
