// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A page that lists several videos (a playlist, or a page with several video
// elements): the page engine's answer read into the list's title and each
// entry's address and title. The engine is asked with --flat-playlist, so a list
// of thousands of videos is one quick answer; an entry's own page is asked only
// when it is downloaded.

#include <cstddef>
#include <string>
#include <vector>

struct TPageListEntry {
    std::string Url;    // the entry's own address (http or https)
    std::string Title;  // as the engine gave it; may be empty
    std::string Ext;    // the media's extension when the engine knew it ("mp4"), else empty
};

struct TPageList {
    bool IsList = false;   // the page is a list with at least two entries that can be downloaded
    std::string Title;     // the list's title; may be empty
    std::vector<TPageListEntry> Entries;  // in the list's order, at most PageListMaxEntries
    std::size_t Skipped = 0;  // entries without an address of their own, or beyond the limit
    bool Cut = false;         // the list had more entries than PageListMaxEntries
    bool TooLarge = false;    // the answer was beyond what is read
    std::string Error;        // why no list was read, in the engine's words (may be empty)
};

// The most entries taken from one list; the rest are left out (and counted).
constexpr std::size_t PageListMaxEntries = 10'000;

// Reads the engine's -J answer. pageUrl is the address the engine was asked
// about: an entry whose only page is that one is addressed by its media instead.
// Every field is checked: addresses must be http or https, texts are cut to a
// readable length, values of the wrong kind count as missing.
TPageList ParsePageList(const std::string& json, const std::string& pageUrl);

// The engine's arguments for the list of an address.
std::vector<std::string> PageListArgs(const std::string& url);

// Asks the engine for the list (network, a child process). It ends at the
// current thread's network-step deadline or cancel, and after PageLookUpSeconds
// at the latest. No engine, or no list: IsList false.
TPageList LookUpPageList(const std::string& url);
