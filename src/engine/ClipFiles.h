// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The files of a part of a video: the chapters the engine split a video into,
// given their own folder and names, and a downloaded media file cut to the
// part the user asked for by the encoder.

#include "engine/ClipOptions.h"

#include <functional>
#include <string>
#include <vector>

// "01 - Opening.mp4": the number of at least two digits (three when there are
// a hundred chapters or more), the title one safe file name ("Chapter N" when
// nothing of it is left).
std::string ChapterFileName(const TChapterFile& chapter, int count);

// The folder a video's chapters go into: its name without the extension, beside it.
std::string ChapterFolderFor(const std::string& video);

// Moves the chapters' files the engine left in workDir into video's folder
// (made when missing; a name that is taken gets a numbered variant, nothing is
// replaced), in the order of their numbers. Only media files are taken; the
// paths where they went. An empty folder made for nothing is removed.
std::vector<std::string> MoveChapterFiles(const std::string& workDir, const std::string& video);

struct TCutResult {
    bool Ok = false;
    bool Stopped = false;
    std::string Error;  // why not, in the program's language
};
// Cuts file (a downloaded media file) to the section with the encoder at
// ffmpeg, in place: the cut is made beside it and takes its name only when the
// encoder succeeded; the whole file stays when it failed. The cut starts and
// ends at the times asked (the video is encoded again). A section that starts
// after the media's end is refused; one that ends beyond it ends there.
TCutResult CutMediaFile(const std::string& ffmpeg, const std::string& file, const TTimeSection& section,
                        double duration, const std::function<bool()>& shouldStop, bool polish);

// What is said when the sponsor segment service could not be used: the video
// is kept whole.
std::string SponsorServiceFailedText(bool polish);
// The chapters' line: "3 chapters in FOLDER".
std::string ChaptersSavedText(std::size_t count, const std::string& folder, bool polish);
// No chapters found in the video.
std::string NoChaptersText(bool polish);
