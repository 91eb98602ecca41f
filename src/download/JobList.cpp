// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/JobList.h"

#include "app/IniFile.h"
#include "app/ProgramValues.h"
#include "download/GetMainTexts.h"
#include "system/OutputFiles.h"
#include "net/SegmentedDownload.h"
#include "net/ZQ_Internet.h"
#include "system/ZQ_FileSystem.h"
#include "base/ZQ_Strings.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace {

const std::string ListHeader = "BrimtaleJobs 1";
constexpr std::size_t ListFileMax = 64 * 1024 * 1024;
constexpr std::size_t RowLineMax = 64 * 1024;
constexpr std::size_t JobArgsMax = 32;

std::string Flag(bool value)
{
    return value ? "1" : "0";
}

// A job's file may change its name as the job goes on: the engine gives it the
// extension of what it made, and a conversion writes "NAME.EXT" or a free
// "NAME_NN.EXT" beside it. Nothing else: a report can't point a row at a file
// of another folder or another name.
bool IsRenamedOutput(const std::string& output, const std::string& reported)
{
    if (reported == output)
        return true;
    if (ExtractFileDir(reported) != ExtractFileDir(output) || ExtractFileDir(output).empty())
        return false;
    const auto stem = [](const std::string& path) {
        const std::string name = ExtractFileName(path);
        const std::size_t dot = name.rfind('.');
        return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    };
    const std::string was = stem(output);
    const std::string now = stem(reported);
    if (was.empty() || now.rfind(was, 0) != 0 || ExtractFileName(reported).find('/') != std::string::npos)
        return false;
    const std::string number = now.substr(was.size());
    if (number.empty())
        return true;
    return number.size() >= 3 && number[0] == '_' &&
           number.find_first_not_of("0123456789", 1) == std::string::npos;
}

std::optional<TJobRow> RowFromLine(const std::string& line)
{
    if (line.size() > RowLineMax)
        return std::nullopt;
    const std::vector<std::string> f = SplitAtEach(line, ' ');
    // row ID STATE SIZE DONE RESUME PID TITLE MESSAGE ADDED ADDRESS DIR FORMAT PROFILE PLAYLIST COUNT ARGS...
    if (f.size() < 16 || f[0] != "row")
        return std::nullopt;
    std::vector<std::string> text;
    for (std::size_t i = 7; i < f.size(); ++i) {
        const auto field = UnescapeField(f[i]);
        if (!field)
            return std::nullopt;
        text.push_back(*field);
    }
    const auto id = DecimalDigits(f[1]);
    const auto state = JobStateFromName(f[2]);
    const auto size = DecimalDigits(f[3]);
    const auto done = DecimalDigits(f[4]);
    const auto pid = DecimalDigits(f[6]);
    const auto count = DecimalDigits(f[15]);
    if (!id || *id == 0 || !state || !size || !done || (f[5] != "0" && f[5] != "1") || !pid || !count ||
        static_cast<std::size_t>(*count) > JobArgsMax || f.size() != 16 + static_cast<std::size_t>(*count))
        return std::nullopt;
    TJobRow row;
    row.Id = static_cast<std::uint64_t>(*id);
    row.State = *state;
    row.Size = *size;
    row.DoneBytes = *done;
    row.Resume = f[5] == "1";
    row.Pid = *pid;
    row.Title = text[0];
    row.Message = text[1];
    if (text[2] == "1") {
        row.Added = TAddedAddress{text[3], text[4], text[5], text[6], text[7] == "1"};
        if (row.Added->Address.empty())
            return std::nullopt;
    } else if (text[2] != "0") {
        return std::nullopt;
    }
    if (*count > 0) {
        std::vector<std::string> args = {"brimtale"};
        args.insert(args.end(), text.begin() + 9, text.end());
        row.Job = JobFromArgs(args);
        if (!IsJobValid(row.Job))
            return std::nullopt;
    } else if (!row.Added) {
        return std::nullopt;  // nothing to start it from
    }
    return row;
}

} // namespace

int TJobRow::Percent() const
{
    if (Size <= 0)
        return -1;
    // In floating point: a report may carry any count up to 18 digits.
    return static_cast<int>(std::clamp(static_cast<double>(DoneBytes) * 100.0 / static_cast<double>(Size), 0.0, 100.0));
}

std::uint64_t TJobList::Add(TJobRow row)
{
    if (rows_.size() >= RowsMax)
        return 0;
    row.Id = nextId_++;
    row.State = TJobState::Queued;
    row.Running = false;
    row.Pid = 0;
    rows_.push_back(std::move(row));
    if (!indexStale_)
        index_[rows_.back().Id] = rows_.size() - 1;
    return rows_.back().Id;
}

