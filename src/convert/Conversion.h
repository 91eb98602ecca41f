// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The steps of a conversion run that need no window: file names, the encoder's
// arguments, reading its progress lines, and the error log.

#include "app/DownloadJob.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TConversionNames {
    std::string Input;          // the downloaded file, or the local source
    std::string Output;         // the job's output with TargetExt applied
    std::string EncoderOutput;  // Output with EncoderExt applied: what the encoder writes
    std::string FinalOutput;    // the name EncoderOutput is renamed to afterwards (empty: no rename)
    // Output or EncoderOutput is the input: equal without regard to letter case,
    // or two existing names of one file. No encoder may run then.
    bool SameAsInput = false;
};
TConversionNames ConversionNames(const TDownloadJob& job, bool localSource);

// Width / height with at most four decimals ("1.7778"), or "16:9" when height is 0.
std::string AspectText(std::int32_t width, std::int32_t height);

// The profile's template split into arguments first (command-line rules), then
// "%DVB", "%1", "%2" and "%ASP" (any case) filled inside each argument in one
// pass, so a path reaches the encoder as exactly one argument whatever it holds.
std::vector<std::string> BuildEncoderArgs(const std::string& params, const std::string& defaultVideoBitrate,
                                          const std::string& input, const std::string& output,
                                          const std::string& aspect);

// Lines of the encoder's banner that are never shown (the old encoder's and
// today's, including the rest of an overlong "configuration:" line).
bool IsBannerLine(const std::string& line);

struct TConversionProgress {
    std::int32_t Frames = 0;
    std::int64_t TimeSeconds = -1;  // -1: no time read yet
};
// Drops blank and banner lines from the list (from the last entry to the first)
// and reads the frame count and the time from the progress line; the time may
// be seconds ("30.00") or hours:minutes:seconds ("00:00:30.00").
TConversionProgress TrimAndReadProgress(std::vector<std::string>& lines);

// What one progress entry gives: its frame count and its time, each when it can be read.
struct TProgressReading {
    std::optional<std::int32_t> Frames;
    std::optional<std::int64_t> TimeSeconds;
};

// TrimAndReadProgress for a list that grows while the encoder runs, with the same
// result after every line, but reading only the entries added since the last
// call and the last entry (which a line ended by CR rewrites in place): the cost
// per line stays the same however long the output grows. The list must change
// only by the line collector's adding and replacing of its last entry, and by the
// reader itself.
class TProgressReader {
public:
    TConversionProgress Read(std::vector<std::string>& lines);
    // How many entries were read in all (for tests of the cost).
    std::size_t EntriesRead() const { return entriesRead_; }

private:
    std::size_t settled_ = 0;                // entries before this one no longer change
    std::vector<TProgressReading> prefix_;   // prefix_[k]: the reading of entries 0..k-1
    std::size_t entriesRead_ = 0;
};

// time * 100 / duration, rounded, limited to 0..100; 0 without a duration or time.
int ConversionPercent(std::int64_t timeSeconds, std::int32_t durationSeconds);

// Replaces the log with the date and time line and the given lines (CR LF each).
// Errors are ignored.
void WriteErrorLog(const std::string& fileName, const std::vector<std::string>& lines);
