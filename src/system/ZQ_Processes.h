// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Finding and ending this process's children by their executable (over /proc).

#include <cstdint>
#include <string>
#include <vector>

// The executable path of a process; empty when it can't be found out.
std::string GetProcessExePath(int pid);
// The processes whose parent is the given one.
std::vector<int> ChildProcessesOf(int parentPid);
// A descriptor that becomes readable when the process ends (Linux: its pidfd);
// -1 where the system has none (Windows): then ProcessHasEnded is asked now and then.
int ProcessEndDescriptor(std::int64_t pid);
// Whether no process has the id any more.
bool ProcessHasEnded(std::int64_t pid);
// Asks a process to end (SIGTERM; on Windows it is ended).
void AskProcessToEnd(std::int64_t pid);

// Ends every child of this process whose executable is the given file (canonical
// paths compared, so a symlinked encoder still matches); true when one was ended.
bool TerminateApp(const std::string& exePath);
