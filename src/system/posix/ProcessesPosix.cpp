// SPDX-License-Identifier: GPL-3.0-or-later
// Process lookup on Linux, over /proc: a process's parent comes from /proc/PID/stat, its
// executable from the link /proc/PID/exe, its arguments from /proc/PID/cmdline.

#include "system/ZQ_Processes.h"

#include "system/ZQ_FileSystem.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ProcPath(int pid, const char* item)
{
    return "/proc/" + std::to_string(pid) + "/" + item;
}

// A small /proc file read whole; empty when it can't be read or holds more than maxBytes.
std::string ReadProcFile(const std::string& path, std::size_t maxBytes)
{
    return ReadWholeFile(path, maxBytes).Text;
}

// The parent's id from /proc/PID/stat: "pid (command name) state ppid ...". The
// command name may itself hold blanks and ")", so the fields are counted from
// the last ")".
int ParentOf(int pid)
{
    const std::string stat = ReadProcFile(ProcPath(pid, "stat"), 4096);
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    int parent = -1;
    if (!(fields >> state >> parent))
        return -1;
    return parent;
}

std::string Canonical(const std::string& path)
{
    if (path.empty())
        return {};
    std::error_code ec;
    const fs::path c = fs::canonical(path, ec);
    if (ec)
        return fs::path(path).lexically_normal().string();
    return c.string();
}

bool IsScript(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {0, 0};
    return in.read(magic, 2) && magic[0] == '#' && magic[1] == '!';
}

// The script a "#!" interpreter runs: the first argument after the interpreter
// that is not an option (the line "#!/bin/sh -e" puts "-e" before it). A
// relative name is taken against the process's working directory.
std::string ScriptOf(int pid)
{
    const std::string cmdline = ReadProcFile(ProcPath(pid, "cmdline"), 1024 * 1024);
    std::vector<std::string> argv;
    std::size_t start = 0;
    while (start < cmdline.size()) {
        std::size_t end = cmdline.find('\0', start);
        if (end == std::string::npos)
            end = cmdline.size();
        argv.push_back(cmdline.substr(start, end - start));
        start = end + 1;
    }
    for (std::size_t i = 1; i < argv.size() && i <= 2; ++i) {
        const std::string& arg = argv[i];
        if (arg.empty())
            return {};
        if (arg[0] == '-')
            continue;
        if (arg[0] == '/')
            return arg;
        std::error_code ec;
        const fs::path cwd = fs::read_symlink(ProcPath(pid, "cwd"), ec);
        return ec ? std::string() : (cwd / arg).string();
    }
    return {};
}

}  // namespace

std::string GetProcessExePath(int pid)
{
    if (pid <= 0)
        return {};
    std::error_code ec;
    const fs::path target = fs::read_symlink(ProcPath(pid, "exe"), ec);
    return ec ? std::string() : target.string();
}

std::vector<int> ChildProcessesOf(int parentPid)
{
    std::vector<int> children;
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return children;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        errno = 0;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (errno != 0 || end == entry->d_name || *end != '\0' || pid <= 0)
            continue;
        if (ParentOf(static_cast<int>(pid)) == parentPid)
            children.push_back(static_cast<int>(pid));
    }
    ::closedir(dir);
    return children;
}

bool TerminateApp(const std::string& exePath)
{
    if (exePath.empty())
        return false;
    // A bare name means the file in the current directory.
    const std::string expanded = exePath.find('/') == std::string::npos ? ExpandFileName(exePath) : exePath;
    const std::string wanted = Canonical(expanded);
    // A "#!" script runs under its interpreter: the process's executable is the
    // interpreter, and the script is named in its arguments.
    const bool script = IsScript(wanted);

    bool ended = false;
    for (const int pid : ChildProcessesOf(static_cast<int>(::getpid()))) {
        const std::string exe = GetProcessExePath(pid);
        if (exe.empty())
            continue;  // gone already, or not ours to look at
        bool match = Canonical(exe) == wanted;
        if (!match && script) {
            const std::string scriptPath = ScriptOf(pid);
            match = !scriptPath.empty() && Canonical(scriptPath) == wanted;
        }
        // An ended child keeps its id until it is waited for, so the id can't
        // have passed to another process between the look and the signal.
        if (match && ::kill(pid, SIGKILL) == 0)
            ended = true;
    }
    return ended;
}

int ProcessEndDescriptor(std::int64_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
#else
    (void)pid;
    return -1;
#endif
}

bool ProcessHasEnded(std::int64_t pid)
{
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

void AskProcessToEnd(std::int64_t pid)
{
    ::kill(static_cast<pid_t>(pid), SIGTERM);
}
