// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ProgramRun.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
std::vector<std::string> Environment(const std::vector<std::string>& changes)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const std::string& change : changes) {
        const std::size_t eq = change.find('=');
        const std::string name = change.substr(0, eq) + "=";
        std::erase_if(env, [&](const std::string& e) { return e.compare(0, name.size(), name) == 0; });
        if (eq != std::string::npos)
            env.push_back(change);
    }
    return env;
}
} // namespace

TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                       const TProgramOptions& options)
{
    TProgramRun run;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return run;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore = Environment(options.Env);
    std::vector<char*> envp;
    for (std::string& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
        ::close(out[0]);
        ::close(err[0]);
        return run;
    }
    const auto deadline = start + options.Limit;
    bool outOpen = true;
    bool errOpen = true;
    bool ended = false;
    int status = 0;
    // Reads until the program has ended and both outputs are closed (or the
    // program has ended and what it left running holds them for a second).
    auto endedAt = std::chrono::steady_clock::time_point{};
    while (outOpen || errOpen) {
        pollfd p[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        ::poll(p, 2, 50);
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP)))
                continue;
            const ssize_t n = ::read(p[i].fd, buffer, sizeof buffer);
            if (n > 0)
                (i == 0 ? run.Out : run.Err).append(buffer, static_cast<std::size_t>(n));
            else
                (i == 0 ? outOpen : errOpen) = false;
        }
        struct rusage usage {};
        if (!ended && ::wait4(pid, &status, WNOHANG, &usage) == pid) {
            run.PeakKb = usage.ru_maxrss;
            ended = true;
            endedAt = std::chrono::steady_clock::now();
            run.Took = std::chrono::duration_cast<std::chrono::milliseconds>(endedAt - start);
        }
        if (ended && std::chrono::steady_clock::now() - endedAt > std::chrono::seconds(1))
            break;
        if (!ended && options.WhileRunning)
            options.WhileRunning(pid, run);
        if (!ended && std::chrono::steady_clock::now() > deadline)
            ::kill(pid, SIGKILL);
    }
    ::close(out[0]);
    ::close(err[0]);
    if (!ended) {
        struct rusage usage {};
        while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        run.PeakKb = usage.ru_maxrss;
        run.Took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    }
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

void PlaceProgram(const std::string& built, const std::string& path)
{
    std::error_code linked;
    std::filesystem::create_hard_link(built, path, linked);
    if (!linked)
        return;
    std::filesystem::copy_file(built, path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

std::string WriteScript(const std::string& path, const std::string& body)
{
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << "#!/bin/sh\n" << body;
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                           std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                           std::filesystem::perms::others_exec);
    return path;
}

// The processes running the program at exe with "-get" (zombies do not count,
// nor a child such a process has forked and not yet replaced with another
// program: it still shows its parent's command line).
std::vector<pid_t> DownloadProcesses(const std::string& exe)
{
    std::vector<pid_t> pids;
    std::vector<pid_t> parents;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return pids;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        std::ifstream cmd(dir + "/cmdline", std::ios::binary);
        std::string first;
        std::string second;
        if (!std::getline(cmd, first, '\0') || !std::getline(cmd, second, '\0'))
            continue;
        if (first != exe || second != "-get")
            continue;
        std::ifstream stat(dir + "/stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z')
            continue;
        pids.push_back(static_cast<pid_t>(std::atoi(entry->d_name)));
        parents.push_back(close != std::string::npos && close + 4 < line.size()
                              ? static_cast<pid_t>(std::atoi(line.c_str() + close + 4))
                              : 0);
    }
    ::closedir(proc);
    std::vector<pid_t> own;
    for (std::size_t i = 0; i < pids.size(); ++i)
        if (std::find(pids.begin(), pids.end(), parents[i]) == pids.end())
            own.push_back(pids[i]);
    return own;
}

// Kills the program running exe without arguments (the one --add started);
// its pids, or nothing.
std::string KillProgram(const std::string& exe)
{
    std::string programs;
    DIR* proc = ::opendir("/proc");
    while (const dirent* entry = proc ? ::readdir(proc) : nullptr) {
        std::ifstream cmd(std::string("/proc/") + entry->d_name + "/cmdline", std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(cmd)), std::istreambuf_iterator<char>());
        if (all == exe + std::string(1, '\0')) {
            ::kill(std::atoi(entry->d_name), SIGKILL);
            programs += entry->d_name;
        }
    }
    if (proc)
        ::closedir(proc);
    return programs;
}
