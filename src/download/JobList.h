// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The list of every job the program has been given: a row per job, the queue
// rule (at most MaxDownloads jobs run, the others wait as Queued and start in
// the order they came), and the list file in the data folder that keeps the
// list over a crash.

#include "app/DownloadJob.h"
#include "download/JobReport.h"

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <optional>
#include <string>
#include <vector>

// What "brimtale --add" gives for an address the dialog never saw: it is looked
// up when its turn comes (see ResolveAddedJob).
struct TAddedAddress {
    std::string Address;
    std::string Directory;  // empty: the last directory
    std::string Format;     // empty: the dialog's last YouTube format
    std::string Profile;    // empty: the dialog's last choice (converting or not)
    bool Playlist = false;  // every entry of a list page

    bool operator==(const TAddedAddress&) const = default;
};

struct TJobRow {
    std::uint64_t Id = 0;
    std::string Title;
    TDownloadJob Job;                 // the "-get" job; empty (Switch "") while Added waits for its look-up
    std::optional<TAddedAddress> Added;
    TJobState State = TJobState::Queued;
    std::int64_t Size = 0;            // bytes, 0 when unknown
    std::int64_t DoneBytes = 0;
    std::int64_t Speed = 0;           // bytes a second
    std::int64_t SecondsLeft = -1;    // -1: unknown
    std::int64_t Pid = 0;             // the job's process while it runs
    bool Running = false;             // holds a place in the queue (started, or being looked up)
    bool Resume = false;              // the next start continues what is on disk
    bool WindowShown = true;          // its process was started with its window shown
    bool OpensWindow = false;         // a single job of the dialog: its process shows its window by itself
    bool PauseAsked = false;          // Pause was pressed while it ran: its end is a pause
    std::uint64_t Batch = 0;          // jobs that came as many share a number (0: a single job)
    std::string Message;              // why it failed, when the program knows
    std::string Details;              // the engine's own words about it (not kept in the list file)

    // 0..100, -1 when the size is unknown.
    int Percent() const;
};

class TJobList {
public:
    static constexpr std::size_t RowsMax = 100000;

    // Adds a queued row; its id (0 when the list is full).
    std::uint64_t Add(TJobRow row);
    bool Remove(std::uint64_t id);
    TJobRow* Find(std::uint64_t id);
    const TJobRow* Find(std::uint64_t id) const;
    // The row's place in Rows(), -1 when there is none.
    long IndexOf(std::uint64_t id) const;
    const std::vector<TJobRow>& Rows() const { return rows_; }
    std::size_t Size() const { return rows_.size(); }

    // Rows that hold a place in the queue.
    int RunningCount() const;

    // Moves the rows (in their order in the list) to stand together before
    // the row before (at the end when it is 0; where it is when it is one of
    // them); false when nothing moved. The queue starts rows in the list's order.
    bool MoveBefore(const std::vector<std::uint64_t>& ids, std::uint64_t before);
    // One place up or down (a block of rows moves past its neighbour), or to the top.
    bool MoveUp(const std::vector<std::uint64_t>& ids);
    bool MoveDown(const std::vector<std::uint64_t>& ids);
    bool MoveToTop(const std::vector<std::uint64_t>& ids);
    // Removes every finished (Done) row; their ids.
    std::vector<std::uint64_t> ClearFinished();

    // Pause: a waiting row is Paused at once (true); a running one is asked
    // to end (PauseAsked: its Aborted becomes Paused). Resume: queued again,
    // continuing its bytes, in its place.
    bool Pause(std::uint64_t id);
    bool Resume(std::uint64_t id);

    // A new number for jobs that come as many.
    std::uint64_t NewBatch() { return nextBatch_++; }
    // How the jobs of a batch ended, once every row of it has ended (paused
    // ones have not), and only once.
    struct TBatchEnd {
        int Done = 0;
        int Failed = 0;   // Failed and Interrupted
        int Aborted = 0;
    };
    std::optional<TBatchEnd> BatchEnded(std::uint64_t batch);
    // True while some row of the batch has not ended (jobs added now may join it).
    bool BatchOpen(std::uint64_t batch) const;