bool TJobList::Remove(std::uint64_t id)
{
    const long index = IndexOf(id);
    if (index < 0)
        return false;
    rows_.erase(rows_.begin() + index);
    indexStale_ = true;
    return true;
}

void TJobList::Reindexed() const
{
    index_.clear();
    index_.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i)
        index_[rows_[i].Id] = i;
    indexStale_ = false;
}

long TJobList::IndexOf(std::uint64_t id) const
{
    if (indexStale_)
        Reindexed();
    const auto it = index_.find(id);
    return it == index_.end() ? -1 : static_cast<long>(it->second);
}

bool TJobList::MoveBefore(const std::vector<std::uint64_t>& ids, std::uint64_t before)
{
    std::vector<bool> moving(rows_.size(), false);
    for (const std::uint64_t id : ids)
        if (const long index = IndexOf(id); index >= 0)
            moving[static_cast<std::size_t>(index)] = true;
    std::vector<std::size_t> kept;
    std::vector<std::size_t> moved;
    for (std::size_t i = 0; i < rows_.size(); ++i)
        (moving[i] ? moved : kept).push_back(i);
    if (moved.empty())
        return false;
    // Before one of themselves: they stay where that one is.
    if (const long self = IndexOf(before); self >= 0 && moving[static_cast<std::size_t>(self)]) {
        before = 0;
        for (std::size_t i = static_cast<std::size_t>(self); i < rows_.size() && before == 0; ++i)
            if (!moving[i])
                before = rows_[i].Id;
    }
    const auto at = std::find_if(kept.begin(), kept.end(), [&](std::size_t i) { return rows_[i].Id == before; });
    std::vector<std::size_t> order(kept.begin(), at);
    order.insert(order.end(), moved.begin(), moved.end());
    order.insert(order.end(), at, kept.end());
    bool changed = false;
    for (std::size_t i = 0; i < order.size(); ++i)
        changed = changed || order[i] != i;
    if (!changed)
        return false;
    std::vector<TJobRow> rows;
    rows.reserve(rows_.size());
    for (const std::size_t i : order)
        rows.push_back(std::move(rows_[i]));
    rows_ = std::move(rows);
    indexStale_ = true;
    return true;
}

bool TJobList::MoveUp(const std::vector<std::uint64_t>& ids)
{
    // Before the first row above the topmost of them that is not one of them.
    long top = -1;
    for (const std::uint64_t id : ids)
        if (const long index = IndexOf(id); index >= 0 && (top < 0 || index < top))
            top = index;
    if (top <= 0)
        return false;
    return MoveBefore(ids, rows_[static_cast<std::size_t>(top - 1)].Id);
}

bool TJobList::MoveDown(const std::vector<std::uint64_t>& ids)
{
    // After the first row below the lowest of them.
    long bottom = -1;
    for (const std::uint64_t id : ids)
        bottom = std::max(bottom, IndexOf(id));
    if (bottom < 0 || static_cast<std::size_t>(bottom) + 1 >= rows_.size())
        return false;
    const std::size_t after = static_cast<std::size_t>(bottom) + 1;
    return MoveBefore(ids, after + 1 < rows_.size() ? rows_[after + 1].Id : 0);
}

bool TJobList::MoveToTop(const std::vector<std::uint64_t>& ids)
{
    return !rows_.empty() && MoveBefore(ids, rows_.front().Id);
}

std::vector<std::uint64_t> TJobList::ClearFinished()
{
    std::vector<std::uint64_t> gone;
    std::vector<TJobRow> rows;
    rows.reserve(rows_.size());
    for (TJobRow& row : rows_) {
        if (row.State == TJobState::Done && !row.Running)
            gone.push_back(row.Id);
        else
            rows.push_back(std::move(row));
    }
    if (!gone.empty()) {
        rows_ = std::move(rows);
        indexStale_ = true;
    }
    return gone;
}

bool TJobList::Pause(std::uint64_t id)
{
    TJobRow* row = Find(id);
    if (!row || JobStateEnded(row->State) || row->State == TJobState::Interrupted)
        return false;
    if (!row->Running) {
        row->State = TJobState::Paused;
        row->Resume = !row->Job.Switch.empty();
        return true;
    }
    row->PauseAsked = true;
    return false;
}

bool TJobList::Resume(std::uint64_t id)
{
    const TJobRow* row = Find(id);
    return row && row->State == TJobState::Paused && Requeue(id);
}

