// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a download process started from the list tells the program about its job,
// and what the program asks of it, over the program's local socket. Both are
// lines of text, versioned by their first word:
//
//   BMR1 ID STATE DONE TOTAL SPEED LEFT PID FILE\n     a report (process -> program)
//   BMC1 ID COMMAND\n                                  a command (program -> process)
//
// ID, DONE, TOTAL, SPEED and PID are decimal numbers (bytes, bytes a second);
// LEFT is seconds or "-" when unknown; STATE is a state's name (queued,
// downloading, ...); FILE is the output file with every byte below "!", above
// "~", "%" and "\\" written as %HH. A line is at most ReportLineMax bytes;
// anything else (another version, a field too many or too few, a number that
// is none or too large) is no report at all.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Paused is the list's own: the user stopped the job and it keeps its bytes
// and its place until resumed (no process ever reports it).
enum class TJobState { Queued, Downloading, Merging, Converting, Done, Failed, Aborted, Interrupted, Paused };

// "queued", "downloading", ... (the names of the line and of the list file).
const char* JobStateName(TJobState state);
std::optional<TJobState> JobStateFromName(std::string_view name);
// Done, Failed, Aborted and Paused: the job's process has nothing more to do.
bool JobStateEnded(TJobState state);
// Downloading, Merging and Converting.
bool JobStateWorking(TJobState state);

constexpr std::size_t ReportLineMax = 2048;
// A job's process sends at most this many progress reports a second; a change
// of state always goes.
constexpr int ReportsPerSecond = 4;

struct TJobReport {
    std::uint64_t Id = 0;
    TJobState State = TJobState::Downloading;
    std::int64_t Done = 0;
    std::int64_t Total = 0;         // 0: unknown
    std::int64_t Speed = 0;         // bytes a second
    std::int64_t SecondsLeft = -1;  // -1: unknown
    std::int64_t Pid = 0;
    std::string File;               // the output file as it is now (the engine may rename it)

    bool operator==(const TJobReport&) const = default;
};

// The line for a report, "\n" included; empty when it would be longer than
// ReportLineMax (a file name of that length is not sent).
std::string FormatJobReport(const TJobReport& report);
// A line without its "\n"; nothing for anything that is not a whole report.
std::optional<TJobReport> ParseJobReport(std::string_view line);

enum class TJobCommand { Show, Abort };
std::string FormatJobCommand(std::uint64_t id, TJobCommand command);
// The command for this job, nothing for any other line.
std::optional<TJobCommand> ParseJobCommand(std::string_view line, std::uint64_t id);

// Cuts a stream of bytes into lines of at most ReportLineMax bytes. A longer
// line makes the stream bad for good (its sender is not listened to any more).
class TLineReader {
public:
    // The whole lines the bytes complete (without "\n").
    std::vector<std::string> Add(const char* data, std::size_t size);
    bool Bad() const { return bad_; }

private:
    std::string partial_;
    bool bad_ = false;
};

// At most perSecond reports a second, a change of state always.
class TReportPacer {
public:
    explicit TReportPacer(int perSecond = ReportsPerSecond) : intervalMs_(1000 / perSecond) {}
    bool Allow(TJobState state, std::int64_t nowMs);

private:
    std::int64_t intervalMs_;
    std::optional<TJobState> last_;
    std::int64_t lastMs_ = 0;
};

// Escapes and unescapes FILE (and the list file's fields).
std::string EscapeField(std::string_view text);
std::optional<std::string> UnescapeField(std::string_view text);
