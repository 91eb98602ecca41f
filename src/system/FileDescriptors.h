// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The calls on open files and on single names that the program makes, one
// function each, with the POSIX implementation in posix/FileDescriptorsPosix.cpp
// and the Windows one in windows/FileDescriptorsWindows.cpp. A descriptor is
// the C runtime's int on both (on Windows it holds the file's handle).
// Failures leave errno set.
#include "system/FileTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class TOpenAccess { Read, Write, ReadWrite };
enum class TOpenCreate {
    Never,      // the file must be there
    IfMissing,  // made when missing, else opened
    NewOnly,    // made; fails when anything has the name
};

// Opens the regular file at path. A link (or, on Windows, any reparse point) at
// the name itself is never followed, and anything but a regular file (a FIFO,
// a device, a folder) is refused without waiting on it. mode is the POSIX
// mode of a new file (without the umask's bits). -1 when it can't.
int OpenRegular(const std::string& path, TOpenAccess access, TOpenCreate create, unsigned mode = 0600);

// Opens a regular file for reading (links at the name followed or refused);
// -1 with the reason in status otherwise, else its claimed size in size.
int OpenForReading(const std::string& path, TLinkAtName links, TFileRead& status, std::int64_t& size);

// Closes the descriptor (-1 is nothing to close); false when the system reports
// a failure (a write that could not be finished).
bool CloseFile(int fd);

// What one read gave: bytes (0 at the end), or -1 when it failed.
long long ReadSome(int fd, char* data, std::size_t size);
// Positioned reads and writes (the file's own position is not relied on).
long long ReadAt(int fd, char* data, std::size_t size, std::int64_t offset);
bool WriteAllAt(int fd, const char* data, std::size_t size, std::int64_t offset);
// Sets the length of the open file; false when it can't (errno says why).
bool SetFileLength(int fd, std::int64_t length);
// Gives the open file its full length with its space taken on the disk where
// the system can (so a full disk shows now, not in the middle); 0 or errno.
int ReserveFileSpace(int fd, std::int64_t length);
// The size of the open file when it is a regular one.
std::optional<std::int64_t> OpenFileSize(int fd);
// Moves the file's position to its end (for appending writes).
bool SeekToEnd(int fd);
// Writes the file's data through to the disk.
bool SyncFile(int fd);

// An exclusive lock on the whole file that lasts until the descriptor is closed
// (or the process ends, however it ends). DontWait: false at once when another
// holds it.
enum class TLockWait { Wait, DontWait };
bool LockFile(int fd, TLockWait wait);

// Whether an error number says the disk (or the user's quota) is full.
bool IsDiskFullError(int error);

// Makes one folder (its parent must exist), private to this user when mode says so
// (0700); false when it can't or when the name is taken (errno EEXIST).
bool MakeFolder(const std::string& path, unsigned mode);
// Removes a folder only when it is empty.
bool RemoveEmptyFolder(const std::string& path);
// Removes a folder with everything in it (links inside are removed, never
// followed); false when something stayed.
bool RemoveFolderTree(const std::string& path);
// The identity of the open file.
std::optional<TFileId> OpenFileId(int fd);
// Renames a folder to a name that is free or held by an empty folder (which it
// replaces); false when it can't.
bool MoveFolderOntoEmpty(const std::string& from, const std::string& to);
// Removes the name of a file (never a folder); false when it can't.
bool RemoveName(const std::string& path);
// The names in a folder (without "." and ".."); empty when it can't be read.
std::vector<std::string> FolderNames(const std::string& dir);
// Whether this process may write the file or folder at path.
bool MayWrite(const std::string& path);
// The target of a symbolic link at path; nothing when there is no link there.
std::optional<std::string> LinkTarget(const std::string& path);
// Gives the open file (a new one that will replace path) the owner and mode of
// the file at path, as far as the system allows (on Windows a file takes its
// permissions from its folder: nothing to do).
void KeepOwnerAndMode(const std::string& path, int fd);
// Whether a path is absolute ("/..." on POSIX; "C:\...", "\\server\..." on Windows).
bool IsAbsolutePath(const std::string& path);
// The local path that the (decoded) path of a file URI names: itself on POSIX;
// "/C:/a" is "C:/a" on Windows.
std::string LocalPathOfUriPath(const std::string& uriPath);
// Writes what the folder holds (new names, renames) through to the disk, where
// the system allows that.
void SyncFolder(const std::string& dir);
// This process's id.
int OwnProcessId();
