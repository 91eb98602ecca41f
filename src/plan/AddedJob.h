// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An address handed over by "brimtale --add" becomes a download job without the
// dialog: the same checks, look-up, name and reservation as the dialog's, with
// the dialog's last choices for what was not given.

#include "app/DownloadJob.h"
#include "download/JobList.h"

#include <atomic>
#include <optional>
#include <string>
#include <vector>

struct TAddedJob {
    std::string Message;  // not empty: nothing to download, and this says why
    std::string Details;  // the engine's own words about it, or empty
    std::string Title;    // the file name it got
    TDownloadJob Job;
};

// Network: the page's title, its media, its size (each step at most the
// dialog's 20 seconds; cancel stops them). The output name is reserved.
TAddedJob ResolveAddedJob(const TAddedAddress& added, const std::atomic<bool>* cancel, bool polish);

// The jobs an address added with Playlist gives: one per entry of a list page
// (each without Playlist), in a folder named after the list when
// ListInFolder is on; a page that is no list is the one job. Runs where a
// look-up runs, off the window's thread: it asks the page engine.
std::vector<TAddedAddress> ExpandPlaylist(const TAddedAddress& added, const std::atomic<bool>* cancel);

// "brimtale --add [-d DIR] [-f FORMAT] [-p PROFILE] [--playlist] ADDRESS..."
// (args without the program name, "--add" first). False on bad usage, with the
// message in error.
bool ParseAddArguments(const std::vector<std::string>& args, std::vector<TAddedAddress>& added, std::string& error);

// The addresses as they travel to the running program, and back; nothing for
// a text that is not such a request.
std::string EncodeAddRequest(const std::vector<TAddedAddress>& added);
std::optional<std::vector<TAddedAddress>> ParseAddRequest(const std::string& text);
