// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/PrivateFolders.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

TFolderHold::TFolderHold(const std::string& dir, const std::string& holdName)
{
    fd_ = ::open((dir + "/" + holdName).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd_ < 0)
        return;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    // flock belongs to this open file: a child never inherits the hold (close on
    // exec), and it ends when the process does, however it ends.
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0)
        result_ = TResult::Held;
    else
        result_ = errno == EWOULDBLOCK ? TResult::Busy : TResult::Failed;
}

TFolderHold::~TFolderHold()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool IsPrivateFolder(const std::string& dir)
{
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 0777) == 0700;
}

int ForEachStaleFolder(const std::string& parent, std::string_view prefix, const std::string& holdName,
                       const std::function<void(const std::string& dir)>& action)
{
    std::vector<std::string> candidates;
    if (DIR* d = ::opendir(parent.c_str())) {
        // A folder of many entries is read whole, but only names are kept.
        while (const dirent* entry = ::readdir(d)) {
            const std::string_view name = entry->d_name;
            if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix)
                candidates.emplace_back(parent + "/" + std::string(name));
        }
        ::closedir(d);
    }
    int stale = 0;
    for (const std::string& dir : candidates) {
        // Only a folder with a hold file: one without is no run's of this kind.
        struct stat st {};
        if (!IsPrivateFolder(dir) || ::lstat((dir + "/" + holdName).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
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
    return ForEachStaleFolder(parent, prefix, holdName, [](const std::string& dir) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    });
}
