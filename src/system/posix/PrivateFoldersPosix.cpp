// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a folder is private, on POSIX systems: its owner and mode.
#include "system/PrivateFolders.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

bool IsPrivateFolder(const std::string& dir)
{
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 0777) == 0700;
}

namespace {
bool MakePrivateFolder(const std::string& dir)
{
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return IsPrivateFolder(dir);
}
} // namespace

std::string UserRuntimeFolder(const std::string& name)
{
    const std::string user = std::to_string(::geteuid());
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime && *runtime && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()) {
        const std::string dir = std::string(runtime) + "/brimtale-" + user + "-" + name;
        if (MakePrivateFolder(dir))
            return dir;
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/brimtale-" + user + "-" + name;
    return MakePrivateFolder(dir) ? dir : std::string();
}

std::string TemporaryFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && tmp[0] == '/' ? tmp : "/tmp";
}

std::string MakeUniquePrivateFolder(const std::string& parent, const std::string& prefix)
{
    std::string pattern = parent + "/" + prefix + "XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}
