// SPDX-License-Identifier: GPL-3.0-or-later
// Console runner on POSIX systems: the child gets the pipe's write end as standard output and
// standard error and /dev/null as standard input; it is started directly with
// posix_spawn (never through a shell), with this process's environment and
// current directory.

#include "system/ConRun.h"

#include "base/ZQ_Strings.h"
#include "system/ZQ_FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// ---------------------------------------------------------------------------
// Running

namespace {

class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return fd_; }
    void Reset(int fd)
    {
        Close();
        fd_ = fd;
    }
    void Close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

std::string ErrorText(const std::string& what, int err)
{
    return what + ": " + std::strerror(err) + " (" + std::to_string(err) + ")";
}

// Moves a descriptor above the standard ones (keeping close-on-exec), so that
// setting up the child's 0, 1 and 2 can never overwrite it.
bool MoveAboveStdFds(TFd& fd)
{
    if (fd.Get() > 2)
        return true;
    const int moved = ::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0)
        return false;
    fd.Reset(moved);
    return true;
}

std::uint32_t ExitCodeOf(int status)
{
    if (WIFEXITED(status))
        return static_cast<std::uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    return StillActiveExitCode;
}

// A child that outlived its wait is reaped by a thread of its own whenever it
// ends, so it never stays behind as a zombie.
void ReapInBackground(pid_t pid)
{
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // No thread to be had: the child stays unreaped until this process ends.
    }
}

// Waits for the child at most timeout. Returns its exit code, or 259 when it is
// still running then (it is reaped later in the background).
std::uint32_t WaitForChild(pid_t pid, std::chrono::milliseconds timeout)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;

    int pidFd = -1;
#ifdef SYS_pidfd_open
    pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#endif
    TFd pidFdGuard(pidFd);

    auto delay = std::chrono::milliseconds(1);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return ExitCodeOf(status);
        if (r < 0 && errno != EINTR)
            return StillActiveExitCode;  // someone else reaped it: the exit code is unknown
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            ReapInBackground(pid);
            return StillActiveExitCode;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                          std::chrono::milliseconds(1);
        if (pidFd >= 0) {
            pollfd p{pidFd, POLLIN, 0};
            const int pr = ::poll(&p, 1, static_cast<int>(left.count()));
            if (pr < 0 && errno != EINTR)
                pidFd = -1;  // fall back to polling with back-off
        } else {
            std::this_thread::sleep_for(std::min(delay, left));
            delay = std::min(delay * 2, std::chrono::milliseconds(25));
        }
    }
}

// Ends the wait for the child on every way out: a child not yet waited for
// (the line callback threw) is reaped in the background.
struct TChildGuard {
    pid_t pid = -1;
    ~TChildGuard()
    {
        if (pid > 0)
            ReapInBackground(pid);
    }
};

// The child's end, seen while its output is still read: once it has ended (and
// is reaped, so it never stays a zombie), whatever it left running that still
// holds the pipe gets ChildExitGrace to finish its output, then the reading
// stops. A process that left the child's group (setsid) can't keep a run going.
constexpr std::chrono::milliseconds ChildExitGrace{2000};
struct TChildExit {
    bool Reaped = false;
    std::uint32_t Code = 0;
    std::chrono::steady_clock::time_point GraceEnd{};

    // True once the child has ended (looked at again on every call until then).
    bool Check(pid_t pid, TChildGuard& guard)
    {
        if (Reaped)
            return true;
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r != pid && !(r < 0 && errno == ECHILD))
            return false;
        Reaped = true;
        Code = r == pid ? ExitCodeOf(status) : StillActiveExitCode;
        guard.pid = -1;
        GraceEnd = std::chrono::steady_clock::now() + ChildExitGrace;
        return true;
    }
    bool GraceOver() const { return Reaped && std::chrono::steady_clock::now() >= GraceEnd; }
};

// A close-on-exec pipe whose ends sit above the standard descriptors.
void OpenPipe(TFd& readEnd, TFd& writeEnd)
{
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw EConsoleError(ErrorText("Could not create a pipe", errno));
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    if (!MoveAboveStdFds(readEnd) || !MoveAboveStdFds(writeEnd))
        throw EConsoleError(ErrorText("Could not create a pipe", errno));
}

