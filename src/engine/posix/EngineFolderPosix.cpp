// SPDX-License-Identifier: GPL-3.0-or-later
// The engine folder on POSIX systems: held as a descriptor, every name of it
// reached through that descriptor (openat, renameat, linkat), locked with
// flock; SHA-256 from OpenSSL's libcrypto.
#include "engine/EngineFolder.h"

#include "app/ProgramValues.h"
#include "engine/EngineChoice.h"
#include "engine/EngineUpdate.h"
#include "system/ZQ_FileSystem.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>

namespace {
// The machine's name in release file names: "x86_64" or "aarch64"; empty for another.
std::string Machine()
{
    struct utsname u {};
    if (::uname(&u) != 0)
        return {};
    const std::string m = u.machine;
    if (m == "x86_64" || m == "amd64")
        return "x86_64";
    if (m == "aarch64" || m == "arm64")
        return "aarch64";
    return {};
}
} // namespace

struct TEngineFolder::TState {
    int Dir = -1;
    int Lock = -1;
};

TEngineFolder::TEngineFolder() : state_(std::make_unique<TState>()) {}

TEngineFolder::~TEngineFolder()
{
    Close();
}

void TEngineFolder::Close()
{
    if (state_->Lock >= 0)
        ::close(state_->Lock);
    if (state_->Dir >= 0)
        ::close(state_->Dir);
    state_->Lock = state_->Dir = -1;
}

// The user's own folder, 0700.
bool TEngineFolder::Open(std::string& error)
{
    Close();
    const std::string dir = OwnEngineDir();
    if (dir.empty()) {
        error = "no settings folder";
        return false;
    }
    ForceDirectories(DataDir);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + dir;
        return false;
    }
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        if (fd >= 0)
            ::close(fd);
        error = dir + " is not a folder of this user's own";
        return false;
    }
    ::fchmod(fd, 0700);
    state_->Dir = fd;
    return true;
}

TEngineFolder::TLock TEngineFolder::TryLock()
{
    if (state_->Lock < 0) {
        // The lock file is a regular file of the folder, never a link.
        state_->Lock = ::openat(state_->Dir, ".lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        struct stat st {};
        if (state_->Lock < 0 || ::fstat(state_->Lock, &st) != 0 || !S_ISREG(st.st_mode))
            return TLock::Failed;
    }
    return ::flock(state_->Lock, LOCK_EX | LOCK_NB) == 0 ? TLock::Held : TLock::Busy;
}

bool TEngineFolder::StillThere() const
{
    struct stat opened {}, named {};
    const std::string dir = OwnEngineDir();
    return !dir.empty() && ::fstat(state_->Dir, &opened) == 0 && ::lstat(dir.c_str(), &named) == 0 &&
           S_ISDIR(named.st_mode) && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// Through this process's descriptor, so that it is that folder's file whatever
// engine/ has become in the meantime (by name only when /proc is missing).
std::string TEngineFolder::PathOf(const std::string& name) const
{
    const std::string viaFd = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(state_->Dir);
    return (DirectoryExists(viaFd) ? viaFd : OwnEngineDir()) + "/" + name;
}

int TEngineFolder::CreateTemp(const std::string& prefix, const std::string& suffix, std::string& name)
{
    for (int i = 0; i < 10; ++i) {
        name = prefix + UniqueSuffix() + suffix;
        const int fd =
            ::openat(state_->Dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

int TEngineFolder::OpenToRead(const std::string& name) const
{
    return ::openat(state_->Dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

bool TEngineFolder::Remove(const std::string& name)
{
    return ::unlinkat(state_->Dir, name.c_str(), 0) == 0;
}

bool TEngineFolder::Rename(const std::string& from, const std::string& to)
{
    return ::renameat(state_->Dir, from.c_str(), state_->Dir, to.c_str()) == 0;
}

// A second link to the file, renamed over the target.
bool TEngineFolder::KeepCopy(const std::string& from, const std::string& to)
{
    const std::string link = "." + to + ".new-" + UniqueSuffix();
    if (::linkat(state_->Dir, from.c_str(), state_->Dir, link.c_str(), 0) == 0 && Rename(link, to))
        return true;
    Remove(link);
    return false;
}

bool TEngineFolder::MakeExecutable(const std::string& name)
{
    return ::fchmodat(state_->Dir, name.c_str(), 0755, 0) == 0;
}

bool TEngineFolder::IsRegular(const std::string& name) const
{
    struct stat st {};
    return ::fstatat(state_->Dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

bool TEngineFolder::Exists(const std::string& name) const
{
    struct stat st {};
    return ::fstatat(state_->Dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

void TEngineFolder::Sync()
{
    ::fsync(state_->Dir);
}

struct TSha256::TState {
    EVP_MD_CTX* Ctx = nullptr;
};

TSha256::TSha256() : state_(std::make_unique<TState>())
{
    state_->Ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(state_->Ctx, EVP_sha256(), nullptr);
}

TSha256::~TSha256()
{
    EVP_MD_CTX_free(state_->Ctx);
}

void TSha256::Add(const char* data, std::size_t size)
{
    EVP_DigestUpdate(state_->Ctx, data, size);
}

std::string TSha256::Hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(state_->Ctx, digest, &size);
    static const char* const hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string UniqueSuffix()
{
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    return std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + std::to_string(device() % 1000000);
}

std::string RuntimeZipName()
{
    const std::string machine = Machine();
    return machine.empty() ? std::string() : "deno-" + machine + "-unknown-linux-gnu.zip";
}

std::string EngineFileName()
{
    const std::string python = FindExecutable("python3");
    const std::string printed = python.empty() ? std::string() : ProgramVersionOf(python);  // "Python 3.11.2"
    int major = 0, minor = 0;
    if (std::sscanf(printed.c_str(), "Python %d.%d", &major, &minor) == 2 && (major > 3 || (major == 3 && minor >= 10)))
        return "yt-dlp";
    return Machine() == "aarch64" ? "yt-dlp_linux_aarch64" : "yt-dlp_linux";
}
