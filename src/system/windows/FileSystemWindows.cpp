// SPDX-License-Identifier: GPL-3.0-or-later
// File and path helpers: the calls into Windows (the ...W functions on the
// long form of each path). A reparse point (a symbolic link, a junction) stands
// where POSIX systems have a symbolic link, and is refused where they refuse one.
#include "system/ZQ_FileSystem.h"

#include "system/FileDescriptors.h"
#include "system/ZQ_System.h"
#include "system/windows/WinText.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>

namespace {

// What a name leads to, links followed (a link to nothing: nothing).
bool FollowedInfo(const std::string& path, BY_HANDLE_FILE_INFORMATION& info)
{
    if (path.empty())
        return false;
    HANDLE h = ::CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    return ok;
}

// What is at the name itself (a link there is not followed).
bool OwnInfo(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data)
{
    return !path.empty() && ::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data) != 0;
}

bool IsRegularAttributes(DWORD attributes)
{
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::int64_t Join(DWORD high, DWORD low)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

HANDLE HandleOf(int fd)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

bool HasProgramExtension(const std::string& path)
{
    std::string ext = ExtractFileExt(path);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    // Only programs the system starts itself: a batch file would run through
    // the command interpreter, which reads its arguments as commands.
    return ext == ".exe" || ext == ".com";
}

}  // namespace