// Starts path with args (no shell): standard input from /dev/null, standard
// output to outFd and standard error to errFd (each inherited when it is -1;
// errFd -2 means the same as outFd), default signal handling
// and nothing blocked, whatever this process has set up for itself. flags may add
// POSIX_SPAWN_SETPGROUP (a group of its own) or POSIX_SPAWN_SETSID. Returns 0 or
// the error number.
int SpawnProgram(const std::string& path, const std::vector<std::string>& args, int outFd, short flags, pid_t& pid,
                 int errFd = -2, const std::string& workDir = {})
{
    if (errFd == -2)
        errFd = outFd;
    std::vector<std::string> argStore;
    argStore.reserve(args.size() + 1);
    argStore.push_back(path);
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(argStore.size() + 1);
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    int err = ::posix_spawn_file_actions_init(&actions);
    if (err != 0)
        return err;
    err = ::posix_spawnattr_init(&attr);
    if (err != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return err;
    }
    // The given descriptor may be close-on-exec; the copies on 1 and 2 aren't.
    if (err == 0 && outFd >= 0)
        err = ::posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    if (err == 0 && errFd >= 0)
        err = ::posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    if (err == 0)
        err = ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (err == 0 && !workDir.empty())
        err = ::posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    if (err == 0)
        err = ::posix_spawnattr_setsigdefault(&attr, &all);
    if (err == 0)
        err = ::posix_spawnattr_setsigmask(&attr, &none);
    if (err == 0 && (flags & POSIX_SPAWN_SETPGROUP))
        err = ::posix_spawnattr_setpgroup(&attr, 0);
    if (err == 0)
        err = ::posix_spawnattr_setflags(&attr, static_cast<short>(POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | flags));
    if (err == 0)
        err = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    return err;
}

}  // namespace

bool StartDetached(const std::string& program, const std::vector<std::string>& args, std::int64_t* startedPid)
{
    const std::string path = FindExecutable(program);
    if (path.empty())
        return false;
    pid_t pid = -1;
    // A session of its own: the started program outlives this one and a hang-up
    // of this one's terminal. It is reaped here when it ends.
    if (SpawnProgram(path, args, -1, POSIX_SPAWN_SETSID, pid) != 0)
        return false;
    ReapInBackground(pid);
    if (startedPid)
        *startedPid = pid;
    return true;
}

bool StartDetachedWithoutOutput(const std::string& program, const std::vector<std::string>& args)
{
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int savedOut = ::dup(STDOUT_FILENO);
    const int savedErr = ::dup(STDERR_FILENO);
    if (nowhere >= 0) {
        ::dup2(nowhere, STDOUT_FILENO);
        ::dup2(nowhere, STDERR_FILENO);
        ::close(nowhere);
    }
    const bool started = StartDetached(program, args, nullptr);
    if (savedOut >= 0) {
        ::dup2(savedOut, STDOUT_FILENO);
        ::close(savedOut);
    }
    if (savedErr >= 0) {
        ::dup2(savedErr, STDERR_FILENO);
        ::close(savedErr);
    }
    return started;
}

bool EndProcessGroup(int leaderPid, bool force)
{
    if (leaderPid <= 1)
        return false;
    return ::kill(-leaderPid, force ? SIGKILL : SIGTERM) == 0;
}

