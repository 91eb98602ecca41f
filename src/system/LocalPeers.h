// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's local connections (the single-instance hand-off, the reports
// of download processes): where they meet, and who is at the other end. A
// Unix socket in a folder of this user's only on POSIX systems
// (posix/LocalPeersPosix.cpp); a named pipe open to this user only on Windows
// (windows/LocalPeersWindows.cpp).
#include <cstdint>
#include <string>

// The name the program listens at: a socket path, or on Windows a pipe's
// name with the user's name in it; empty when there can't be one.
std::string InstanceEndpoint();
// Whether what listens at the endpoint is still there (a socket file that was
// removed means no; a pipe is there while it is listened at).
bool InstanceEndpointExists(const std::string& endpoint);
// Whether the endpoint must be made open to this user only when it is made
// (Windows: the pipe's own access list); false where the folder it is in
// already does that.
bool InstanceEndpointNeedsUserAccess();

// Who is at the other end of a connected local socket or pipe (its descriptor
// or handle): whether it runs as this user, and its process id (0 when unknown).
bool LocalPeerIsSameUser(std::intptr_t descriptor);
std::int64_t LocalPeerProcess(std::intptr_t descriptor);
