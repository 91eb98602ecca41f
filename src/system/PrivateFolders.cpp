// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/PrivateFolders.h"

#include "system/FileDescriptors.h"
#include "system/ZQ_FileSystem.h"

#include <cerrno>
#include <vector>

TFolderHold::TFolderHold(const std::string& dir, const std::string& holdName)
{
    fd_ = OpenRegular(dir + "/" + holdName, TOpenAccess::ReadWrite, TOpenCreate::IfMissing, 0600);
    if (fd_ < 0)
        return;
    // The lock belongs to this open file: a child never inherits the hold (not
    // inherited), and it ends when the process does, however it ends.
    if (LockFile(fd_, TLockWait::DontWait))
        result_ = TResult::Held;
    else
        result_ = errno == EWOULDBLOCK ? TResult::Busy : TResult::Failed;
}

TFolderHold::~TFolderHold()
{
    CloseFile(fd_);
}

int ForEachStaleFolder(const std::string& parent, std::string_view prefix, const std::string& holdName,
                       const std::function<void(const std::string& dir)>& action)
{
    std::vector<std::string> candidates;
    // A folder of many entries is read whole, but only names are kept.
    for (const std::string& name : FolderNames(parent))
        if (name.size() > prefix.size() && std::string_view(name).substr(0, prefix.size()) == prefix)
            candidates.emplace_back(parent + "/" + name);
    int stale = 0;
    for (const std::string& dir : candidates) {
        // Only a folder with a hold file: one without is no run's of this kind.
        if (!IsPrivateFolder(dir) || !PathInfoOf(dir + "/" + holdName).Regular)
            continue;
        const TFolderHold hold(dir, holdName);
        if (hold.Result() != TFolderHold::TResult::Held)
            continue;
        action(dir);
        ++stale;
    }
    return stale;
}

int RemoveStaleFolders(const std::string& parent, std::string_view prefix, const std::string& holdName)
{
    std::vector<std::string> stale;
    const int count = ForEachStaleFolder(parent, prefix, holdName, [&stale](const std::string& dir) {
        stale.push_back(dir);
    });
    // Each goes once its hold is given up: Windows removes no folder while a
    // file in it is open. Its unique name is no run's to take again.
    for (const std::string& dir : stale)
        RemoveFolderTree(dir);
    return count;
}

std::string MakePrivateTempFolder(const std::string& prefix)
{
    const std::string parent = TemporaryFolder();
    return parent.empty() ? std::string() : MakeUniquePrivateFolder(parent, prefix);
}
