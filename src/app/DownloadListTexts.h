// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The texts of the main window's download list and of its options, in English
// and Polish.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct TDownloadListTexts {
    const char* Tab;                  // the list's tab in the main window
    std::array<const char*, 6> Columns;  // title, state, size, percentage, speed, time left
    std::array<const char*, 8> States;   // in the order of TJobState
    const char* ShowWindow;
    const char* Abort;
    const char* Retry;                // Retry/Resume
    const char* OpenFile;
    const char* OpenFolder;
    const char* Remove;               // remove the row (never the file)
    const char* MaxDownloads;         // Options: "Downloads at the same time"
    const char* ShowDownloadWindows;  // Options
    const char* ResumeAtStart;        // Options
    const char* Waiting;              // a row whose address is looked up before it starts
    const char* Connections;          // Options: connections of one download (and to one host)
};

const TDownloadListTexts& DownloadListTexts(bool polish);

// What the program says at its start when the list file could not be read
// whole: how many rows were left out (or that it was no list at all), and
// where the file as it was is kept (empty: it could not be kept).
std::string ListLeftOutText(std::uint64_t leftOut, bool noList, const std::string& keptAs, bool polish);

// The question when addresses given to "brimtale --add" are in the list
// already: the count and the first of them.
std::string AddedAgainQuestion(std::size_t count, const std::string& first, bool polish);

// "Waiting to be opened: ADDRESS" (and how many more wait) for addresses handed
// over while the program can't open them yet.
std::string PendingAddressesText(const std::string& first, std::size_t count, bool polish);
