// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "brimtale --add [-d DIR] [-f FORMAT] [-p PROFILE] [--playlist] ADDRESS...":
// the addresses go to the queue of the user's running program, which is
// started when none runs.

#include <string>
#include <vector>

// How long the program started for the addresses is waited for.
constexpr int AddStartWaitMs = 15000;

// args[0] is the program.
bool IsAddCommand(const std::vector<std::string>& args);
// 0 once the program has taken the addresses, 1 when it could not be reached,
// 2 on bad usage (with the usage on standard error).
int RunAddCommand(const std::vector<std::string>& args);