std::optional<TJobList::TBatchEnd> TJobList::BatchEnded(std::uint64_t batch)
{
    if (batch == 0 || std::find(toldBatches_.begin(), toldBatches_.end(), batch) != toldBatches_.end())
        return std::nullopt;
    TBatchEnd end;
    for (const TJobRow& row : rows_) {
        if (row.Batch != batch)
            continue;
        const bool over = !row.Running && row.State != TJobState::Paused &&
                          (JobStateEnded(row.State) || row.State == TJobState::Interrupted);
        if (!over)
            return std::nullopt;
        if (row.State == TJobState::Done)
            ++end.Done;
        else if (row.State == TJobState::Aborted)
            ++end.Aborted;
        else
            ++end.Failed;
    }
    if (end.Done + end.Failed + end.Aborted == 0)
        return std::nullopt;
    toldBatches_.push_back(batch);
    return end;
}

bool TJobList::BatchOpen(std::uint64_t batch) const
{
    if (batch == 0 || std::find(toldBatches_.begin(), toldBatches_.end(), batch) != toldBatches_.end())
        return false;
    return std::any_of(rows_.begin(), rows_.end(), [batch](const TJobRow& row) {
        return row.Batch == batch && (row.Running || row.State == TJobState::Queued || JobStateWorking(row.State));
    });
}

TJobList::TCounts TJobList::Counts() const
{
    TCounts counts;
    std::int64_t done = 0;
    std::int64_t total = 0;
    bool unknown = false;
    for (const TJobRow& row : rows_) {
        if (row.Running)
            ++counts.Running;
        else if (row.State == TJobState::Queued)
            ++counts.Waiting;
        else if (row.State == TJobState::Paused)
            ++counts.Paused;
        else if (row.State == TJobState::Done)
            ++counts.Done;
        else
            ++counts.Failed;
        if (row.Running)
            counts.Speed += std::max<std::int64_t>(0, row.Speed);
        if (row.Running || row.State == TJobState::Queued) {
            if (row.Size > 0) {
                total += row.Size;
                done += std::clamp<std::int64_t>(row.DoneBytes, 0, row.Size);
            } else {
                unknown = true;
            }
        }
    }
    if (total > 0 && !unknown)
        counts.Percent = static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total));
    return counts;
}

TJobRow* TJobList::Find(std::uint64_t id)
{
    const long index = IndexOf(id);
    return index < 0 ? nullptr : &rows_[static_cast<std::size_t>(index)];
}

const TJobRow* TJobList::Find(std::uint64_t id) const
{
    const long index = IndexOf(id);
    return index < 0 ? nullptr : &rows_[static_cast<std::size_t>(index)];
}

int TJobList::RunningCount() const
{
    return static_cast<int>(std::count_if(rows_.begin(), rows_.end(), [](const TJobRow& r) { return r.Running; }));
}

std::vector<std::uint64_t> TJobList::NextToStart(int maxDownloads) const
{
    std::vector<std::uint64_t> ids;
    int free = std::max(1, maxDownloads) - RunningCount();
    for (const TJobRow& row : rows_) {
        if (free <= 0)
            break;
        if (row.State == TJobState::Queued && !row.Running) {
            ids.push_back(row.Id);
            --free;
        }
    }
    return ids;
}

bool TJobList::HasAddress(const std::string& address) const
{
    const std::string wanted = Trim(address);
    if (wanted.empty())
        return false;
    return std::any_of(rows_.begin(), rows_.end(), [&wanted](const TJobRow& row) {
        return (row.Added && Trim(row.Added->Address) == wanted) || Trim(row.Job.Source) == wanted;
    });
}

void TJobList::Started(std::uint64_t id, std::int64_t pid, bool windowShown)
{
    if (TJobRow* row = Find(id)) {
        row->Running = true;
        row->Pid = pid;
        row->WindowShown = windowShown;
        row->Message.clear();
        row->Details.clear();
    }
}

bool TJobList::Apply(const TJobReport& report)
{
    TJobRow* row = Find(report.Id);
    if (!row || !row->Running || report.State == TJobState::Queued || report.State == TJobState::Interrupted ||
        report.State == TJobState::Paused)
        return false;
    if (row->Pid > 0 && report.Pid != row->Pid)
        return false;  // not the process this row started
    // A pause is an abort the user means to resume.
    row->State = report.State == TJobState::Aborted && row->PauseAsked ? TJobState::Paused : report.State;
    row->DoneBytes = report.Done;
    if (report.Total > 0)
        row->Size = report.Total;
    row->Speed = report.Speed;
    row->SecondsLeft = report.SecondsLeft;
    if (!report.File.empty() && IsRenamedOutput(row->Job.OutputFile, report.File))
        row->Job.OutputFile = report.File;
    if (JobStateEnded(report.State)) {
        row->Speed = 0;
        row->SecondsLeft = -1;
        row->Resume = report.State != TJobState::Done;
        row->PauseAsked = false;
        // A window the user sees may stay open as long as the user likes: its
        // place goes to the next job now. A hidden one ends by itself.
        if (row->WindowShown)
            row->Running = false;
    }
    return true;
}