    // What the list holds now, for the status line and the closing question.
    struct TCounts {
        int Running = 0;   // rows that hold a place: their processes run, or their look-ups
        int Waiting = 0;   // queued rows waiting for a place
        int Paused = 0;
        int Done = 0;
        int Failed = 0;    // failed, aborted, interrupted
        std::int64_t Speed = 0;
        int Percent = -1;  // of the bytes of the rows that work or wait, -1 when unknown
    };
    TCounts Counts() const;
    // True when a row was made for this address (given to --add, or the page
    // of a job), whatever its state.
    bool HasAddress(const std::string& address) const;
    // The queued rows that may start now, in their order: as many as
    // maxDownloads leaves free places.
    std::vector<std::uint64_t> NextToStart(int maxDownloads) const;

    // The job's process has started (pid > 0), or its look-up has (pid 0).
    void Started(std::uint64_t id, std::int64_t pid, bool windowShown);
    // A report from the job's process; false (nothing changed) when it is not
    // for a row whose process runs, or would take the row back to Queued.
    bool Apply(const TJobReport& report);
    // The job's process has ended: a job that had not ended is Interrupted.
    void ProcessEnded(std::uint64_t id);
    // Retry/Resume: queued again, continuing the bytes on disk.
    bool Requeue(std::uint64_t id);
    // The job could not start (its look-up failed): Failed with the reason,
    // and the engine's own words about it when it gave any.
    void StartFailed(std::uint64_t id, const std::string& message, const std::string& details = {});

    // After a start of the program: a row whose process still runs
    // (stillRuns) is followed again; every other row that had not ended is
    // Interrupted and holds no place, and resume queues them again.
    void Reopened(bool resume, const std::function<bool(const TJobRow&)>& stillRuns = {});

    // The list file's text, and the list from one. A damaged row is left out
    // (and counted in LeftOut), and so is every row past RowsMax; a text that
    // is not a list file at all gives false and an empty list.
    std::string Text() const;
    bool Parse(const std::string& text);
    std::size_t LeftOut() const { return leftOut_; }

private:
    void Reindexed() const;

    std::vector<TJobRow> rows_;
    std::uint64_t nextId_ = 1;
    std::uint64_t nextBatch_ = 1;
    std::vector<std::uint64_t> toldBatches_;
    std::size_t leftOut_ = 0;
    // Where each id is in rows_ (rows may be moved, so ids are in any order).
    mutable std::unordered_map<std::uint64_t, std::size_t> index_;
    mutable bool indexStale_ = true;
};

// Before a row's job starts: a download writes only the file it reserved. A
// file that has gone is made again at its name (the job starts over in it).
// Another file at the name, or the job's file with fewer bytes than the job
// wrote, is left alone: false, and the row is Failed with "The file was
// changed outside Brimtale: PATH". Jobs through the engine (their files are
// in their own work folder) and conversions of a file on disk pass.
bool CheckRowOutput(TJobRow& row, bool polish);

// The list file: "bmt_downloads.txt" in the data folder.
std::string JobListFile();
// What reading the list file came to, besides the list.
struct TListLoad {
    std::uint64_t LeftOut = 0;  // rows that could not be read, or were too many
    bool NoList = false;        // the file is no list at all: nothing was taken
    std::string KeptAs;         // where the file as it was is kept (empty: nowhere, nothing was lost)
};
// Reads the list file (a missing one is an empty list): the rows it can, up
// to RowsMax, from at most its first ListFileMax bytes. When anything was left
// out, the file as it was is kept as "<file>.damaged" (or a free numbered
// name beside it), since the list is written anew without it.
TJobList LoadJobList(const std::string& fileName, TListLoad& load);
TJobList LoadJobList(const std::string& fileName);
// Writes the whole list under the settings' lock, atomically; false when it
// could not be written (a full disk): the old file stays whole.
bool SaveJobList(const std::string& fileName, const TJobList& list);

// The "-get" arguments of a job started from the list: the job's own (with the
// sender's Auto close), then "list", its id, "1"/"0" for a shown window, "1"/"0"
// for continuing the file.
std::vector<std::string> ListedJobArgs(const TDownloadJob& job, std::uint64_t id, bool showWindow, bool resume,
                                       bool autoClose = false);

struct TListedStart {
    std::uint64_t Id = 0;
    bool ShowWindow = true;
    bool Resume = false;
};
// What a "-get" command line (args[0] the program) says about the list; nothing
// for a job not started from the list.
std::optional<TListedStart> ListedStartOf(const std::vector<std::string>& args);
// True when the process pid runs the list's job id (its command line says so).
bool ProcessRunsListedJob(std::int64_t pid, std::uint64_t id);
