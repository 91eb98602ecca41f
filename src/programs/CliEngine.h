// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// brimtale-cli's page engine commands: --update-engine, --restore-engine and
// --engine-status.

#include "programs/CliOptions.h"

#include <string>

// Runs the one the options name; the exit status (0 done, 1 failed, 130 interrupted).
int RunEngineCommand(const TCliOptions& options);

// The line after a look-up the engine may have failed for its age or a missing
// runtime: how to update it.
std::string EngineUpdateHint(bool polish);
