// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// brimtale-cli's part after a job was planned: its progress on the terminal,
// the download (its own client or the page engine), the conversion and the
// final name printed. Runs what the download window runs, without windows.

#include "app/DownloadJob.h"
#include "base/TransferRate.h"
#include "engine/EngineDownload.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130;

// Set by SIGINT and SIGTERM: every step ends as soon as it can.
extern std::atomic<bool> Interrupted;

// Progress on standard error: a bar rewritten in place on a terminal, a plain
// line now and then otherwise; nothing with --quiet.
class TProgress {
public:
    TProgress(bool quiet, bool polish);

    void Start();
    // Continues a transfer at a byte count (a resumed file).
    void Continue(std::int64_t from);
    void Download(std::int64_t done, std::int64_t total);
    void Converting(int percent);
    // Ends a bar's line before anything else is printed.
    void End();
    void Say(const std::string& text);

private:
    void Show(int percent, const std::string& text);

    bool quiet_;
    bool polish_;
    bool tty_;
    bool open_ = false;
    std::int64_t last_ = 0;
    TTransferRate rate_;
    TShownPercent percent_;
};

// An error line. Every text printed may hold words from outside (an engine, a
// server, a name): no terminal escape or control character of theirs reaches
// the terminal.
void Error(TProgress& progress, const std::string& text);
// The interruption said, with the partial file (or folder) that is kept; ExitInterrupted.
int Interruption(TProgress& progress, const std::string& partial, bool polish);

// The engine's progress as the terminal shows it.
std::function<void(const TEngineTally&)> EngineProgress(TProgress& progress, bool polish);
// What a run of the engine gave the job; the file's final name goes to job.OutputFile.
int EngineDownloaded(TDownloadJob& job, const TEngineRun& run, TProgress& progress, bool polish);
// Downloads the job's media into its output file (through the engine for an engine's job).
int Download(TDownloadJob& job, TProgress& progress, bool polish);
// What follows the download: the conversion, if any, and the final name printed.
int FinishJob(TDownloadJob& job, bool localSource, TProgress& progress, bool polish);
// One job whose name is reserved: downloaded (unless its source is a file on
// disk), converted when asked, its final file's path printed.
int RunJob(TDownloadJob& job, TProgress& progress, bool polish);
