// SPDX-License-Identifier: GPL-3.0-or-later
// Calls on open files and single names, on Windows: CreateFileW on the long
// form of the path, the handle then kept in a C runtime descriptor.
#include "system/FileDescriptors.h"

#include "system/windows/WinText.h"

#include <cerrno>
#include <filesystem>
#include <fcntl.h>
#include <io.h>

namespace {

void SetErrnoFrom(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: errno = EACCES; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO; break;
    }
}

HANDLE HandleOf(int fd)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// Opens the name itself (a reparse point there is opened, not followed) and
// keeps it only when it is a regular file on a disk.
HANDLE OpenRegularHandle(const std::string& path, DWORD access, DWORD disposition, bool followLink,
                         TFileRead* status)
{
    if (status)
        *status = TFileRead::CannotOpen;
    if (path.empty()) {
        errno = ENOENT;
        return INVALID_HANDLE_VALUE;
    }
    const std::wstring wide = WidePath(path);
    // The name is looked at first, and what was opened after it (a link put
    // there in between is opened itself, FILE_FLAG_OPEN_REPARSE_POINT, and refused).
    const DWORD named = ::GetFileAttributesW(wide.c_str());
    if (!followLink && named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        errno = ELOOP;
        return INVALID_HANDLE_VALUE;
    }
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = ::CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        SetErrnoFrom(::GetLastError());
        return h;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info) &&
                         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    if (!regular) {
        ::CloseHandle(h);
        if (status)
            *status = TFileRead::NotRegular;
        errno = EINVAL;
        return INVALID_HANDLE_VALUE;
    }
    if (status)
        *status = TFileRead::Ok;
    return h;
}

int DescriptorOf(HANDLE h, int flags)
{
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY | _O_NOINHERIT);
    if (fd < 0)
        ::CloseHandle(h);
    return fd;
}

}  // namespace

int OpenRegular(const std::string& path, TOpenAccess access, TOpenCreate create, unsigned /*mode*/)
{
    const DWORD rights = access == TOpenAccess::Read    ? GENERIC_READ
                         : access == TOpenAccess::Write ? GENERIC_WRITE
                                                        : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = create == TOpenCreate::Never       ? OPEN_EXISTING
                              : create == TOpenCreate::IfMissing ? OPEN_ALWAYS
                                                                 : CREATE_NEW;
    HANDLE h = OpenRegularHandle(path, rights, disposition, false, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    return DescriptorOf(h, access == TOpenAccess::Read ? _O_RDONLY : access == TOpenAccess::Write ? _O_WRONLY : _O_RDWR);
}

int OpenForReading(const std::string& path, TLinkAtName links, TFileRead& status, std::int64_t& size)
{
    size = 0;
    HANDLE h = OpenRegularHandle(path, GENERIC_READ, OPEN_EXISTING, links == TLinkAtName::Follow, &status);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    LARGE_INTEGER length{};
    if (::GetFileSizeEx(h, &length))
        size = length.QuadPart;
    const int fd = DescriptorOf(h, _O_RDONLY);
    if (fd < 0)
        status = TFileRead::CannotOpen;
    return fd;
}

bool CloseFile(int fd)
{
    return fd < 0 || ::_close(fd) == 0;
}

long long ReadSome(int fd, char* data, std::size_t size)
{
    DWORD got = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::ReadFile(HandleOf(fd), data, want, &got, nullptr)) {
        if (::GetLastError() == ERROR_BROKEN_PIPE || ::GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        SetErrnoFrom(::GetLastError());
        return -1;
    }
    return got;
}

long long ReadAt(int fd, char* data, std::size_t size, std::int64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xffffffff);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD got = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::ReadFile(HandleOf(fd), data, want, &got, &at)) {
        if (::GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        SetErrnoFrom(::GetLastError());
        return -1;
    }
    return got;
}

bool WriteAllAt(int fd, const char* data, std::size_t size, std::int64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const std::uint64_t where = static_cast<std::uint64_t>(offset) + done;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(where & 0xffffffff);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        const std::size_t left = size - done;
        const DWORD want = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD wrote = 0;
        if (!::WriteFile(HandleOf(fd), data + done, want, &wrote, &at)) {
            SetErrnoFrom(::GetLastError());
            return false;
        }
        if (wrote == 0) {
            errno = EIO;
            return false;
        }
        done += wrote;
    }
    return true;
}

bool SetFileLength(int fd, std::int64_t length)
{
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = length;
    if (!::SetFileInformationByHandle(HandleOf(fd), FileEndOfFileInfo, &info, sizeof info)) {
        SetErrnoFrom(::GetLastError());
        return false;
    }
    return true;
}

