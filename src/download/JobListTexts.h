// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the main window says about the list as a whole, in English and Polish:
// its status line, the question when it is closed with work left, and the one
// notification for jobs that came as many.

#include "download/JobList.h"

#include <string>

// "Downloading: 2 · Queued: 5 · Done: 12 · Failed: 1 · 3.4 MB/s" (paused rows
// and the speed only when there are any).
std::string ListStatusText(const TJobList::TCounts& counts, bool polish);

// "2 downloads are running and 5 are waiting." and what quitting does to them;
// empty when nothing runs or waits.
std::string WorkLeftText(int running, int waiting, bool polish);
// Said once, when closing the window keeps the program in the tray.
std::string KeptInTrayText(bool polish);

// "12 downloads done, 1 failed"; for a single job, its title with how it ended.
std::string BatchEndText(const TJobList::TBatchEnd& end, const std::string& singleTitle, bool polish);

// The window's title while jobs run: "42 % - Brimtale 1.6" (the title alone
// when the percentage is unknown or nothing runs).
std::string ListTitleText(const TJobList::TCounts& counts, const std::string& title);
