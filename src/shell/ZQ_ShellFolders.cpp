// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ZQ_ShellFolders.h"

#include "app/ProgramValues.h"
#include "system/ZQ_FileSystem.h"

#include <QStandardPaths>
#include <QString>

std::string ShellFolder(const std::string& name)
{
    QString folder;
    if (name == "Desktop")
        folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    else if (name == "Start Menu")
        folder = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    return folder.toStdString();
}

std::string InstalledIconPath()
{
    if (AppDir.empty())
        return {};
    const std::string icon =
        ExpandFileName(AppDir + "/../share/icons/hicolor/scalable/apps/brimtale.svg");
    return FileExists(icon) ? icon : std::string();
}