void TJobList::ProcessEnded(std::uint64_t id)
{
    TJobRow* row = Find(id);
    if (!row)
        return;
    row->Running = false;
    row->Pid = 0;
    row->Speed = 0;
    row->SecondsLeft = -1;
    if (!JobStateEnded(row->State)) {
        row->State = row->PauseAsked ? TJobState::Paused : TJobState::Interrupted;
        row->Resume = true;
    }
    row->PauseAsked = false;
}

bool TJobList::Requeue(std::uint64_t id)
{
    TJobRow* row = Find(id);
    if (!row || row->Running || row->State == TJobState::Queued || row->State == TJobState::Done)
        return false;
    row->State = TJobState::Queued;
    row->Resume = !row->Job.Switch.empty();
    row->PauseAsked = false;
    row->Message.clear();
    row->Details.clear();
    return true;
}

void TJobList::StartFailed(std::uint64_t id, const std::string& message, const std::string& details)
{
    if (TJobRow* row = Find(id)) {
        row->Running = false;
        row->Pid = 0;
        row->State = TJobState::Failed;
        row->Message = message;
        row->Details = details;
    }
}

void TJobList::Reopened(bool resume, const std::function<bool(const TJobRow&)>& stillRuns)
{
    for (TJobRow& row : rows_) {
        // A process that outlived the program that started it goes on, and is
        // followed again.
        if (!JobStateEnded(row.State) && row.Pid > 0 && stillRuns && stillRuns(row)) {
            row.Running = true;
            continue;
        }
        row.Running = false;
        row.Pid = 0;
        row.Speed = 0;
        row.SecondsLeft = -1;
        if (JobStateEnded(row.State))
            continue;
        row.State = TJobState::Interrupted;
        if (resume)
            Requeue(row.Id);
    }
}

std::string TJobList::Text() const
{
    std::string text = ListHeader + "\n";
    for (const TJobRow& row : rows_) {
        const TAddedAddress added = row.Added.value_or(TAddedAddress{});
        std::string line = "row " + std::to_string(row.Id) + " " + JobStateName(row.State) + " " +
                           std::to_string(std::max<std::int64_t>(0, row.Size)) + " " +
                           std::to_string(std::max<std::int64_t>(0, row.DoneBytes)) + " " + Flag(row.Resume) + " " +
                           std::to_string(row.Running ? std::max<std::int64_t>(0, row.Pid) : 0);
        for (const std::string& field : {row.Title, row.Message, Flag(row.Added.has_value()), added.Address,
                                         added.Directory, added.Format, added.Profile, Flag(added.Playlist)})
            line += " " + EscapeField(field);
        const std::vector<std::string> args =
            row.Job.Switch.empty() ? std::vector<std::string>{} : JobToArgs(row.Job, false);
        line += " " + std::to_string(args.size());
        for (const std::string& arg : args)
            line += " " + EscapeField(arg);
        text += line + "\n";
    }
    return text;
}

bool TJobList::Parse(const std::string& text)
{
    rows_.clear();
    indexStale_ = true;
    nextId_ = 1;
    leftOut_ = 0;
    std::unordered_set<std::uint64_t> seen;
    std::size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();  // a last line without its end: cut short, left out below unless whole
        const std::string line = text.substr(start, end - start);
        const bool whole = end < text.size();
        start = end + 1;
        if (first) {
            first = false;
            if (line != ListHeader)
                return false;
            continue;
        }
        if (!whole || rows_.size() >= RowsMax) {
            ++leftOut_;
            continue;
        }
        std::optional<TJobRow> row = RowFromLine(line);
        // Rows may have been moved: their ids come in any order, but once each.
        if (!row || !seen.insert(row->Id).second) {
            ++leftOut_;
            continue;
        }
        nextId_ = std::max(nextId_, row->Id + 1);
        rows_.push_back(std::move(*row));
    }
    return !first;
}

