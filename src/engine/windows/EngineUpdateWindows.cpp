// SPDX-License-Identifier: GPL-3.0-or-later
// Keeping the page engine current on Windows: not built yet. The engine the
// user put beside the program or on PATH is used as it is; an update says
// that this build has none.
#include "engine/EngineUpdate.h"

namespace {
TEngineUpdateResult NotOnWindows()
{
    TEngineUpdateResult result;
    result.Outcome = TUpdateOutcome::Failed;
    result.Failure = TUpdateFailure::NoBuild;
    result.Detail = "the page engine's own update is not part of the Windows build yet; "
                    "put yt-dlp.exe beside brimtale.exe";
    return result;
}
} // namespace

TEngineUpdateResult UpdateEngine(const TEngineUpdateOptions& /*options*/)
{
    return NotOnWindows();
}

TEngineUpdateResult RestoreEngine()
{
    TEngineUpdateResult result = NotOnWindows();
    result.Failure = TUpdateFailure::NoPrevious;
    return result;
}

bool CanRestoreEngine()
{
    return false;
}
