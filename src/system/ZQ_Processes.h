// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Finding and ending this process's children by their executable (over /proc).

#include <string>
#include <vector>

// The executable path of a process; empty when it can't be found out.
std::string GetProcessExePath(int pid);
// The processes whose parent is the given one.
std::vector<int> ChildProcessesOf(int parentPid);
// Ends every child of this process whose executable is the given file (canonical
// paths compared, so a symlinked encoder still matches); true when one was ended.
bool TerminateApp(const std::string& exePath);
