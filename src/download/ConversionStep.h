// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One conversion from start to end, as the download window and the command line
// run it: the output takes a free name (a numbered one when the name is taken or
// is the input's), the encoder writes a hidden temporary file beside it, and only
// a conversion that ended well gives the file its name. A failed or stopped one
// removes what it wrote; the input is never touched, except by DeleteInput after
// success.

#include "app/DownloadJob.h"
#include "convert/Conversion.h"
#include "convert/MediaProbe.h"
#include "engine/ClipFiles.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TConversionTarget {
    std::string Input;
    std::string Output;   // the finished file's name; empty when no free name was found
    std::string Temp;     // what the encoder writes: ".<Output's name>.part.<encoder extension>"
};
// Takes the output's name for this conversion at once (an empty file holds it,
// so a second job gets another name) and names the temporary file.
TConversionTarget ReserveConversionTarget(const TDownloadJob& job, bool localSource);

enum class TConversionEnd { Converted, Failed, Stopped };

struct TConversionResult {
    TConversionEnd End = TConversionEnd::Failed;
    std::string File;     // Converted: the finished file
    std::string Input;
    std::string Reason;   // Failed: one line (the program's language)
    std::uint32_t ExitCode = 0;
    bool EncoderFailed = false;        // the encoder ran and failed: Lines says why
    std::vector<std::string> Lines;    // the encoder's output, banner and blank lines dropped
    TMediaInfo Info;
};

struct TConversionHooks {
    // After every line of the encoder: its process and the progress so far.
    std::function<void(int pid, const TConversionProgress& progress, int percent)> OnProgress;
    // About ten times a second while the probe or the encoder runs.
    std::function<void(int pid)> OnTick;
    // Once the input has been probed, before the encoder starts.
    std::function<void(const TMediaInfo& info, const TConversionTarget& target)> OnProbed;
    // Asked on every line and tick; yes ends the probe or the encoder.
    std::function<bool()> ShouldStop;
    // Where the encoder's lines gather while it runs (the result's Lines when none).
    std::vector<std::string>* Lines = nullptr;
};

// Probes the input, runs the encoder with the job's profile into the temporary
// file and renames it. encoder: the encoder's program ("ffmpeg" when empty).
TConversionResult RunConversion(const TDownloadJob& job, bool localSource, const std::string& encoder,
                                const std::string& defaultVideoBitrate, const TConversionHooks& hooks, bool polish);

// True when the encoder's lines say the disk is full.
bool EncoderSaysDiskFull(const std::vector<std::string>& lines);

// Cuts a downloaded media file of the program's own client to the job's part
// (its "section="), in place; nothing to do (Ok) for a job of the whole video.
TCutResult CutJobToSection(const TDownloadJob& job, const std::string& ffmpeg, const std::function<bool()>& stop,
                           bool polish);