namespace {
// True while a process of the group still runs. One that has ended but is not
// reaped yet (orphans are init's to reap, and some inits are slow) doesn't count.
bool GroupHasLiveMembers(int groupId)
{
    if (::kill(-groupId, 0) != 0 && errno != EPERM)
        return false;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return true;
    bool live = false;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        const int fd = ::open((std::string("/proc/") + entry->d_name + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
        ::close(fd);
        if (n <= 0)
            continue;
        buffer[n] = '\0';
        // "pid (name) state ppid pgrp ...": the name may hold anything but ends at the last ')'.
        const char* close = std::strrchr(buffer, ')');
        char state = 0;
        int group = 0;
        if (close && std::sscanf(close + 1, " %c %*d %d", &state, &group) == 2 && group == groupId &&
            state != 'Z' && state != 'X') {
            live = true;
            break;
        }
    }
    ::closedir(proc);
    return live;
}
} // namespace

bool WaitForProcessGroupEnd(int leaderPid, std::chrono::milliseconds timeout)
{
    if (leaderPid <= 1)
        return true;
    const auto until = std::chrono::steady_clock::now() + timeout;
    auto delay = std::chrono::milliseconds(1);
    while (GroupHasLiveMembers(leaderPid)) {
        if (std::chrono::steady_clock::now() >= until) {
            ::kill(-leaderPid, SIGKILL);
            return false;
        }
        std::this_thread::sleep_for(delay);
        delay = std::min(delay * 2, std::chrono::milliseconds(20));
    }
    return true;
}

std::uint32_t RunConsoleApp(const std::string& program, const std::vector<std::string>& args,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine, TLineEndRule rule,
                            const TConsoleTick& onTick, const std::string& workDir)
{
    // A name with a "/" is taken as it is, a bare name is looked up on PATH; any
    // executable file may run, a "#!" script included. (There are no program
    // types told apart by their extension here, so a "has invalid file extension"
    // failure can't happen.)
    const std::string path = FindExecutable(program);
    if (path.empty())
        throw EConsoleError("Could not find file " + program);

    TFd readEnd;
    TFd writeEnd;
    OpenPipe(readEnd, writeEnd);

    pid_t pid = -1;
    // The child leads a process group of its own, so that whatever it starts in
    // turn can be ended with it (EndProcessGroup).
    const int err = SpawnProgram(path, args, writeEnd.Get(), POSIX_SPAWN_SETPGROUP, pid, -2, workDir);
    if (err != 0)
        throw EConsoleError(ErrorText("Could not start " + path, err));

    TChildGuard child;
    child.pid = pid;
    // Only the child (and whatever it starts) holds the write end now, so the
    // reads end when they have all closed it.
    writeEnd.Close();

    TConsoleLineCollector collector(lines, onLine, static_cast<int>(pid), rule);
    TChildExit exited;
    char chunk[1025];
    using Clock = std::chrono::steady_clock;
    Clock::time_point nextTick = Clock::now() + ConsoleTickInterval;
    for (;;) {
        const auto now = Clock::now();
        if (onTick && now >= nextTick) {
            onTick(static_cast<int>(pid));
            nextTick = Clock::now() + ConsoleTickInterval;
            continue;
        }
        // Wait for output at most until the next tick is due (the caller gets
        // its ticks while the child prints nothing), and look now and then
        // whether the child itself has ended.
        if (exited.Check(pid, child) && exited.GraceOver())
            break;
        pollfd p{readEnd.Get(), POLLIN, 0};
        const auto wait = onTick ? std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now).count() + 1
                                 : static_cast<long long>(ConsoleTickInterval.count());
        const int ready = ::poll(&p, 1, static_cast<int>(wait));
        if (ready == 0 || (ready < 0 && errno == EINTR))
            continue;
        const ssize_t n = ::read(readEnd.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        collector.Feed(chunk, static_cast<std::size_t>(n));
    }
    readEnd.Close();

    child.pid = -1;
    const std::uint32_t exitCode =
        exited.Reaped ? exited.Code : WaitForChild(pid, std::chrono::milliseconds(5000));
    collector.Finish();
    return exitCode;
}

std::uint32_t RunConsoleApp(const std::string& program, const std::vector<std::string>& args,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine)
{
    return RunConsoleApp(program, args, lines, onLine, TLineEndRule::LoneLfCompletes);
}

std::uint32_t RunConsoleApp(const std::string& program, const std::string& params,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine)
{
    return RunConsoleApp(program, SplitCommandLine(params), lines, onLine, TLineEndRule::LoneLfCompletes);
}

TCapturedRun RunCaptured(const std::string& program, const std::vector<std::string>& args, std::size_t outLimit,
                         const std::function<bool()>& shouldStop, const std::string& workDir)
{
    const std::string path = FindExecutable(program);
    if (path.empty())
        throw EConsoleError("Could not find file " + program);

    TFd outRead;
    TFd outWrite;
    OpenPipe(outRead, outWrite);
    TFd errRead;
    TFd errWrite;
    OpenPipe(errRead, errWrite);

    pid_t pid = -1;
    const int err = SpawnProgram(path, args, outWrite.Get(), POSIX_SPAWN_SETPGROUP, pid, errWrite.Get(), workDir);
    if (err != 0)
        throw EConsoleError(ErrorText("Could not start " + path, err));
    TChildGuard child;
    child.pid = pid;
    outWrite.Close();
    errWrite.Close();

    TCapturedRun run;
    TChildExit exited;
    using Clock = std::chrono::steady_clock;
    Clock::time_point killAt{};  // when a stopped child gets SIGKILL
    bool killed = false;
    auto stop = [&] {
        if (killAt == Clock::time_point{}) {
            ::kill(-pid, SIGTERM);
            killAt = Clock::now() + std::chrono::seconds(2);
        }
    };
    char chunk[16384];
    while (outRead.Get() >= 0 || errRead.Get() >= 0) {
        if (!run.Stopped && shouldStop && shouldStop()) {
            run.Stopped = true;
            stop();
        }
        if (killAt != Clock::time_point{} && Clock::now() >= killAt) {
            if (killed)
                break;  // something outside the group holds the pipes: stop reading
            ::kill(-pid, SIGKILL);
            killed = true;
            killAt = Clock::now() + std::chrono::seconds(1);
        }
        if (exited.Check(pid, child) && exited.GraceOver())
            break;
        pollfd p[2] = {{outRead.Get(), POLLIN, 0}, {errRead.Get(), POLLIN, 0}};
        const int ready = ::poll(p, 2, static_cast<int>(ConsoleTickInterval.count()));
        if (ready <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (p[i].fd < 0 || (p[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            const ssize_t n = ::read(p[i].fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                (i == 0 ? outRead : errRead).Close();
                continue;
            }
            std::string& into = i == 0 ? run.Out : run.Err;
            const std::size_t limit = i == 0 ? outLimit : CapturedErrorMax;
            const std::size_t room = into.size() < limit ? limit - into.size() : 0;
            into.append(chunk, std::min(room, static_cast<std::size_t>(n)));
            if (i == 0 && static_cast<std::size_t>(n) > room) {
                // More output than can be taken: the run has failed.
                run.TooLong = true;
                stop();
            }
        }
    }
    child.pid = -1;
    run.ExitCode = exited.Reaped ? exited.Code : WaitForChild(pid, std::chrono::milliseconds(5000));
    if (run.Stopped || run.TooLong)
        WaitForProcessGroupEnd(pid, std::chrono::seconds(3));
    return run;
}