bool FileExists(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return FollowedInfo(path, info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return FollowedInfo(path, info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return OwnInfo(path, data);
}

void RemoveFile(const std::string& path)
{
    if (path.empty() || DirectoryExists(path))
        return;
    const std::wstring wide = WidePath(path);
    if (::DeleteFileW(wide.c_str()))
        return;
    // "Delete with attribute reset": a read-only file goes on the second try.
    ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(wide.c_str());
}

std::int64_t FileSizeOf(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!FollowedInfo(path, info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return 0;
    return Join(info.nFileSizeHigh, info.nFileSizeLow);
}

int OpenOwnFileForWriting(const std::string& path, bool truncate)
{
    const int fd = OpenRegular(path, TOpenAccess::Write, TOpenCreate::IfMissing, 0666);
    if (fd >= 0 && truncate && !SetFileLength(fd, 0)) {
        CloseFile(fd);
        return -1;
    }
    return fd;
}

bool ForceDirectories(const std::string& path)
{
    if (path.empty())
        return false;
    if (DirectoryExists(path))
        return true;
    const std::string parent = ExtractFileDir(path);
    if (!parent.empty() && parent != path && parent.back() != ':' && !DirectoryExists(parent))
        ForceDirectories(parent);
    ::CreateDirectoryW(WidePath(path).c_str(), nullptr);
    return DirectoryExists(path);
}

bool CanWriteInDirectory(const std::string& path)
{
    if (path.empty())
        return false;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string probe = JoinPath(path, ".bt_probe_" + std::to_string(::GetCurrentProcessId()) + "_" +
                                                     std::to_string(::GetTickCount64()) + std::to_string(attempt));
        HANDLE h = ::CreateFileW(WidePath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
            return true;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

bool RenameFileNoReplace(const std::string& from, const std::string& to)
{
    if (from.empty() || to.empty() || PathExists(to))
        return false;
    // Without MOVEFILE_REPLACE_EXISTING an existing target makes the move fail.
    return ::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

std::string ExpandFileName(const std::string& path)
{
    if (path.empty())
        return {};
    return PathFromWide(WidePath(path));
}

unsigned OrdinaryFileMode()
{
    return 0666u;  // Windows files take their permissions from their folder
}

bool SetOrdinaryFileMode(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!OwnInfo(path, data) || !IsRegularAttributes(data.dwFileAttributes))
        return false;
    return ::SetFileAttributesW(WidePath(path).c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

bool WriteAll(int fd, const char* data, std::size_t size)
{
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    while (size > 0) {
        const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD wrote = 0;
        if (!::WriteFile(h, data, want, &wrote, nullptr) || wrote == 0) {
            errno = ::GetLastError() == ERROR_DISK_FULL ? ENOSPC : EIO;
            return false;
        }
        data += wrote;
        size -= wrote;
    }
    return true;
}

std::optional<TFileId> FileIdOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!OwnInfo(path, data) || !IsRegularAttributes(data.dwFileAttributes))
        return std::nullopt;
    HANDLE h = ::CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(h, &info) && IsRegularAttributes(info.dwFileAttributes);
    ::CloseHandle(h);
    if (!ok)
        return std::nullopt;
    return TFileId{info.dwVolumeSerialNumber, static_cast<std::uint64_t>(Join(info.nFileIndexHigh, info.nFileIndexLow))};
}

int OpenSameFileForWriting(const std::string& path, const TFileId& id, bool& changed)
{
    changed = false;
    if (path.empty())
        return -1;
    const int fd = OpenRegular(path, TOpenAccess::Write, TOpenCreate::Never);
    if (fd < 0) {
        // Gone, or a link or a folder in its place: not the job's file.
        changed = errno == ENOENT || errno == EINVAL || errno == ELOOP;
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(HandleOf(fd), &info)) {
        CloseFile(fd);
        return -1;
    }
    if (info.dwVolumeSerialNumber != id.Device ||
        static_cast<std::uint64_t>(Join(info.nFileIndexHigh, info.nFileIndexLow)) != id.Inode) {
        CloseFile(fd);
        changed = true;
        return -1;
    }
    return fd;
}

bool IsExecutableFile(const std::string& path)
{
    return FileExists(path) && HasProgramExtension(path);
}

std::string FindExecutable(const std::string& name)
{
    if (name.empty())
        return {};
    // A bare name without an extension is looked for with ".exe" and ".com"
    // (the program kinds of PATHEXT the program runs).
    std::vector<std::string> names{name};
    if (ExtractFileExt(name).empty())
        names = {name + ".exe", name + ".com"};
    if (name.find_first_of("/\\:") != std::string::npos) {
        for (const std::string& candidate : names)
            if (IsExecutableFile(candidate))
                return candidate;
        return {};
    }
    std::vector<std::string> dirs;
    const std::string own = ExtractFileDir(ExecutablePath());
    if (!own.empty())
        dirs.push_back(own);
    const wchar_t* pathEnv = ::_wgetenv(L"PATH");
    const std::string path = pathEnv ? Utf8Text(pathEnv) : std::string();
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = path.find(';', start);
        if (end == std::string::npos)
            end = path.size();
        std::string dir = path.substr(start, end - start);
        if (dir.size() >= 2 && dir.front() == '"' && dir.back() == '"')
            dir = dir.substr(1, dir.size() - 2);
        if (!dir.empty())
            dirs.push_back(dir);
        start = end + 1;
    }
    for (const std::string& dir : dirs)
        for (const std::string& candidate : names)
            if (IsExecutableFile(JoinPath(dir, candidate)))
                return JoinPath(dir, candidate);
    return {};
}

TPathInfo PathInfoOf(const std::string& path)
{
    TPathInfo info;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!OwnInfo(path, data))
        return info;
    info.Exists = true;
    info.Regular = IsRegularAttributes(data.dwFileAttributes);
    info.Folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                  (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    info.Size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    return info;
}

std::optional<std::int64_t> ModifiedTimeNs(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!FollowedInfo(path, info))
        return std::nullopt;
    // 100 ns units since 1601 to ns since 1970.
    const std::int64_t ticks = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    return (ticks - 116444736000000000LL) * 100;
}

std::optional<TFileStamp> FileStampOf(const std::string& path)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!FollowedInfo(path, info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::nullopt;
    const std::int64_t ticks = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    return TFileStamp{{info.dwVolumeSerialNumber, static_cast<std::uint64_t>(Join(info.nFileIndexHigh, info.nFileIndexLow))},
                      Join(info.nFileSizeHigh, info.nFileSizeLow), (ticks - 116444736000000000LL) * 100};
}

bool ReplaceFile(const std::string& from, const std::string& to)
{
    return !from.empty() && !to.empty() &&
           ::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool IsOwnExecutable(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return OwnInfo(path, data) && IsRegularAttributes(data.dwFileAttributes) && HasProgramExtension(path);
}

bool IsOwnFolder(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return OwnInfo(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}
