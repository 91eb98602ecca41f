// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Many jobs at once: one per entry of a page that lists videos, and one per
// address of a batch (several addresses pasted or dropped together). Both the
// dialog and brimtale-cli make them here.

#include "app/DownloadJob.h"
#include "plan/GetRequest.h"
#include "engine/PageList.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// The folder a list's files go into: the directory itself, or with ownFolder a
// folder inside it named after the list (its title as one safe file name; made
// when missing; a numbered name when a file has that name). The directory is
// made when missing as well. Empty when no folder could be made.
std::string ListFolder(const std::string& directory, const std::string& listTitle, bool ownFolder);

// Makes the jobs of a list's entries, one at a time and in order, each through
// the page engine with the entry's own address and a name from its title. Every
// job's output name is reserved at once (see ReserveOutputFile), so entries
// with the same title get distinct files, and so does any other job started
// meanwhile. The request gives the conversion and the YouTube format; its
// address, directory and file name are not used.
class TListJobMaker {
public:
    TListJobMaker(const TGetRequest& request, std::string folder);
    // The entry's job; false (no name taken) when none could be made.
    bool Make(const TPageListEntry& entry, TDownloadJob& job);

private:
    TGetRequest request_;
    std::string folder_;
    std::map<std::string, int> next_;  // by name: the number the next variant starts from
};

// Gives back the output name of a job that was made but will not be started.
void ReleaseMadeJob(const TDownloadJob& job);

// The addresses of a text pasted or dropped at once: one per line, trimmed;
// lines that are no address (nor an existing file) are left out, and so is a
// line seen before. At most maxCount addresses are taken.
constexpr std::size_t BatchMaxAddresses = 1000;
std::vector<std::string> BatchAddresses(const std::string& text, std::size_t maxCount = BatchMaxAddresses);

struct TAddressJob {
    bool Made = false;
    TDownloadJob Job;      // when Made: its output name reserved
    std::string Message;   // when not: why, in the program's language
    std::string Details;   // and the engine's own words about it, or empty
};
// The whole road of one address of a batch (network): the name from the page
// (or the file), the checks, the media address, the size, the name reserved.
// The request's address and file name are replaced; its directory, conversion
// and format are used. Ends early (Made false, no message) once the current
// thread's network step has ended.
TAddressJob MakeAddressJob(const std::string& address, TGetRequest request, bool polish);
