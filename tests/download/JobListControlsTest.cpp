// SPDX-License-Identifier: GPL-3.0-or-later
// What the list's controls do to the queue: places in it, pause and resume,
// clearing finished rows, the batches told of once, the counts of the status
// line and the texts made of them.

#include "download/JobList.h"
#include "download/JobListTexts.h"

#include "JobListRows.h"

#include <gtest/gtest.h>

using namespace listrows;

namespace {

// A list of rows named a, b, c, ... and their ids.
std::vector<std::uint64_t> Fill(TJobList& list, const std::string& names)
{
    std::vector<std::uint64_t> ids;
    for (const char c : names)
        ids.push_back(list.Add(Row(std::string(1, c))));
    return ids;
}

std::string Order(const TJobList& list)
{
    std::string order;
    for (const TJobRow& row : list.Rows())
        order += row.Title;
    return order;
}

} // namespace

TEST(JobListPlaces, RowsMoveAsABlockAndTheQueueStartsInTheNewOrder)
{
    TJobList list;
    const auto id = Fill(list, "abcdef");
    // c and e up: each passes the row above the topmost of them.
    EXPECT_TRUE(list.MoveUp({id[2], id[4]}));
    EXPECT_EQ(Order(list), "acebdf");
    EXPECT_TRUE(list.MoveDown({id[2], id[4]}));
    EXPECT_EQ(Order(list), "abcedf");
    EXPECT_TRUE(list.MoveToTop({id[5], id[3]}));
    EXPECT_EQ(Order(list), "dfabce");
    // Nothing to move: at the top already, past the end, unknown ids.
    EXPECT_FALSE(list.MoveToTop({id[3]}));
    EXPECT_FALSE(list.MoveUp({id[3], id[5]}));
    EXPECT_FALSE(list.MoveDown({id[4]}));
    EXPECT_FALSE(list.MoveUp({999}));
    // Dropped before a row, or at the end (0, or a row that moves itself).
    EXPECT_TRUE(list.MoveBefore({id[0]}, id[3]));
    EXPECT_EQ(Order(list), "adfbce");
    EXPECT_TRUE(list.MoveBefore({id[0], id[3]}, 0));
    EXPECT_EQ(Order(list), "fbcead");
    EXPECT_FALSE(list.MoveBefore({id[3]}, id[3]));
    // Every row is still found by its id, and the queue starts in the list's order.
    for (const std::uint64_t one : id)
        EXPECT_EQ(list.Rows()[static_cast<std::size_t>(list.IndexOf(one))].Id, one);
    EXPECT_EQ(list.NextToStart(2), (std::vector<std::uint64_t>{id[5], id[1]}));
}

TEST(JobListPlaces, AMovedListKeepsItsOrderInItsFileAndNewIdsStayNew)
{
    TJobList list;
    const auto id = Fill(list, "abc");
    list.MoveToTop({id[2]});
    TJobList again;
    ASSERT_TRUE(again.Parse(list.Text()));
    EXPECT_EQ(again.LeftOut(), 0u);
    EXPECT_EQ(Order(again), "cab");
    // A new row gets an id no row has, whatever the order.
    const std::uint64_t next = again.Add(Row("d"));
    EXPECT_GT(next, id[2]);
    // The same id twice is one row too many.
    const std::string text = list.Text();
    const std::string twice = text + text.substr(text.find('\n') + 1);
    TJobList doubled;
    ASSERT_TRUE(doubled.Parse(twice));
    EXPECT_EQ(doubled.Size(), 3u);
    EXPECT_EQ(doubled.LeftOut(), 3u);
}

