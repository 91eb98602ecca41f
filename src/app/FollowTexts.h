// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The windows' words for followed pages, in English and Polish.

#include <cstddef>
#include <string>

struct TFollowTexts {
    const char* chFollow;        // the dialog's list row: "Follow this list"
    const char* FollowHint;      // what following does
    const char* lblLatest;       // before the count of videos listed now that are taken too
    const char* LatestHint;
    const char* Followed;        // said after a follow: "Following %1"
    const char* FollowedAlready; // "This list is followed already."
    const char* FollowFailed;    // the list of followed pages could not be written
    const char* tabFollowing;    // the main window's view
    const char* colAddress;
    const char* colFolder;
    const char* colLastCheck;
    const char* colTaken;
    const char* btnCheckNow;
    const char* btnRemove;
    const char* CheckRunning;    // a check runs already
    const char* Checking;        // the status while a check runs
    const char* RemoveQuestion;  // "Follow %1 no more?"
};
const TFollowTexts& FollowTexts(bool polish);
// The notification of a check that found something: "3 new videos from LIST".
std::string FollowFoundText(std::size_t count, const std::string& list, bool polish);
