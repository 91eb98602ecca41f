// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A check of the followed pages for the windows: each page's list is read and
// its new entries become jobs (their names reserved) that join the downloads
// list; what was handed over is then noted as seen. The list of jobs is kept
// on disk, so an entry handed over is not lost when the program ends before
// its download does.

#include "app/DownloadJob.h"
#include "download/FollowedPages.h"
#include "plan/GetRequest.h"
#include "engine/PageList.h"

#include <functional>
#include <string>
#include <vector>

struct TFollowCheckPage {
    TFollowedPage Page;
    std::string Title;                    // the list's title, else its address
    std::vector<TDownloadJob> Jobs;       // one per new entry, in the list's order
    std::vector<std::string> EntryUrls;   // the entry of each job
    std::string Problem;                  // not empty: the page's check failed, and why
    std::string Notice;                   // said once: its list of what was seen was damaged
};

struct TFollowCheckHooks {
    std::function<TPageList(const std::string& url)> LookUp;
    // The request a page's jobs are made with (its format and profile); false
    // with the reason when it can't be made.
    std::function<bool(const TFollowedPage& page, TGetRequest& request, std::string& problem)> RequestFor;
    std::function<bool()> ShouldStop;
    bool ListInFolder = true;
    bool Polish = false;
};

// Checks every followed page of the folder (network; the caller holds the
// folder's check hold).
std::vector<TFollowCheckPage> PrepareFollowCheck(const std::string& followingDir, const TFollowCheckHooks& hooks);
// After a page's jobs were handed over: the entries of those that were are
// seen, and the page's check is noted (now, and how many were taken).
void FinishFollowCheck(const std::string& followingDir, const TFollowCheckPage& page,
                       const std::vector<std::string>& handedOver, std::int64_t now);

// The hold's name in the folder: one check at a time, of the windows or of brimtale-cli.
extern const char* const FollowCheckHold;