TEST(JobListPause, AWaitingRowPausesAtOnceAndARunningOneWhenItsProcessHasStopped)
{
    TJobList list;
    const auto id = Fill(list, "abc");
    // A waiting row: paused, keeps its place, is not started, then resumes.
    EXPECT_TRUE(list.Pause(id[0]));
    EXPECT_EQ(list.Find(id[0])->State, TJobState::Paused);
    EXPECT_EQ(list.NextToStart(3), (std::vector<std::uint64_t>{id[1], id[2]}));
    EXPECT_TRUE(list.Resume(id[0]));
    EXPECT_EQ(list.Find(id[0])->State, TJobState::Queued);
    EXPECT_EQ(Order(list), "abc");

    // A running row: its process is asked to stop; its Aborted is a pause
    // that keeps the bytes for a range request.
    list.Started(id[1], 4242, false);
    EXPECT_FALSE(list.Pause(id[1]));
    EXPECT_TRUE(list.Find(id[1])->PauseAsked);
    ASSERT_TRUE(list.Apply(Report(id[1], TJobState::Downloading, 4242, 300)));
    ASSERT_TRUE(list.Apply(Report(id[1], TJobState::Aborted, 4242, 400)));
    list.ProcessEnded(id[1]);
    const TJobRow& paused = *list.Find(id[1]);
    EXPECT_EQ(paused.State, TJobState::Paused);
    EXPECT_TRUE(paused.Resume);
    EXPECT_EQ(paused.DoneBytes, 400);
    EXPECT_FALSE(paused.PauseAsked);
    // Killed before it said anything: paused too.
    list.Started(id[2], 4343, false);
    list.Pause(id[2]);
    list.ProcessEnded(id[2]);
    EXPECT_EQ(list.Find(id[2])->State, TJobState::Paused);

    // A process can't pause a row by itself, and a pause outlives a restart.
    list.Resume(id[2]);
    list.Started(id[2], 4444, false);
    EXPECT_FALSE(list.Apply(Report(id[2], TJobState::Paused, 4444)));
    list.ProcessEnded(id[2]);
    TJobList again;
    ASSERT_TRUE(again.Parse(list.Text()));
    again.Reopened(true);
    EXPECT_EQ(again.Find(id[1])->State, TJobState::Paused);
    EXPECT_EQ(again.Find(id[2])->State, TJobState::Queued);  // interrupted, resumed at start
    // Finished rows are not paused; only paused rows resume.
    again.Find(id[0])->State = TJobState::Done;
    EXPECT_FALSE(again.Pause(id[0]));
    EXPECT_FALSE(again.Resume(id[0]));
}

TEST(JobListClear, OnlyFinishedRowsGo)
{
    TJobList list;
    const auto id = Fill(list, "abcd");
    list.Find(id[0])->State = TJobState::Done;
    list.Find(id[1])->State = TJobState::Failed;
    list.Find(id[3])->State = TJobState::Done;
    list.Find(id[3])->Running = true;  // its window is still open
    EXPECT_EQ(list.ClearFinished(), (std::vector<std::uint64_t>{id[0]}));
    EXPECT_EQ(Order(list), "bcd");
    EXPECT_EQ(list.IndexOf(id[2]), 1);
    EXPECT_TRUE(list.ClearFinished().empty());
}

TEST(JobListBatch, ABatchIsToldOnceWhenItsLastRowHasEnded)
{
    TJobList list;
    const std::uint64_t batch = list.NewBatch();
    const std::uint64_t other = list.NewBatch();
    EXPECT_NE(batch, other);
    std::vector<std::uint64_t> id;
    for (const char* name : {"a", "b", "c"}) {
        TJobRow row = Row(name);
        row.Batch = batch;
        id.push_back(list.Add(row));
    }
    TJobRow single = Row("d");
    single.Batch = other;
    const std::uint64_t alone = list.Add(single);

    EXPECT_TRUE(list.BatchOpen(batch));
    list.Find(id[0])->State = TJobState::Done;
    list.Find(id[1])->State = TJobState::Failed;
    EXPECT_FALSE(list.BatchEnded(batch));  // c waits
    list.Find(id[2])->State = TJobState::Paused;
    EXPECT_FALSE(list.BatchEnded(batch));  // a paused row will go on
    list.Find(id[2])->State = TJobState::Done;
    list.Find(id[2])->Running = true;      // ended, but its process still runs
    EXPECT_FALSE(list.BatchEnded(batch));
    list.Find(id[2])->Running = false;
    const auto end = list.BatchEnded(batch);
    ASSERT_TRUE(end);
    EXPECT_EQ(end->Done, 2);
    EXPECT_EQ(end->Failed, 1);
    EXPECT_EQ(end->Aborted, 0);
    EXPECT_FALSE(list.BatchEnded(batch));  // once
    EXPECT_FALSE(list.BatchOpen(batch));   // jobs added later make a batch of their own
    EXPECT_FALSE(list.BatchEnded(0));      // single jobs with windows of their own
    list.Find(alone)->State = TJobState::Interrupted;
    ASSERT_TRUE(list.BatchEnded(other));
}

