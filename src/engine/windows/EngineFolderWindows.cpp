// SPDX-License-Identifier: GPL-3.0-or-later
// The engine folder on Windows: held by a handle that shares no right to
// delete, so that engine/ can't be moved away or replaced while an update
// has it open; locked with LockFileEx on engine/.lock; SHA-256 from BCrypt.
#include "engine/EngineFolder.h"

#include "app/ProgramValues.h"
#include "engine/EngineChoice.h"
#include "engine/EngineUpdate.h"
#include "system/FileDescriptors.h"
#include "system/ZQ_FileSystem.h"
#include "system/windows/WinText.h"

#include <bcrypt.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <vector>

struct TEngineFolder::TState {
    THandle Dir;
    int Lock = -1;
    std::string Path;
};

TEngineFolder::TEngineFolder() : state_(std::make_unique<TState>()) {}

TEngineFolder::~TEngineFolder()
{
    Close();
}

void TEngineFolder::Close()
{
    CloseFile(state_->Lock);
    state_->Lock = -1;
    state_->Dir.Reset(nullptr);
    state_->Path.clear();
}

bool TEngineFolder::Open(std::string& error)
{
    Close();
    const std::string dir = OwnEngineDir();
    if (dir.empty()) {
        error = "no settings folder";
        return false;
    }
    ForceDirectories(DataDir);
    if (!MakeFolder(dir, 0700) && errno != EEXIST) {
        error = "cannot create " + dir;
        return false;
    }
    // A junction or a link in its place is not followed.
    if (!IsOwnFolder(dir)) {
        error = dir + " is not a folder of this user's own";
        return false;
    }
    state_->Dir.Reset(::CreateFileW(WidePath(dir).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    if (!state_->Dir.Valid()) {
        error = "cannot open " + dir + ": " + WindowsErrorText(::GetLastError());
        return false;
    }
    state_->Path = dir;
    return true;
}

TEngineFolder::TLock TEngineFolder::TryLock()
{
    if (state_->Lock < 0) {
        state_->Lock = OpenRegular(PathOf(".lock"), TOpenAccess::ReadWrite, TOpenCreate::IfMissing);
        if (state_->Lock < 0)
            return TLock::Failed;
    }
    return LockFile(state_->Lock, TLockWait::DontWait) ? TLock::Held : TLock::Busy;
}

// The handle held keeps the folder where it is; it is still the user's folder.
bool TEngineFolder::StillThere() const
{
    return state_->Dir.Valid() && state_->Path == OwnEngineDir() && IsOwnFolder(state_->Path);
}

std::string TEngineFolder::PathOf(const std::string& name) const
{
    return state_->Path + "/" + name;
}

int TEngineFolder::CreateTemp(const std::string& prefix, const std::string& suffix, std::string& name)
{
    for (int i = 0; i < 10; ++i) {
        name = prefix + UniqueSuffix() + suffix;
        const int fd = OpenRegular(PathOf(name), TOpenAccess::Write, TOpenCreate::NewOnly);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

int TEngineFolder::OpenToRead(const std::string& name) const
{
    return OpenRegular(PathOf(name), TOpenAccess::Read, TOpenCreate::Never);
}

bool TEngineFolder::Remove(const std::string& name)
{
    return RemoveName(PathOf(name));
}

bool TEngineFolder::Rename(const std::string& from, const std::string& to)
{
    return ReplaceFile(PathOf(from), PathOf(to));
}

// A copy under a new name, renamed over the target.
bool TEngineFolder::KeepCopy(const std::string& from, const std::string& to)
{
    const std::string copy = "." + to + ".new-" + UniqueSuffix();
    if (::CopyFileW(WidePath(PathOf(from)).c_str(), WidePath(PathOf(copy)).c_str(), TRUE) && Rename(copy, to))
        return true;
    Remove(copy);
    return false;
}

// A program file runs by its name's ".exe": nothing to change.
bool TEngineFolder::MakeExecutable(const std::string& name)
{
    return IsRegular(name);
}

bool TEngineFolder::IsRegular(const std::string& name) const
{
    return PathInfoOf(PathOf(name)).Regular;
}

bool TEngineFolder::Exists(const std::string& name) const
{
    return PathInfoOf(PathOf(name)).Exists;
}

void TEngineFolder::Sync()
{
    SyncFolder(state_->Path);
}

struct TSha256::TState {
    BCRYPT_ALG_HANDLE Algorithm = nullptr;
    BCRYPT_HASH_HANDLE Hash = nullptr;
    std::vector<unsigned char> Object;
    bool Ok = false;
};

TSha256::TSha256() : state_(std::make_unique<TState>())
{
    TState& s = *state_;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&s.Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        s.Algorithm = nullptr;
        return;
    }
    DWORD objectSize = 0, got = 0;
    if (!BCRYPT_SUCCESS(::BCryptGetProperty(s.Algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                                            sizeof objectSize, &got, 0)))
        return;
    s.Object.resize(objectSize);
    s.Ok = BCRYPT_SUCCESS(
        ::BCryptCreateHash(s.Algorithm, &s.Hash, s.Object.data(), objectSize, nullptr, 0, 0));
}

TSha256::~TSha256()
{
    if (state_->Hash)
        ::BCryptDestroyHash(state_->Hash);
    if (state_->Algorithm)
        ::BCryptCloseAlgorithmProvider(state_->Algorithm, 0);
}

void TSha256::Add(const char* data, std::size_t size)
{
    // BCryptHashData takes at most 4 GiB at once.
    while (state_->Ok && size > 0) {
        const ULONG part = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        state_->Ok = BCRYPT_SUCCESS(::BCryptHashData(
            state_->Hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data)), part, 0));
        data += part;
        size -= part;
    }
}

// Empty when the hash could not be made: it matches no listed hash.
std::string TSha256::Hex()
{
    unsigned char digest[32];
    if (!state_->Ok || !BCRYPT_SUCCESS(::BCryptFinishHash(state_->Hash, digest, sizeof digest, 0)))
        return {};
    state_->Ok = false;
    static const char* const hex = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : digest) {
        out += hex[byte >> 4];
        out += hex[byte & 15];
    }
    return out;
}

std::string UniqueSuffix()
{
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    return std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++) + "-" +
           std::to_string(device() % 1000000);
}

// deno is built for 64-bit x86 Windows only.
std::string RuntimeZipName()
{
    return "deno-x86_64-pc-windows-msvc.zip";
}

std::string EngineFileName()
{
    return "yt-dlp.exe";
}
