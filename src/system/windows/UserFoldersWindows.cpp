// SPDX-License-Identifier: GPL-3.0-or-later
// The user's folders on Windows: the known folders (SHGetKnownFolderPath).
#include "system/UserFolders.h"

#include "system/ZQ_FileSystem.h"
#include "system/windows/WinText.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace {
std::string KnownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path)
        folder = PathFromWide(path);
    ::CoTaskMemFree(path);
    return folder;
}
} // namespace

std::string HomeFolder()
{
    return KnownFolder(FOLDERID_Profile);
}

std::string UserVideosFolder()
{
    const std::string videos = KnownFolder(FOLDERID_Videos);
    return videos.empty() ? HomeFolder() : videos;
}

std::string UserDesktopFolder()
{
    return KnownFolder(FOLDERID_Desktop);
}

std::string UserStartMenuFolder()
{
    return KnownFolder(FOLDERID_StartMenu);
}

std::string UserDataFolder()
{
    return JoinPath(KnownFolder(FOLDERID_RoamingAppData), "Brimtale");
}

bool IsInstalledProgram(const std::string& programDir)
{
    return !PathExists(JoinPath(programDir, "bmt.ini"));
}

std::string ShippedDataFolder(const std::string& programDir)
{
    return programDir;
}
