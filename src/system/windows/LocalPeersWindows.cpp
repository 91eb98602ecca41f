// SPDX-License-Identifier: GPL-3.0-or-later
// Local connections on Windows: a named pipe (what Qt's QLocalServer makes of
// a name) whose name holds the user's, made open to this user only; peers by
// GetNamedPipeClientProcessId / GetNamedPipeServerProcessId and their token's user.
#include "system/LocalPeers.h"

#include "system/windows/WinText.h"

#include <vector>

namespace {
// The user a process runs as, as a SID in a buffer; empty when unknown.
std::vector<unsigned char> UserOf(HANDLE process)
{
    std::vector<unsigned char> user;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token))
        return user;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        user = buffer;
    ::CloseHandle(token);
    return user;
}

DWORD PeerProcessId(HANDLE pipe)
{
    DWORD flags = 0;
    ULONG pid = 0;
    if (!::GetNamedPipeInfo(pipe, &flags, nullptr, nullptr, nullptr))
        return 0;
    const BOOL known = (flags & PIPE_SERVER_END) ? ::GetNamedPipeClientProcessId(pipe, &pid)
                                                 : ::GetNamedPipeServerProcessId(pipe, &pid);
    return known ? pid : 0;
}
} // namespace

std::string InstanceEndpoint()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    if (!::GetUserNameW(name, &size))
        return "brimtale";
    std::string user = Utf8Text(name);
    for (char& c : user)
        if (c == '\\' || c == '/' || c == ':')
            c = '_';
    return "brimtale-" + user;
}

bool InstanceEndpointExists(const std::string& /*endpoint*/)
{
    return true;
}

bool InstanceEndpointNeedsUserAccess()
{
    return true;
}

bool LocalPeerIsSameUser(std::intptr_t descriptor)
{
    const DWORD pid = PeerProcessId(reinterpret_cast<HANDLE>(descriptor));
    if (pid == 0)
        return false;
    THandle peer(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!peer.Valid())
        return false;
    const std::vector<unsigned char> theirs = UserOf(peer.Get());
    const std::vector<unsigned char> ours = UserOf(::GetCurrentProcess());
    return !theirs.empty() && !ours.empty() &&
           ::EqualSid(reinterpret_cast<const TOKEN_USER*>(theirs.data())->User.Sid,
                      reinterpret_cast<const TOKEN_USER*>(ours.data())->User.Sid);
}

std::int64_t LocalPeerProcess(std::intptr_t descriptor)
{
    return PeerProcessId(reinterpret_cast<HANDLE>(descriptor));
}
