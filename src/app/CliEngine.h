#pragma once
// brimtale-cli's page engine commands: --update-engine, --restore-engine and
// --engine-status.

#include "app/CliOptions.h"

// Runs the one the options name; the exit status (0 done, 1 failed, 130 interrupted).
int RunEngineCommand(const TCliOptions& options);
