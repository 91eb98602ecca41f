// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the test helpers need of the system, one interface over the POSIX side
// (support/posix) and the Windows side (support/windows): loopback sockets,
// the environment and temporary folders.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

namespace testsys {

// A socket (a descriptor on POSIX, a SOCKET on Windows).
using Socket = std::intptr_t;
inline constexpr Socket NoSocket = -1;

// A TCP socket bound to a free port of 127.0.0.1, listening when listen is
// true; port gets the port. NoSocket when that failed.
Socket BindLoopback(bool listen, std::uint16_t& port);
// A TCP connection to 127.0.0.1:port, or NoSocket.
Socket ConnectLoopback(std::uint16_t port);
// The next connection of a listening socket, or NoSocket.
Socket Accept(Socket listener);
// Waits up to timeoutMs for something to read (or the end) on the sockets:
// bit i is set when the i-th of them is ready; 0 when the time passed, -1 on
// an error.
int WaitReadable(std::initializer_list<Socket> sockets, int timeoutMs);
// Sends or receives some bytes: how many, 0 at the end, < 0 on an error.
// Sending to a peer that is gone raises no signal.
long long SendSome(Socket socket, const char* data, std::size_t size);
long long ReceiveSome(Socket socket, char* data, std::size_t size);
// Stops sending (the peer reads the end), or sending and receiving both.
void ShutdownSending(Socket socket);
void ShutdownBoth(Socket socket);
void CloseSocket(Socket socket);

// Wakes a thread waiting with WaitReadable: ends[0] becomes readable once
// Wake(ends) was called.
bool MakeWaker(Socket ends[2]);
void Wake(const Socket ends[2]);
void CloseWaker(Socket ends[2]);

// Sets or removes a variable of this process's environment.
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// A symbolic link at link to target; false when the system made none.
bool MakeSymlink(const std::string& target, const std::string& link);
// A FIFO at path (POSIX alone; false elsewhere).
bool MakeFifo(const std::string& path, unsigned mode);
// Opens the FIFO at path for writing, without waiting, and closes it again:
// a reader blocked in opening it goes on.
void OpenFifoForWriting(const std::string& path);
// Whether the tests run as the superuser, whom file modes do not stop.
bool RunsAsRoot();

// Runs run with the files this process writes limited to bytes (a write
// beyond fails, no signal comes); false when the system has no such limit.
bool WithFileSizeLimit(std::uint64_t bytes, const std::function<void()>& run);
// Runs child in a forked copy of this process, which exits with what it
// returns: the child's process id, or -1 where there is no fork.
int ForkChild(const std::function<int()>& child);
// Whether the forked child has ended (then status tells whether it exited
// with 0), without waiting.
bool ForkedChildEnded(int pid, bool& succeeded);

// Ends the process at once (SIGKILL); false when there is none such.
bool KillProcess(int pid);

// The environment variable that names the temporary folder (TMPDIR, TMP).
extern const char* const TempFolderVariable;

// A new folder of the user's own in the temporary folder (TMPDIR on POSIX).
std::string MakeTempFolder(const std::string& prefix);
// Makes everything under path (and path) writable by the user again.
void MakeWritableTree(const std::string& path);

} // namespace testsys
