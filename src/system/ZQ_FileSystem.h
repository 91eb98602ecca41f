// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// File and path helpers. Paths use "/" as separator.

#include <cstdint>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "system/FileTypes.h"

bool FileExists(const std::string& path);      // a regular file (links followed); nothing is opened
bool DirectoryExists(const std::string& path);
bool PathExists(const std::string& path);      // anything at all

// Deletes a file (never a directory); when that fails, makes it writable and
// tries once more. Nothing is reported.
void RemoveFile(const std::string& path);

// 64-bit size of a regular file; 0 when it is missing or anything else.
std::int64_t FileSizeOf(const std::string& path);


struct TWholeFile {
    TFileRead Status = TFileRead::CannotOpen;
    std::string Text;  // the content; empty unless Status is Ok
    bool Ok() const { return Status == TFileRead::Ok; }
};


// Reads a file whole, at most maxBytes of it: only a regular file is read (a
// FIFO can't hold the caller up, a device is never read), and never more than
// maxBytes + 1 bytes, however large the file says it is (/proc files say 0)
// or grows while it is read; more than maxBytes is TooBig. Every file the
// program reads whole goes through here.
TWholeFile ReadWholeFile(const std::string& path, std::size_t maxBytes, TLinkAtName links = TLinkAtName::Follow);
// The lines of a file of lines, at most maxBytes of them: as ReadWholeFile,
// but a larger file gives its first lines (up to the last whole one within
// the limit) and the count of lines past them in linesBeyond.
TWholeFile ReadFileLines(const std::string& path, std::size_t maxBytes, std::uint64_t& linesBeyond);
// Why a read failed, in a few English words ("not a regular file").
std::string FileReadText(TFileRead status);

// Opens a regular file for writing, creating it (and cutting it to length 0 when
// truncate is set); -1 when it can't, or when the name is a symbolic link, a
// FIFO, a device or a directory: a link there is never followed.
int OpenOwnFileForWriting(const std::string& path, bool truncate);
// Creates the file or cuts an existing one to length 0; false when it can't
// (a link at the name is not followed).
bool CreateEmptyFile(const std::string& path);

// Creates a directory with all missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& path);
// True when a new file can be made in the directory (tried with a hidden file
// that goes at once, so the answer holds for root and read-only mounts too).
bool CanWriteInDirectory(const std::string& path);

// Renames a file over the target, replacing it at once; false on failure.
bool ReplaceFile(const std::string& from, const std::string& to);
// Renames a file; false on failure (the target is never replaced).
bool RenameFileNoReplace(const std::string& from, const std::string& to);

std::string ExtractFileName(const std::string& path);  // after the last "/"
// Drops one trailing "/", then a trailing "/."; the root "/" stays "/".
std::string CleanDirPath(const std::string& path);
std::string ExtractFileDir(const std::string& path);   // before the last "/" ("/" for the root)
std::string ExtractFileExt(const std::string& path);   // from the last "." of the name, with the dot
// Replaces the name's extension (from its last "." on) or appends ext when it has none.
std::string ChangeFileExt(const std::string& path, const std::string& ext);
// The absolute form of a path (against the current directory), without resolving links.
std::string ExpandFileName(const std::string& path);

// The mode a new file of the user's gets: 0666 without the bits of the
// process's umask (no execute, setuid or setgid bit).
unsigned OrdinaryFileMode();
// Gives a regular file (never a link) that mode; false when it can't.
bool SetOrdinaryFileMode(const std::string& path);

// Writes all of data to the descriptor (short writes and interruptions go on);
// false when the system refused (errno says why).
bool WriteAll(int fd, const char* data, std::size_t size);

// The identity of the regular file at path (a link is not followed); nothing
// for anything else or nothing at all.
std::optional<TFileId> FileIdOf(const std::string& path);
// "DEVICE:INODE" in decimal, and back (nothing for any other text).
std::string FileIdText(const TFileId& id);
std::optional<TFileId> FileIdFromText(std::string_view text);
// Opens the regular file at path for writing when it is still the file id:
// never creates one and never follows a link. -1 when it can't; then
// changed says whether that is because another file (or none) is there.
int OpenSameFileForWriting(const std::string& path, const TFileId& id, bool& changed);

// A regular file this process may execute.
bool IsExecutableFile(const std::string& path);
// dir + "/" + name, with one "/" between them; name alone when dir is empty.
std::string JoinPath(const std::string& dir, const std::string& name);

// Finds an executable by name: a name with a "/" is taken as it is, a bare
// name is looked up on PATH. Empty when there is no such executable file.
std::string FindExecutable(const std::string& name);

// What is at a name itself (a link there is not followed).
struct TPathInfo {
    bool Exists = false;
    bool Regular = false;
    bool Folder = false;
    std::int64_t Size = 0;
};
TPathInfo PathInfoOf(const std::string& path);
// An empty regular file at the name itself: a name reserved and not yet written.
bool IsEmptyRegularFile(const std::string& path);
// Removes the name only when it is such an empty file (never a link, never data).
void RemoveIfEmptyFile(const std::string& path);
// The last change of the file a path leads to (links followed), in nanoseconds
// since the epoch; nothing when there is no such file.
std::optional<std::int64_t> ModifiedTimeNs(const std::string& path);
// What the regular file a path leads to (links followed) is, and how it was
// when asked: its identity, size and last change; nothing for anything else.
struct TFileStamp {
    TFileId Id;
    std::int64_t Size = 0;
    std::int64_t ModifiedNs = 0;
};
std::optional<TFileStamp> FileStampOf(const std::string& path);

// A regular executable file of this user's own that others can't change, not
// reached through a link.
bool IsOwnExecutable(const std::string& path);
// A folder of this user's own, not reached through a link.
bool IsOwnFolder(const std::string& path);
