// SPDX-License-Identifier: GPL-3.0-or-later
// File and path helpers: the calls into a POSIX system.
#include "system/ZQ_FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;


bool FileExists(const std::string& path)
{
    // Only the type is looked at: nothing is opened, so a FIFO can't hold the caller up.
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

void RemoveFile(const std::string& path)
{
    if (path.empty() || DirectoryExists(path))
        return;
    if (::unlink(path.c_str()) == 0)
        return;
    ::chmod(path.c_str(), S_IRUSR | S_IWUSR);
    ::unlink(path.c_str());
}

std::int64_t FileSizeOf(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return static_cast<std::int64_t>(st.st_size);
}


int OpenOwnFileForWriting(const std::string& path, bool truncate)
{
    if (path.empty())
        return -1;
    // O_NOFOLLOW: a link at the name is refused, never followed; O_NONBLOCK: a
    // FIFO can't hold the caller up before the type check turns it down.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (truncate && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool ForceDirectories(const std::string& path)
{
    if (path.empty())
        return false;
    std::error_code ec;
    fs::create_directories(fs::path(path), ec);
    return DirectoryExists(path);
}

bool CanWriteInDirectory(const std::string& path)
{
    if (path.empty())
        return false;
    std::string probe = path + "/.brimtale-check-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

bool RenameFileNoReplace(const std::string& from, const std::string& to)
{
    if (from.empty() || to.empty() || PathExists(to))
        return false;
    // A hard link fails when the target exists, so an existing file is never replaced.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST)
        return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string ExpandFileName(const std::string& path)
{
    if (path.empty())
        return {};
    std::error_code ec;
    const fs::path abs = fs::absolute(fs::path(path), ec);
    if (ec)
        return path;
    return abs.lexically_normal().string();
}

unsigned OrdinaryFileMode()
{
    // Read from /proc, so that no other thread ever sees a changed umask.
    unsigned mask = 077;
    bool known = false;
    const TWholeFile status = ReadWholeFile("/proc/self/status", 64 * 1024);
    for (std::size_t start = 0; status.Ok() && start < status.Text.size();) {
        std::size_t end = status.Text.find('\n', start);
        if (end == std::string::npos)
            end = status.Text.size();
        if (std::sscanf(status.Text.substr(start, end - start).c_str(), "Umask: %o", &mask) == 1) {
            known = true;
            break;
        }
        start = end + 1;
    }
    if (!known)
        mask = 077;  // unknown: the file stays the user's own
    return 0666u & ~mask;
}

bool SetOrdinaryFileMode(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fchmod(fd, OrdinaryFileMode()) == 0;
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<TFileId> FileIdOf(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return TFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

int OpenSameFileForWriting(const std::string& path, const TFileId& id, bool& changed)
{
    changed = false;
    if (path.empty())
        return -1;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        // Gone, or a link, a FIFO or a device in its place: not the job's file.
        changed = errno == ENOENT || errno == ELOOP || errno == ENXIO || errno == EISDIR;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_dev) != id.Device ||
        static_cast<std::uint64_t>(st.st_ino) != id.Inode) {
        ::close(fd);
        changed = true;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool IsExecutableFile(const std::string& path)
{
    return FileExists(path) && ::access(path.c_str(), X_OK) == 0;
}

std::string FindExecutable(const std::string& name)
{
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return IsExecutableFile(name) ? name : std::string();
    const char* pathEnv = std::getenv("PATH");
    const std::string path = pathEnv ? pathEnv : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string dir = path.substr(start, end - start);
        const std::string candidate = JoinPath(dir.empty() ? "." : dir, name);
        if (IsExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

TPathInfo PathInfoOf(const std::string& path)
{
    TPathInfo info;
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0)
        return info;
    info.Exists = true;
    info.Regular = S_ISREG(st.st_mode);
    info.Folder = S_ISDIR(st.st_mode);
    info.Size = static_cast<std::int64_t>(st.st_size);
    return info;
}

std::optional<std::int64_t> ModifiedTimeNs(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::optional<TFileStamp> FileStampOf(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return TFileStamp{{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)},
                      static_cast<std::int64_t>(st.st_size),
                      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool ReplaceFile(const std::string& from, const std::string& to)
{
    return !from.empty() && !to.empty() && ::rename(from.c_str(), to.c_str()) == 0;
}

// A user's own regular executable file, not reached through a link.
bool IsOwnExecutable(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & S_IXUSR) && !(st.st_mode & (S_IWGRP | S_IWOTH));
}

bool IsOwnFolder(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}