// SPDX-License-Identifier: GPL-3.0-or-later
// Local connections on POSIX systems: a Unix socket in XDG_RUNTIME_DIR, or in
// a folder of this user's only in the temporary folder; peers by SO_PEERCRED.
#include "system/LocalPeers.h"

#include "system/PrivateFolders.h"
#include "system/ZQ_FileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Who is at the other end of a local connection, as the kernel says.
bool PeerCredentials(std::intptr_t descriptor, struct ucred& peer)
{
    socklen_t size = sizeof peer;
    return descriptor >= 0 &&
           ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
}

// A folder of this user's only (mode 0700), made when missing; false when the
// name holds anything else (a link, a file, someone else's folder).
bool PrivateFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return (st.st_mode & 0777) == 0700 || ::chmod(path.c_str(), 0700) == 0;
}
} // namespace

std::string InstanceEndpoint()
{
    const std::string user = std::to_string(::geteuid());
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && DirectoryExists(runtime))
        return std::string(runtime) + "/brimtale-" + user + ".socket";
    // The temporary folder is everyone's: the socket goes into a folder there
    // that only this user may enter. One that someone else made (or a link)
    // means no hand-off at all rather than one through another's hands.
    const char* tmp = std::getenv("TMPDIR");
    const std::string own = std::string(tmp && *tmp ? tmp : "/tmp") + "/brimtale-" + user;
    return PrivateFolder(own) ? own + "/brimtale.socket" : std::string();
}

bool InstanceEndpointExists(const std::string& endpoint)
{
    return PathExists(endpoint);
}

bool InstanceEndpointNeedsUserAccess()
{
    return false;
}

bool LocalPeerIsSameUser(std::intptr_t descriptor)
{
    struct ucred peer {};
    return PeerCredentials(descriptor, peer) && peer.uid == ::geteuid();
}

std::int64_t LocalPeerProcess(std::intptr_t descriptor)
{
    struct ucred peer {};
    return PeerCredentials(descriptor, peer) ? peer.pid : 0;
}
