// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TestSystem.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testsys {

namespace {
int Fd(Socket socket) { return static_cast<int>(socket); }

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}
} // namespace

Socket BindLoopback(bool listen, std::uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return NoSocket;
    const int one = 1;
    if (listen)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || (listen && ::listen(fd, 64) != 0)
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return NoSocket;
    }
    port = ntohs(address.sin_port);
    return fd;
}

Socket ConnectLoopback(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return NoSocket;
    sockaddr_in address = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return NoSocket;
    }
    return fd;
}

Socket Accept(Socket listener)
{
    const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? NoSocket : fd;
}

int WaitReadable(std::initializer_list<Socket> sockets, int timeoutMs)
{
    std::vector<pollfd> fds;
    for (const Socket s : sockets)
        fds.push_back({Fd(s), POLLIN, 0});
    const int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    int ready = 0;
    for (std::size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
            ready |= 1 << i;
    return ready;
}

long long SendSome(Socket socket, const char* data, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::send(Fd(socket), data, size, MSG_NOSIGNAL);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

long long ReceiveSome(Socket socket, char* data, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::recv(Fd(socket), data, size, 0);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

void ShutdownSending(Socket socket) { ::shutdown(Fd(socket), SHUT_WR); }
void ShutdownBoth(Socket socket) { ::shutdown(Fd(socket), SHUT_RDWR); }
void CloseSocket(Socket socket)
{
    if (socket != NoSocket)
        ::close(Fd(socket));
}

bool MakeWaker(Socket ends[2])
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    ends[0] = fds[0];
    ends[1] = fds[1];
    return true;
}

void Wake(const Socket ends[2])
{
    const char byte = 1;
    (void)!::write(Fd(ends[1]), &byte, 1);
}

void CloseWaker(Socket ends[2])
{
    for (int i = 0; i < 2; ++i) {
        if (ends[i] != NoSocket)
            ::close(Fd(ends[i]));
        ends[i] = NoSocket;
    }
}

void SetEnv(const std::string& name, const std::string& value) { ::setenv(name.c_str(), value.c_str(), 1); }
void UnsetEnv(const std::string& name) { ::unsetenv(name.c_str()); }

bool MakeSymlink(const std::string& target, const std::string& link)
{
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool MakeFifo(const std::string& path, unsigned mode) { return ::mkfifo(path.c_str(), mode) == 0; }

void OpenFifoForWriting(const std::string& path)
{
    const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0)
        ::close(writer);
}

bool RunsAsRoot() { return ::geteuid() == 0; }

bool WithFileSizeLimit(std::uint64_t bytes, const std::function<void()>& run)
{
    rlimit old{};
    if (::getrlimit(RLIMIT_FSIZE, &old) != 0)
        return false;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) {
        std::signal(SIGXFSZ, oldHandler);
        return false;
    }
    run();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return true;
}

int ForkChild(const std::function<int()>& child)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(child());
    return pid;
}

bool ForkedChildEnded(int pid, bool& succeeded)
{
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0)
        return false;
    succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return true;
}

bool KillProcess(int pid) { return ::kill(pid, SIGKILL) == 0; }

const char* const TempFolderVariable = "TMPDIR";

std::string MakeTempFolder(const std::string& prefix)
{
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
    if (!::mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    return templ;
}

void MakeWritableTree(const std::string& path)
{
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        ::chmod(it->path().c_str(), 0700);
    ::chmod(path.c_str(), 0700);
}

} // namespace testsys
