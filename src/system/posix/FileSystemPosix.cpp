// SPDX-License-Identifier: GPL-3.0-or-later
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

namespace {
// Opens a regular file for reading (never waiting on a FIFO, never reading a
// device); -1 with the reason in status otherwise.
int OpenRegularFile(const std::string& path, TLinkAtName links, TFileRead& status, struct stat& st)
{
    status = TFileRead::CannotOpen;
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
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        status = S_ISREG(st.st_mode) ? TFileRead::ReadFailed : TFileRead::NotRegular;
        ::close(fd);
        return -1;
    }
    status = TFileRead::Ok;
    return fd;
}

// Appends to text what the descriptor gives, up to wanted bytes in all;
// false when a read fails.
bool ReadUpTo(int fd, std::string& text, std::size_t wanted)
{
    char buffer[65536];
    while (text.size() < wanted) {
        const std::size_t room = std::min(sizeof buffer, wanted - text.size());
        const ssize_t n = ::read(fd, buffer, room);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}
} // namespace

TWholeFile ReadWholeFile(const std::string& path, std::size_t maxBytes, TLinkAtName links)
{
    TWholeFile file;
    struct stat st {};
    const int fd = OpenRegularFile(path, links, file.Status, st);
    if (fd < 0)
        return file;
    // A size claimed over the limit is refused at once; a smaller claim is not
    // trusted: the reading below stops at the limit by itself.
    if (st.st_size > 0 && static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        file.Status = TFileRead::TooBig;
        return file;
    }
    if (st.st_size > 0)
        file.Text.reserve(static_cast<std::size_t>(st.st_size));
    // Up to one byte past the limit, to tell "exactly the limit" from "more".
    const std::size_t wanted = maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1;
    if (!ReadUpTo(fd, file.Text, wanted))
        file.Status = TFileRead::ReadFailed;
    ::close(fd);
    if (file.Status == TFileRead::Ok && file.Text.size() > maxBytes)
        file.Status = TFileRead::TooBig;
    if (file.Status != TFileRead::Ok)
        std::string().swap(file.Text);
    return file;
}

TWholeFile ReadFileLines(const std::string& path, std::size_t maxBytes, std::uint64_t& linesBeyond)
{
    linesBeyond = 0;
    TWholeFile file;
    struct stat st {};
    const int fd = OpenRegularFile(path, TLinkAtName::Follow, file.Status, st);
    if (fd < 0)
        return file;
    if (!ReadUpTo(fd, file.Text, maxBytes)) {
        ::close(fd);
        file = TWholeFile{TFileRead::ReadFailed, {}};
        return file;
    }
    // What is past the limit is only counted, a chunk at a time; so is a
    // line that the limit cut.
    std::string rest;
    const std::size_t lastEnd = file.Text.rfind('\n');
    if (file.Text.size() == maxBytes) {
        rest = file.Text.substr(lastEnd == std::string::npos ? 0 : lastEnd + 1);
        file.Text.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
        for (;;) {
            const bool ended = rest.empty() || rest.back() == '\n';
            linesBeyond += static_cast<std::uint64_t>(std::count(rest.begin(), rest.end(), '\n'));
            rest.clear();
            if (!ReadUpTo(fd, rest, 1 << 20) || rest.empty()) {
                if (!ended)
                    ++linesBeyond;  // a last line without its end
                break;
            }
        }
    }
    ::close(fd);
    return file;
}

std::string FileReadText(TFileRead status)
{
    switch (status) {
    case TFileRead::Ok:
        return "read";
    case TFileRead::CannotOpen:
        return "cannot be opened";
    case TFileRead::NotRegular:
        return "not a regular file";
    case TFileRead::TooBig:
        return "larger than allowed";
    case TFileRead::ReadFailed:
        return "cannot be read";
    }
    return {};
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

bool CreateEmptyFile(const std::string& path)
{
    const int fd = OpenOwnFileForWriting(path, true);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
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

std::string ExtractFileName(const std::string& path)
{
    const std::size_t p = path.rfind('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFileDir(const std::string& path)
{
    const std::size_t p = path.rfind('/');
    if (p == std::string::npos)
        return {};
    if (p == 0)
        return "/";
    return path.substr(0, p);
}

std::string ExtractFileExt(const std::string& path)
{
    const std::string name = ExtractFileName(path);
    const std::size_t p = name.rfind('.');
    return p == std::string::npos ? std::string() : name.substr(p);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + ext;
    return path.substr(0, dot) + ext;
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

std::string FileIdText(const TFileId& id)
{
    return std::to_string(id.Device) + ":" + std::to_string(id.Inode);
}

std::optional<TFileId> FileIdFromText(std::string_view text)
{
    const auto number = [](std::string_view digits) -> std::optional<std::uint64_t> {
        if (digits.empty() || digits.size() > 19)
            return std::nullopt;
        std::uint64_t value = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return value;
    };
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto device = number(text.substr(0, colon));
    const auto inode = number(text.substr(colon + 1));
    if (!device || !inode)
        return std::nullopt;
    return TFileId{*device, *inode};
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

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
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

bool IsEmptyRegularFile(const std::string& path)
{
    const TPathInfo info = PathInfoOf(path);
    return info.Regular && info.Size == 0;
}

void RemoveIfEmptyFile(const std::string& path)
{
    if (IsEmptyRegularFile(path))
        RemoveFile(path);
}

std::optional<std::int64_t> ModifiedTimeNs(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
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
