// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TestSystem.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <vector>

namespace testsys {

namespace {
// Winsock is started once for the whole run and left to the process's end.
void StartWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        throw std::runtime_error("WSAStartup failed");
}

SOCKET Handle(Socket socket) { return static_cast<SOCKET>(socket); }
Socket Own(SOCKET socket) { return socket == INVALID_SOCKET ? NoSocket : static_cast<Socket>(socket); }

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

SOCKET NewSocket()
{
    StartWinsock();
    // Not inherited by the programs a test starts.
    return ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}
} // namespace

Socket BindLoopback(bool listen, std::uint16_t& port)
{
    const SOCKET s = NewSocket();
    if (s == INVALID_SOCKET)
        return NoSocket;
    // A port of this socket alone, as SO_REUSEADDR means something else here.
    const BOOL one = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in address = Loopback(0);
    int length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || (listen && ::listen(s, 64) != 0)
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(s);
        return NoSocket;
    }
    port = ntohs(address.sin_port);
    return Own(s);
}

Socket ConnectLoopback(std::uint16_t port)
{
    const SOCKET s = NewSocket();
    if (s == INVALID_SOCKET)
        return NoSocket;
    sockaddr_in address = Loopback(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(s);
        return NoSocket;
    }
    return Own(s);
}

Socket Accept(Socket listener)
{
    const SOCKET s = ::accept(Handle(listener), nullptr, nullptr);
    if (s != INVALID_SOCKET)
        ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return Own(s);
}

int WaitReadable(std::initializer_list<Socket> sockets, int timeoutMs)
{
    std::vector<WSAPOLLFD> fds;
    for (const Socket s : sockets)
        fds.push_back({Handle(s), POLLRDNORM, 0});
    const int n = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
    if (n < 0)
        return -1;
    int ready = 0;
    for (std::size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents & (POLLRDNORM | POLLHUP | POLLERR))
            ready |= 1 << i;
    return ready;
}

long long SendSome(Socket socket, const char* data, std::size_t size)
{
    const int n = ::send(Handle(socket), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

long long ReceiveSome(Socket socket, char* data, std::size_t size)
{
    const int n = ::recv(Handle(socket), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void ShutdownSending(Socket socket) { ::shutdown(Handle(socket), SD_SEND); }
void ShutdownBoth(Socket socket) { ::shutdown(Handle(socket), SD_BOTH); }
void CloseSocket(Socket socket)
{
    if (socket != NoSocket)
        ::closesocket(Handle(socket));
}

// Windows waits on sockets alone: the waker is a loopback connection.
bool MakeWaker(Socket ends[2])
{
    ends[0] = ends[1] = NoSocket;
    std::uint16_t port = 0;
    const Socket listener = BindLoopback(true, port);
    if (listener == NoSocket)
        return false;
    ends[1] = ConnectLoopback(port);
    if (ends[1] != NoSocket)
        ends[0] = Accept(listener);
    CloseSocket(listener);
    if (ends[0] == NoSocket) {
        CloseWaker(ends);
        return false;
    }
    return true;
}

void Wake(const Socket ends[2])
{
    const char byte = 1;
    SendSome(ends[1], &byte, 1);
}

void CloseWaker(Socket ends[2])
{
    for (int i = 0; i < 2; ++i) {
        CloseSocket(ends[i]);
        ends[i] = NoSocket;
    }
}

void SetEnv(const std::string& name, const std::string& value)
{
    // Both the C runtime's copy (getenv) and the process's (child processes).
    ::_wputenv_s(Wide(name).c_str(), Wide(value).c_str());
    ::SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str());
}

void UnsetEnv(const std::string& name)
{
    ::_wputenv_s(Wide(name).c_str(), L"");
    ::SetEnvironmentVariableW(Wide(name).c_str(), nullptr);
}

bool MakeSymlink(const std::string& target, const std::string& link)
{
    std::error_code ec;
    std::filesystem::create_symlink(std::filesystem::u8path(target), std::filesystem::u8path(link), ec);
    return !ec;
}

bool MakeFifo(const std::string&, unsigned) { return false; }

void OpenFifoForWriting(const std::string&) {}

bool RunsAsRoot() { return false; }

bool WithFileSizeLimit(std::uint64_t, const std::function<void()>&) { return false; }

int ForkChild(const std::function<int()>&) { return -1; }

bool ForkedChildEnded(int, bool& succeeded)
{
    succeeded = false;
    return true;
}

bool KillProcess(int pid)
{
    const HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return false;
    const bool ended = ::TerminateProcess(process, 1) != 0;
    ::CloseHandle(process);
    return ended;
}

// GetTempPath looks at TMP first.
const char* const TempFolderVariable = "TMP";

std::string MakeTempFolder(const std::string& prefix)
{
    static std::atomic<unsigned> count{0};
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = prefix + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(count++) +
                                 "-" + std::to_string(random() % 100000);
        const std::filesystem::path dir = base / name;
        if (::CreateDirectoryW(dir.wstring().c_str(), nullptr))
            return dir.generic_string();
    }
    throw std::runtime_error("can't make a temporary folder");
}

void MakeWritableTree(const std::string& path)
{
    std::error_code ec;
    const auto writable = std::filesystem::perms::owner_write;
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        std::filesystem::permissions(it->path(), writable, std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(path, writable, std::filesystem::perm_options::add, ec);
}

} // namespace testsys
