// SPDX-License-Identifier: GPL-3.0-or-later
// Calls on open files and single names, on POSIX systems.
#include "system/FileDescriptors.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenRegular(const std::string& path, TOpenAccess access, TOpenCreate create, unsigned mode)
{
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    flags |= access == TOpenAccess::Read ? O_RDONLY : access == TOpenAccess::Write ? O_WRONLY : O_RDWR;
    if (create == TOpenCreate::IfMissing)
        flags |= O_CREAT;
    else if (create == TOpenCreate::NewOnly)
        flags |= O_CREAT | O_EXCL;
    const int fd = ::open(path.c_str(), flags, static_cast<mode_t>(mode));
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // O_NONBLOCK was only there so that opening a FIFO can't wait.
    const int current = ::fcntl(fd, F_GETFL);
    if (current >= 0)
        ::fcntl(fd, F_SETFL, current & ~O_NONBLOCK);
    return fd;
}

int OpenForReading(const std::string& path, TLinkAtName links, TFileRead& status, std::int64_t& size)
{
    status = TFileRead::CannotOpen;
    size = 0;
    if (path.empty())
        return -1;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; O_NOCTTY: a
    // terminal never becomes ours. The type is checked on what was opened.
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (links == TLinkAtName::Refuse)
        flags |= O_NOFOLLOW;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        status = S_ISREG(st.st_mode) ? TFileRead::ReadFailed : TFileRead::NotRegular;
        ::close(fd);
        return -1;
    }
    status = TFileRead::Ok;
    size = static_cast<std::int64_t>(st.st_size);
    return fd;
}

bool CloseFile(int fd)
{
    return fd < 0 || ::close(fd) == 0;
}

long long ReadSome(int fd, char* data, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

long long ReadAt(int fd, char* data, std::size_t size, std::int64_t offset)
{
    for (;;) {
        const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

bool WriteAllAt(int fd, const char* data, std::size_t size, std::int64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SetFileLength(int fd, std::int64_t length)
{
    return ::ftruncate(fd, static_cast<off_t>(length)) == 0;
}

int ReserveFileSpace(int fd, std::int64_t length)
{
    int rc = ::posix_fallocate(fd, 0, static_cast<off_t>(length));
    if (rc == EOPNOTSUPP || rc == EINVAL || rc == 0)
        rc = ::ftruncate(fd, static_cast<off_t>(length)) == 0 ? 0 : errno;
    return rc;
}

std::optional<std::int64_t> OpenFileSize(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

bool SeekToEnd(int fd)
{
    return ::lseek(fd, 0, SEEK_END) >= 0;
}

bool SyncFile(int fd)
{
    return ::fsync(fd) == 0;
}

bool LockFile(int fd, TLockWait wait)
{
    for (;;) {
        if (::flock(fd, LOCK_EX | (wait == TLockWait::DontWait ? LOCK_NB : 0)) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool IsDiskFullError(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

bool MakeFolder(const std::string& path, unsigned mode)
{
    return ::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

bool RemoveEmptyFolder(const std::string& path)
{
    return ::rmdir(path.c_str()) == 0;
}

bool RemoveFolderTree(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return !ec;
}

std::optional<TFileId> OpenFileId(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return TFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool MoveFolderOntoEmpty(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveName(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

std::vector<std::string> FolderNames(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

bool MayWrite(const std::string& path)
{
    return ::access(path.c_str(), W_OK) == 0;
}

std::optional<std::string> LinkTarget(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return std::nullopt;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
        return std::nullopt;
    target.resize(static_cast<std::size_t>(n));
    return target;
}

void KeepOwnerAndMode(const std::string& path, int fd)
{
    struct stat old {};
    if (::lstat(path.c_str(), &old) != 0)
        return;
    // The owner can only be kept where the system allows it (root, or the
    // same user); the mode always is.
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        // not allowed: the file becomes the writer's, as any new file would
    }
    ::fchmod(fd, old.st_mode & 07777);
}

bool IsAbsolutePath(const std::string& path)
{
    return !path.empty() && path.front() == '/';
}

std::string LocalPathOfUriPath(const std::string& uriPath)
{
    return uriPath;
}

void SyncFolder(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int OwnProcessId()
{
    return static_cast<int>(::getpid());
}