bool CheckRowOutput(TJobRow& row, bool polish)
{
    TDownloadJob& job = row.Job;
    if (job.Switch.empty() || job.ThroughEngine || job.MediaUrl.empty() || job.MediaUrl == "-")
        return true;
    const std::string& path = job.OutputFile;
    const std::optional<TFileId> now = FileIdOf(path);
    bool ours = false;
    if (!now && !PathExists(path)) {
        // Gone: the job starts over in a file of its own.
        job.OutputId = RemakeOutputFile(path);
        ours = job.OutputId.has_value();
        row.Resume = false;
        row.DoneBytes = 0;
    } else if (now && job.OutputId) {
        // Its own file, with the bytes it said it wrote (less what a killed
        // process still held to write); a job that starts from the beginning
        // finds it as it was reserved: empty.
        const std::int64_t size = FileSizeOf(path);
        const std::int64_t unwritten = TInet::FileChunk * TInet::WriteBatchChunks;
        // A file fetched over several connections has its full size at once,
        // its state beside it.
        ours = *now == *job.OutputId &&
               (row.Resume ? size + unwritten >= row.DoneBytes : size == 0 || HasSegmentState(path));
    } else if (now && FileSizeOf(path) == 0) {
        // A row of a list written before jobs knew their files: an empty
        // file holds nothing to lose, and becomes the job's.
        job.OutputId = now;
        ours = true;
    }
    if (!ours) {
        row.Running = false;
        row.Pid = 0;
        row.State = TJobState::Failed;
        row.Message = FileChangedText(path, polish);
    }
    return ours;
}

std::string JobListFile()
{
    return DataDir + "/bmt_downloads.txt";
}

TJobList LoadJobList(const std::string& fileName, TListLoad& load)
{
    load = TListLoad{};
    TJobList list;
    if (!FileExists(fileName))
        return list;
    std::uint64_t beyond = 0;
    const TWholeFile file = ReadFileLines(fileName, ListFileMax, beyond);
    load.NoList = !file.Ok() || !list.Parse(file.Text);
    if (load.NoList)
        list = TJobList{};
    else
        load.LeftOut = list.LeftOut() + beyond;
    if (load.NoList || load.LeftOut > 0) {
        // Kept for a look by hand: the list is written anew without what was left out.
        const std::string aside = GetUniqueFileName(fileName + ".damaged");
        if (!aside.empty() && std::rename(fileName.c_str(), aside.c_str()) == 0)
            load.KeptAs = aside;
    }
    return list;
}

TJobList LoadJobList(const std::string& fileName)
{
    TListLoad load;
    return LoadJobList(fileName, load);
}

bool SaveJobList(const std::string& fileName, const TJobList& list)
{
    return WriteFileAtomically(fileName, list.Text());
}

std::vector<std::string> ListedJobArgs(const TDownloadJob& job, std::uint64_t id, bool showWindow, bool resume,
                                       bool autoClose)
{
    std::vector<std::string> args = JobToArgs(job, autoClose);
    args.emplace_back("list");
    args.push_back(std::to_string(id));
    args.push_back(Flag(showWindow));
    args.push_back(Flag(resume));
    return args;
}

std::optional<TListedStart> ListedStartOf(const std::vector<std::string>& args)
{
    // After the eleven fields (and the engine's three) and the job's options
    // ("NAME=VALUE"), as the last four.
    std::size_t first = 12;
    if (args.size() > first && args[first] == "engine")
        first += 3;
    if (args.size() < first + 4 || args[args.size() - 4] != "list")
        return std::nullopt;
    const std::size_t at = args.size() - 4;
    for (std::size_t i = first; i < at; ++i)
        if (args[i].find('=') == std::string::npos)
            return std::nullopt;
    const auto id = DecimalDigits(args[at + 1]);
    if (!id || *id == 0 || (args[at + 2] != "0" && args[at + 2] != "1") || (args[at + 3] != "0" && args[at + 3] != "1"))
        return std::nullopt;
    return TListedStart{static_cast<std::uint64_t>(*id), args[at + 2] == "1", args[at + 3] == "1"};
}

bool ProcessRunsListedJob(std::int64_t pid, std::uint64_t id)
{
    if (pid <= 0)
        return false;
    const TWholeFile cmdline = ReadWholeFile("/proc/" + std::to_string(pid) + "/cmdline", 1024 * 1024);
    if (!cmdline.Ok())
        return false;
    const std::string& text = cmdline.Text;
    std::vector<std::string> args;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\0', start);
        args.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    const std::optional<TListedStart> listed = ListedStartOf(args);
    return listed && listed->Id == id && JobFromArgs(args).Switch == "-get";
}