int ReserveFileSpace(int fd, std::int64_t length)
{
    // Setting the end of a file takes its space on NTFS.
    return SetFileLength(fd, length) ? 0 : errno;
}

std::optional<std::int64_t> OpenFileSize(int fd)
{
    HANDLE h = HandleOf(fd);
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER length{};
    if (h == INVALID_HANDLE_VALUE || ::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !::GetFileSizeEx(h, &length))
        return std::nullopt;
    return length.QuadPart;
}

bool SeekToEnd(int fd)
{
    return ::_lseeki64(fd, 0, SEEK_END) >= 0;
}

bool SyncFile(int fd)
{
    if (!::FlushFileBuffers(HandleOf(fd))) {
        SetErrnoFrom(::GetLastError());
        return false;
    }
    return true;
}

bool LockFile(int fd, TLockWait wait)
{
    OVERLAPPED whole{};
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait == TLockWait::DontWait ? LOCKFILE_FAIL_IMMEDIATELY : 0);
    if (!::LockFileEx(HandleOf(fd), flags, 0, MAXDWORD, MAXDWORD, &whole)) {
        errno = EWOULDBLOCK;
        return false;
    }
    return true;
}

bool IsDiskFullError(int error)
{
    return error == ENOSPC;  // ERROR_DISK_FULL and ERROR_HANDLE_DISK_FULL come as ENOSPC
}

bool MakeFolder(const std::string& path, unsigned /*mode*/)
{
    // A new folder under the user's own folders is the user's alone by the
    // inherited permissions.
    if (!::CreateDirectoryW(WidePath(path).c_str(), nullptr)) {
        SetErrnoFrom(::GetLastError());
        return false;
    }
    return true;
}

bool RemoveEmptyFolder(const std::string& path)
{
    return ::RemoveDirectoryW(WidePath(path).c_str()) != 0;
}

bool RemoveFolderTree(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(WidePath(path)), ec);
    return !ec;
}

std::optional<TFileId> OpenFileId(int fd)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(HandleOf(fd), &info))
        return std::nullopt;
    return TFileId{info.dwVolumeSerialNumber,
                   (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool MoveFolderOntoEmpty(const std::string& from, const std::string& to)
{
    const std::wstring target = WidePath(to);
    ::RemoveDirectoryW(target.c_str());  // only an empty folder goes
    return ::MoveFileExW(WidePath(from).c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveName(const std::string& path)
{
    const std::wstring wide = WidePath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errno = ENOENT;
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        errno = EISDIR;
        return false;
    }
    // A link to a folder is removed as a folder name; the folder stays.
    const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(wide.c_str())
                                                                 : ::DeleteFileW(wide.c_str());
    if (!removed)
        SetErrnoFrom(::GetLastError());
    return removed != 0;
}

std::vector<std::string> FolderNames(const std::string& dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE h = ::FindFirstFileW((WidePath(dir) + L"\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(Utf8Text(name));
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
    return names;
}

bool MayWrite(const std::string& path)
{
    const std::wstring wide = WidePath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        // A folder may be written when a new file can be made in it.
        const std::wstring probe = wide + L"\\.bt_probe_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                                   std::to_wstring(::GetTickCount64());
        HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        ::CloseHandle(h);
        return true;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return false;
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(h);
    return true;
}

std::optional<std::string> LinkTarget(const std::string& path)
{
    const std::wstring wide = WidePath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return std::nullopt;
    HANDLE h = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::wstring target(32768, L'\0');
    const DWORD n = ::GetFinalPathNameByHandleW(h, target.data(), static_cast<DWORD>(target.size()), 0);
    ::CloseHandle(h);
    if (n == 0 || n >= target.size())
        return std::nullopt;
    target.resize(n);
    return PathFromWide(target);
}

void KeepOwnerAndMode(const std::string& /*path*/, int /*fd*/)
{
}

bool IsAbsolutePath(const std::string& path)
{
    const auto separator = [](char c) { return c == '/' || c == '\\'; };
    return (path.size() >= 3 && path[1] == ':' && separator(path[2])) ||
           (path.size() >= 2 && separator(path[0]) && separator(path[1]));
}

std::string LocalPathOfUriPath(const std::string& uriPath)
{
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (uriPath.size() >= 3 && uriPath[0] == '/' && letter(uriPath[1]) && uriPath[2] == ':')
        return uriPath.substr(1);
    return uriPath;
}

void SyncFolder(const std::string& /*dir*/)
{
    // NTFS writes its names through its own journal; there is nothing to flush.
}

int OwnProcessId()
{
    return static_cast<int>(::GetCurrentProcessId());
}
