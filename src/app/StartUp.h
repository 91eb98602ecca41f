#pragma once
// The entry sequence up to the choice of run mode (the windows come after it).

#include <string>
#include <vector>

enum class TRunMode { Interactive, Download };

// Reads the command line into Job, sets the paths, loads the settings, applies
// the first-run language rule and decides the run mode. args[0] is the program.
TRunMode StartUp(const std::vector<std::string>& args);
