// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the page engine's update asks of the system: its folder engine/ held
// open and locked while files are put into it, the names in that folder, the
// SHA-256 of what is fetched, and the release files that fit this machine.
// The POSIX side is in posix/EngineFolderPosix.cpp (a folder descriptor, the
// *at calls, flock), the Windows side in windows/EngineFolderWindows.cpp (a
// folder handle that can't be moved while open, LockFileEx, BCrypt).

#include <cstddef>
#include <memory>
#include <string>

// The folder engine/ of the program's data, open. Names are single file names
// of the folder.
class TEngineFolder {
public:
    TEngineFolder();
    ~TEngineFolder();
    TEngineFolder(const TEngineFolder&) = delete;
    TEngineFolder& operator=(const TEngineFolder&) = delete;

    // Opens engine/ (made when missing), without following a link; it must be
    // the user's own. False with error set when it can't.
    bool Open(std::string& error);
    // Lets go of the folder and its lock.
    void Close();
    enum class TLock { Held, Busy, Failed };
    // Takes the folder's lock without waiting: one update at a time, across
    // threads and processes. Busy when another holds it.
    TLock TryLock();
    // Whether engine/ is still the folder open here: not moved away, nor
    // replaced by another folder or a link.
    bool StillThere() const;
    // A name of the folder as another program opens it.
    std::string PathOf(const std::string& name) const;

    // A new file of the folder, ours alone, named prefix + something unique +
    // suffix; its descriptor (-1 when it can't), its name into name.
    int CreateTemp(const std::string& prefix, const std::string& suffix, std::string& name);
    // Opens a regular file of the folder for reading (a link is not followed); -1 when it can't.
    int OpenToRead(const std::string& name) const;
    // Removes the name (never a folder); false when it can't.
    bool Remove(const std::string& name);
    // Renames from over to, replacing what is there at once.
    bool Rename(const std::string& from, const std::string& to);
    // Keeps the file from under the name to as well (from stays); what was at
    // to is replaced at once.
    bool KeepCopy(const std::string& from, const std::string& to);
    // Lets the file be run.
    bool MakeExecutable(const std::string& name);
    // A regular file under the name (a link is not followed).
    bool IsRegular(const std::string& name) const;
    // Anything at all under the name.
    bool Exists(const std::string& name) const;
    // Writes the folder's new names through to the disk, where the system allows.
    void Sync();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

// SHA-256, in lower-case hex.
class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;
    void Add(const char* data, std::size_t size);
    std::string Hex();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

// Something for names that no other thread or process makes at the same time.
std::string UniqueSuffix();
// The zip of deno's release for this machine ("deno-x86_64-unknown-linux-gnu.zip");
// empty when there is none.
std::string RuntimeZipName();
