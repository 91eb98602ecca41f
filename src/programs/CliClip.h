// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// brimtale-cli's options for the part of a video wanted: --section,
// --split-chapters, --sponsor and --sponsor-categories.

#include "programs/CliOptions.h"
#include "engine/ClipOptions.h"

#include <optional>
#include <string>
#include <vector>

// The options as the engine takes them; each --section in sections (in order,
// none when there is none). False with the reason in bad for a value that is
// not one.
bool ClipFromCli(const TCliOptions& options, TClipOptions& clip, std::vector<TTimeSection>& sections,
                 std::string& bad, bool polish);

// The runs for one input: one per section, or one for the whole video.
std::vector<std::optional<TTimeSection>> SectionRuns(const std::vector<TTimeSection>& sections);
