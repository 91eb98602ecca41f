// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// brimtale-cli's followed pages: --follow, --unfollow, --following and --check.

#include "download/FollowedPages.h"
#include "programs/CliOptions.h"
#include "engine/PageList.h"

#include <functional>
#include <string>

struct TFollowHooks {
    std::string FollowingDir;  // where the pages' files are kept
    // The list of a page (network; ends early when interrupted).
    std::function<TPageList(const std::string& url)> LookUp;
    // Downloads one entry of a followed page into folder; the exit status
    // (0 done, 130 interrupted).
    std::function<int(const TFollowedPage& page, const TPageListEntry& entry, const std::string& folder)> Download;
    std::function<void(const std::string& text)> Say;    // progress, not with --quiet
    std::function<void(const std::string& text)> Error;  // always
    std::function<bool()> Interrupted;
    std::function<std::int64_t()> Now;  // seconds since 1970
    bool ListInFolder = true;
    bool Polish = false;
};

// True when the options ask for one of them.
bool IsFollowCommand(const TCliOptions& options);
// Runs it; the exit status (0 when every page's check worked, 1 when any
// failed, 130 when interrupted).
int RunFollowCommand(const TCliOptions& options, const TFollowHooks& hooks);
