// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs a real program of the build (no shell) and collects what it prints.

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct TProgramRun {
    int Status = -1;  // the exit status, or 128 + signal; -1 when it could not start
    std::string Out;
    std::string Err;
    std::chrono::milliseconds Took{0};
    long PeakKb = 0;  // the program's peak resident memory
};

struct TProgramOptions {
    // Changes to the environment: "NAME=value" sets, "NAME" alone removes.
    std::vector<std::string> Env;
    // Called with the pid and what came so far, about every 50 ms.
    std::function<void(pid_t, const TProgramRun&)> WhileRunning;
    // Ended with SIGKILL after this long.
    std::chrono::seconds Limit{120};
};

TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                       const TProgramOptions& options = {});

// Puts the built program at path (a folder of the test's own, so that its
// settings stay there): a second name of the same file where the folders allow
// it, else a copy. A copy can fail to start ("text file busy") while a child
// that another thread of the test forked still holds it open for writing.
void PlaceProgram(const std::string& built, const std::string& path);

// Writes an executable "#!/bin/sh" script and returns its path.
std::string WriteScript(const std::string& path, const std::string& body);

// The processes running the program at exe with "-get" (zombies do not count,
// nor a child such a process has forked and not yet replaced with another
// program).
std::vector<pid_t> DownloadProcesses(const std::string& exe);

// Kills the program running exe without arguments (the one --add started);
// its pids, or nothing.
std::string KillProgram(const std::string& exe);