TEST(JobListCounts, TheStatusLineCountsEveryStateAndTheBytesLeft)
{
    TJobList list;
    const auto id = Fill(list, "abcdef");
    list.Started(id[0], 11, false);
    list.Apply(Report(id[0], TJobState::Downloading, 11, 250));
    list.Find(id[0])->Speed = 1000;
    list.Find(id[1])->Size = 1000;  // waiting, nothing done
    list.Find(id[2])->State = TJobState::Paused;
    list.Find(id[3])->State = TJobState::Done;
    list.Find(id[4])->State = TJobState::Failed;
    list.Find(id[5])->State = TJobState::Aborted;
    const TJobList::TCounts counts = list.Counts();
    EXPECT_EQ(counts.Running, 1);
    EXPECT_EQ(counts.Waiting, 1);
    EXPECT_EQ(counts.Paused, 1);
    EXPECT_EQ(counts.Done, 1);
    EXPECT_EQ(counts.Failed, 2);
    EXPECT_EQ(counts.Speed, 1000);
    EXPECT_EQ(counts.Percent, 12);  // 250 of 2000 bytes
    EXPECT_EQ(ListTitleText(counts, "Brimtale 1.6"), "12 % - Brimtale 1.6");
    // A row of unknown size makes the whole unknown: no percentage at all.
    list.Add(Row("g"));
    EXPECT_EQ(list.Counts().Percent, -1);
    EXPECT_EQ(ListTitleText(list.Counts(), "Brimtale 1.6"), "Brimtale 1.6");
}

TEST(JobListTexts, CountsReadAsSentencesInBothLanguages)
{
    EXPECT_EQ(WorkLeftText(0, 0, false), "");
    EXPECT_EQ(WorkLeftText(2, 5, false).substr(0, 42), "2 downloads are running and 5 are waiting.");
    EXPECT_EQ(WorkLeftText(1, 1, false).substr(0, 39), "1 download is running and 1 is waiting.");
    EXPECT_EQ(WorkLeftText(0, 3, false).substr(0, 26), "3 downloads are waiting.\nI");
    EXPECT_NE(WorkLeftText(2, 5, true).find("2"), std::string::npos);
    EXPECT_NE(WorkLeftText(2, 5, true).find("5"), std::string::npos);

    EXPECT_EQ(BatchEndText({12, 1, 0}, "", false), "12 downloads done, 1 failed");
    EXPECT_EQ(BatchEndText({1, 0, 2}, "", false), "1 download done, 2 stopped");
    EXPECT_EQ(BatchEndText({1, 0, 0}, "clip", false), "Download done: clip");
    EXPECT_EQ(BatchEndText({0, 1, 0}, "clip", false), "Download failed: clip");
    EXPECT_EQ(BatchEndText({12, 1, 0}, "", true), "Pobrane: 12, nieudane: 1");

    TJobList::TCounts counts;
    counts.Running = 2;
    counts.Waiting = 5;
    counts.Done = 12;
    counts.Failed = 1;
    EXPECT_EQ(ListStatusText(counts, false),
              "Downloading: 2 \u00b7 Queued: 5 \u00b7 Done: 12 \u00b7 Failed: 1");
    counts.Paused = 1;
    counts.Speed = 2048;
    const std::string polish = ListStatusText(counts, true);
    EXPECT_NE(polish.find("Wstrzymane: 1"), std::string::npos);
    EXPECT_NE(polish.find("/s"), std::string::npos);
}
