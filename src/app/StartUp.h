// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The entry sequence up to the choice of run mode (the windows come after it).

#include <cstddef>
#include <string>
#include <vector>

enum class TRunMode { Interactive, Download };

// Reads the command line into Job, sets the paths, loads the settings, applies
// the first-run language rule and decides the run mode. args[0] is the program.
// An interactive start with one argument that is no switch also sets StartAddress.
TRunMode StartUp(const std::vector<std::string>& args);

// The address or file the interactive program was started with, as the
// new-download dialog takes it; empty when there is none.
extern std::string StartAddress;

// The longest address the new-download dialog takes, in bytes.
constexpr std::size_t AddressMax = 800;

// A command-line argument as the dialog takes it: a file:// URI (what a file
// manager passes) becomes its local path, the path of an existing file relative
// to workingDir becomes absolute, and only the first line counts, at most
// AddressMax bytes of it.
std::string CommandLineAddress(const std::string& argument, const std::string& workingDir);
