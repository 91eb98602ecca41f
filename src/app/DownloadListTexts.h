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
    std::array<const char*, 7> Columns;  // place in the queue, title, state, size, percentage, speed, time left
    std::array<const char*, 9> States;   // in the order of TJobState
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
    const char* Pause;                // Pause / Resume of a row (Space)
    const char* Resume;
    const char* MoveUp;
    const char* MoveDown;
    const char* MoveToTop;
    const char* ClearFinished;        // removes the rows of finished jobs
    const char* Filter;               // the filter field's placeholder
    const char* Quit;                 // the question when the window closes with work left
    const char* KeepRunning;
    const char* Cancel;
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
