// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The user's own folders and where the program's data lives, as each system
// has them: XDG folders on Linux (posix/UserFoldersPosix.cpp), the known
// folders on Windows (windows/UserFoldersWindows.cpp).
#include <string>

// The user's home folder ("/" or empty when unknown).
std::string HomeFolder();
// Where the user keeps videos: the XDG videos folder, ~/Videos, the home
// folder; on Windows the Videos known folder.
std::string UserVideosFolder();
// The user's desktop folder: XDG_DESKTOP_DIR from user-dirs.dirs, else
// ~/Desktop; on Windows the Desktop known folder.
std::string UserDesktopFolder();
// Where the user's own menu entries go: $XDG_DATA_HOME/applications
// (~/.local/share/applications); on Windows the user's Start Menu folder.
std::string UserStartMenuFolder();
// Where the program keeps its data for this user when it is installed:
// $XDG_DATA_HOME/brimtale (~/.local/share/brimtale); %APPDATA%\Brimtale.
std::string UserDataFolder();
// Whether the program in programDir is an installed one (its data in the
// user's folders) rather than a portable folder (its data beside it): on
// POSIX systems a "../share/brimtale" beside its bin folder; on Windows no
// "bmt.ini" beside the executable (the portable zip ships an empty one).
bool IsInstalledProgram(const std::string& programDir);
// Where the files shipped with the program (profiles, the signing key) are:
// "../share/brimtale" beside its bin folder; on Windows its own folder.
std::string ShippedDataFolder(const std::string& programDir);
