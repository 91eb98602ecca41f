// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The folders the program's shortcut goes into, by the names the main window
// uses: "Desktop" (the user's desktop folder) and "Start Menu" (the user's
// applications menu folder; on Windows the Start Menu), found by the system
// layer (system/UserFolders.h).

#include <string>

// The folder's path, or the empty text for an unknown name.
std::string ShellFolder(const std::string& name);

// The installed icon for the shortcut, or the empty text when there is none.
std::string InstalledIconPath();
