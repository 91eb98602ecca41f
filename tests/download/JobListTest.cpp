// SPDX-License-Identifier: GPL-3.0-or-later
// The job list, its queue rule, its file, and the report line protocol.

#include "plan/AddedJob.h"
#include "download/JobList.h"
#include "download/JobReport.h"

#include "JobListRows.h"
#include "support/TempDir.h"
#include "app/IniFile.h"
#include "system/ZQ_FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace listrows;

TEST(JobReportLine, RoundTripsEveryField)
{
    TJobReport r = Report(42, TJobState::Merging, 1234, 500);
    r.Speed = 70000;
    r.SecondsLeft = 9;
    r.File = "/home/u/My videos/100% \"clip\"\n$(rm -rf).mp4 \xC5\x82\\";
    const std::string line = FormatJobReport(r);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const auto back = ParseJobReport(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, r);
    r.SecondsLeft = -1;
    const std::string unknown = FormatJobReport(r);
    EXPECT_EQ(ParseJobReport(std::string_view(unknown).substr(0, unknown.size() - 1))->SecondsLeft, -1);
}

TEST(JobReportLine, RejectsWhatIsNotAWholeReport)
{
    const std::string good = "BMR1 7 downloading 10 100 5 3 99 %2Ftmp%2Fa";
    ASSERT_TRUE(ParseJobReport(good));
    for (const std::string bad : {
             "", "BMR2 7 downloading 10 100 5 3 99 x", "bmr1 7 downloading 10 100 5 3 99 x",
             "BMR1 7 downloading 10 100 5 3 99", "BMR1 7 downloading 10 100 5 3 99 x y",
             "BMR1 0 downloading 10 100 5 3 99 x", "BMR1 7 sleeping 10 100 5 3 99 x",
             "BMR1 -7 downloading 10 100 5 3 99 x", "BMR1 7 downloading 1e3 100 5 3 99 x",
             "BMR1 7 downloading 10 100 5 3 99 a%2", "BMR1 7 downloading 10 100 5 3 99 a%zz",
             "BMR1 7 downloading 10 100 5 3 99 a\tb", "BMR1 7  downloading 10 100 5 3 99 x",
             "BMR1 7 downloading 9999999999999999999 100 5 3 99 x",
         })
        EXPECT_FALSE(ParseJobReport(bad)) << bad;
    TJobReport huge = Report(1, TJobState::Downloading, 1);
    huge.File.assign(ReportLineMax, 'a');
    EXPECT_TRUE(FormatJobReport(huge).empty());
    EXPECT_FALSE(ParseJobReport("BMR1 7 downloading 10 100 5 3 99 " + std::string(ReportLineMax, 'a')));
}

TEST(JobReportLine, CommandsAreForOneJob)
{
    const std::string line = FormatJobCommand(5, TJobCommand::Abort);
    const std::string_view text = std::string_view(line).substr(0, line.size() - 1);
    EXPECT_EQ(ParseJobCommand(text, 5), TJobCommand::Abort);
    EXPECT_FALSE(ParseJobCommand(text, 6));
    EXPECT_EQ(ParseJobCommand("BMC1 5 show", 5), TJobCommand::Show);
    EXPECT_FALSE(ParseJobCommand("BMC1 5 rm", 5));
    EXPECT_FALSE(ParseJobCommand("BMC1 5 show x", 5));
}

TEST(JobReportLine, LinesAreCutAndBounded)
{
    TLineReader reader;
    EXPECT_TRUE(reader.Add("ab", 2).empty());
    const auto lines = reader.Add("c\nd\n\ne", 6);
    EXPECT_EQ(lines, (std::vector<std::string>{"abc", "d", ""}));
    const std::string flood(ReportLineMax + 10, 'x');
    reader.Add(flood.data(), flood.size());
    EXPECT_TRUE(reader.Bad());
    EXPECT_TRUE(reader.Add("\nok\n", 4).empty());
}

TEST(JobReportLine, PacerLetsFewProgressReportsAndEveryStateChange)
{
    TReportPacer pacer;
    int allowed = 0;
    for (std::int64_t ms = 0; ms < 1000; ms += 10)
        allowed += pacer.Allow(TJobState::Downloading, ms);
    EXPECT_LE(allowed, ReportsPerSecond);
    EXPECT_GE(allowed, ReportsPerSecond - 1);
    EXPECT_TRUE(pacer.Allow(TJobState::Merging, 1001));
    EXPECT_TRUE(pacer.Allow(TJobState::Done, 1002));
}

TEST(JobQueue, AtMostMaxRunAndTheRestStartInOrder)
{
    TJobList list;
    std::vector<std::uint64_t> ids;
    for (int i = 0; i < 5; ++i)
        ids.push_back(list.Add(Row("/tmp/f" + std::to_string(i))));
    EXPECT_EQ(list.NextToStart(2), (std::vector<std::uint64_t>{ids[0], ids[1]}));
    list.Started(ids[0], 100, false);
    list.Started(ids[1], 101, false);
    EXPECT_TRUE(list.NextToStart(2).empty());
    EXPECT_EQ(list.RunningCount(), 2);

    // A hidden window holds its place until its process ends.
    EXPECT_TRUE(list.Apply(Report(ids[1], TJobState::Done, 101, 1000)));
    EXPECT_TRUE(list.NextToStart(2).empty());
    list.ProcessEnded(ids[1]);
    EXPECT_EQ(list.Find(ids[1])->State, TJobState::Done);
    EXPECT_EQ(list.NextToStart(2), (std::vector<std::uint64_t>{ids[2]}));

    // A shown window gives it up with its last report.
    list.Started(ids[2], 102, true);
    EXPECT_TRUE(list.Apply(Report(ids[2], TJobState::Failed, 102)));
    EXPECT_EQ(list.NextToStart(2), (std::vector<std::uint64_t>{ids[3]}));
    EXPECT_EQ(list.NextToStart(3), (std::vector<std::uint64_t>{ids[3], ids[4]}));

    // A process that ends without its last report leaves the job Interrupted.
    list.ProcessEnded(ids[0]);
    EXPECT_EQ(list.Find(ids[0])->State, TJobState::Interrupted);
    EXPECT_TRUE(list.Requeue(ids[0]));
    EXPECT_TRUE(list.Find(ids[0])->Resume);
    EXPECT_EQ(list.NextToStart(2).front(), ids[0]);
}

TEST(JobQueue, ReportsOfOtherProcessesOrJobsChangeNothing)
{
    TJobList list;
    const std::uint64_t id = list.Add(Row("/tmp/a"));
    EXPECT_FALSE(list.Apply(Report(id, TJobState::Downloading, 5)));  // not started
    list.Started(id, 5, false);
    EXPECT_FALSE(list.Apply(Report(id, TJobState::Downloading, 6)));  // another process
    EXPECT_FALSE(list.Apply(Report(id + 1, TJobState::Downloading, 5)));
    EXPECT_FALSE(list.Apply(Report(id, TJobState::Queued, 5)));
    EXPECT_TRUE(list.Apply(Report(id, TJobState::Downloading, 5, 300)));
    EXPECT_EQ(list.Find(id)->Percent(), 30);
    EXPECT_TRUE(list.Apply(Report(id, TJobState::Downloading, 5, 999999999999999999)));
    EXPECT_EQ(list.Find(id)->Percent(), 100);
}

// A report names its own job's file as it is renamed (another extension, a
// free numbered name beside it), never a file elsewhere.
TEST(JobQueue, AReportCannotPointARowAtAnotherFile)
{
    TJobList list;
    const std::uint64_t id = list.Add(Row("/videos/clip.flv"));
    list.Started(id, 5, false);
    const auto reported = [&](const std::string& file) {
        TJobReport r = Report(id, TJobState::Downloading, 5);
        r.File = file;
        list.Apply(r);
        return list.Find(id)->Job.OutputFile;
    };
    EXPECT_EQ(reported("/home/user/.bashrc"), "/videos/clip.flv");
    EXPECT_EQ(reported("/videos/../home/clip.flv"), "/videos/clip.flv");
    EXPECT_EQ(reported("/videos/other.flv"), "/videos/clip.flv");
    EXPECT_EQ(reported("/videos/clip.flv.d/x.mp4"), "/videos/clip.flv");
    EXPECT_EQ(reported("/videos/clipper.mp4"), "/videos/clip.flv");
    EXPECT_EQ(reported("/videos/clip.mp4"), "/videos/clip.mp4");
    EXPECT_EQ(reported("/videos/clip_01.mkv"), "/videos/clip_01.mkv");
}

// Before a row starts, its output must be the file its job made: another file
// at the name, or the job's own file shorter than what was written, is left
// alone and the row says why; a file that has gone is made anew.
TEST(JobQueue, ARowStartsOnlyOnTheFileItsJobMade)
{
    TempDir dir;
    const auto rowOn = [&](const std::string& name, bool resume, std::int64_t done) {
        TJobRow row = Row(dir.Path() + "/" + name);
        row.Job.OutputId = FileIdOf(row.Job.OutputFile);
        row.Resume = resume;
        row.DoneBytes = done;
        return row;
    };
    const std::string big(2 * 1024 * 1024, 'x');

    dir.Write("own.mp4", big);
    TJobRow own = rowOn("own.mp4", true, 2 * 1024 * 1024);
    EXPECT_TRUE(CheckRowOutput(own, false));
    EXPECT_TRUE(own.Resume);

    // The list file keeps what the job made.
    TJobList list;
    const std::uint64_t ownId = list.Add(own);
    TJobList back;
    ASSERT_TRUE(back.Parse(list.Text()));
    EXPECT_EQ(back.Find(ownId)->Job.OutputId, own.Job.OutputId);

    // Replaced by another file (made beside it and renamed over it).
    dir.Write("theirs.tmp", "a file of the user's");
    std::filesystem::rename(dir.File("theirs.tmp"), own.Job.OutputFile);
    EXPECT_FALSE(CheckRowOutput(own, false));
    EXPECT_EQ(own.State, TJobState::Failed);
    EXPECT_EQ(own.Message, "The file was changed outside Brimtale: " + own.Job.OutputFile);
    EXPECT_EQ(TempDir::Read(own.Job.OutputFile), "a file of the user's");
    own.State = TJobState::Interrupted;
    EXPECT_FALSE(CheckRowOutput(own, true));
    EXPECT_EQ(own.Message, "Plik został zmieniony poza programem Brimtale: " + own.Job.OutputFile);

    // Cut short in place: fewer bytes than the job wrote.
    dir.Write("cut.mp4", big);
    TJobRow cut = rowOn("cut.mp4", true, 2 * 1024 * 1024);
    ASSERT_EQ(::truncate(cut.Job.OutputFile.c_str(), 1000), 0);
    EXPECT_FALSE(CheckRowOutput(cut, false));
    // A job that starts from the beginning finds its reserved file empty.
    dir.Write("fresh.mp4", "");
    TJobRow fresh = rowOn("fresh.mp4", false, 0);
    EXPECT_TRUE(CheckRowOutput(fresh, false));
    dir.Write("fresh.mp4", "written into while it waited");
    EXPECT_FALSE(CheckRowOutput(fresh, false));

    // A row that names no file of its own takes only an empty one.
    dir.Write("edited.mp4", "somebody's");
    TJobRow edited = Row(dir.File("edited.mp4"));
    edited.Resume = true;
    EXPECT_FALSE(CheckRowOutput(edited, false));
    EXPECT_EQ(TempDir::Read(edited.Job.OutputFile), "somebody's");
    dir.Write("empty.mp4", "");
    TJobRow empty = Row(dir.File("empty.mp4"));
    EXPECT_TRUE(CheckRowOutput(empty, false));
    EXPECT_EQ(empty.Job.OutputId, FileIdOf(empty.Job.OutputFile));

    // Gone: made anew, and the job starts over in it.
    TJobRow gone = rowOn("gone.mp4", true, 5000);
    gone.Job.OutputId = TFileId{1, 2};
    EXPECT_TRUE(CheckRowOutput(gone, false));
    EXPECT_FALSE(gone.Resume);
    EXPECT_EQ(gone.DoneBytes, 0);
    EXPECT_EQ(gone.Job.OutputId, FileIdOf(gone.Job.OutputFile));
    EXPECT_EQ(FileSizeOf(gone.Job.OutputFile), 0);
}

TEST(JobListFile, RoundTripsAndReopensUnfinishedJobs)
{
    TempDir dir;
    TJobList list;
    TJobRow odd = Row(dir.Path() + "/odd name\n\"%$(x)\".mp4");
    odd.Title = "tab\there";
    odd.Job.ThroughEngine = true;
    odd.Job.EngineFormat = "best[height<=720]";
    const std::uint64_t a = list.Add(odd);
    const std::uint64_t b = list.Add(Row(dir.Path() + "/b.mp4"));
    TJobRow added;
    added.Title = "http://127.0.0.1:9/x";
    added.Added = TAddedAddress{"http://127.0.0.1:9/x", "/tmp", "MP4_360", "", true};
    const std::uint64_t c = list.Add(added);
    list.Started(a, 10, true);
    list.Apply(Report(a, TJobState::Downloading, 10, 400));
    list.Started(b, 11, true);
    list.Apply(Report(b, TJobState::Done, 11, 1000));

    const std::string file = dir.Path() + "/bmt_downloads.txt";
    ASSERT_TRUE(SaveJobList(file, list));
    TJobList back = LoadJobList(file);
    ASSERT_EQ(back.Size(), 3u);
    EXPECT_EQ(back.Find(a)->Job, list.Find(a)->Job);
    EXPECT_EQ(back.Find(a)->Title, "tab\there");
    EXPECT_EQ(back.Find(a)->DoneBytes, 400);
    EXPECT_EQ(back.Find(c)->Added, added.Added);
    EXPECT_EQ(back.Find(b)->State, TJobState::Done);
    EXPECT_EQ(back.Add(Row("/tmp/d")), c + 1);

    back.Reopened(false);
    EXPECT_EQ(back.Find(a)->State, TJobState::Interrupted);
    EXPECT_EQ(back.Find(c)->State, TJobState::Interrupted);
    EXPECT_EQ(back.Find(b)->State, TJobState::Done);
    // A process that still runs its job is followed again, not started twice.
    TJobList followed = LoadJobList(file);
    EXPECT_EQ(followed.Find(a)->Pid, 10);
    followed.Reopened(true, [a](const TJobRow& row) { return row.Id == a && row.Pid == 10; });
    EXPECT_EQ(followed.Find(a)->State, TJobState::Downloading);
    EXPECT_TRUE(followed.Find(a)->Running);
    EXPECT_EQ(followed.NextToStart(3), (std::vector<std::uint64_t>{c}));
    EXPECT_FALSE(ProcessRunsListedJob(::getpid(), a));

    TJobList resumed = LoadJobList(file);
    resumed.Reopened(true, [](const TJobRow&) { return false; });
    EXPECT_EQ(resumed.Find(a)->State, TJobState::Queued);
    EXPECT_TRUE(resumed.Find(a)->Resume);
    EXPECT_EQ(resumed.NextToStart(3), (std::vector<std::uint64_t>{a, c}));
}

TEST(JobListFile, DamagedRowsAreLeftOutAndAForeignFileIsKeptAside)
{
    TempDir dir;
    TJobList list;
    list.Add(Row(dir.Path() + "/a.mp4"));
    list.Add(Row(dir.Path() + "/b.mp4"));
    list.Add(Row(dir.Path() + "/c.mp4"));
    std::string text = list.Text();
    // The second row damaged, the last one cut short by a crash.
    const std::size_t second = text.find("row 2");
    text.replace(second, 5, "row x");
    text.resize(text.size() - 3);
    TJobList back;
    ASSERT_TRUE(back.Parse(text));
    ASSERT_EQ(back.Size(), 1u);
    EXPECT_EQ(back.Rows()[0].Job.OutputFile, dir.Path() + "/a.mp4");

    const std::string file = dir.Path() + "/bmt_downloads.txt";
    std::ofstream(file) << "<html>not a list</html>\n";
    EXPECT_EQ(LoadJobList(file).Size(), 0u);
    struct stat st {};
    EXPECT_EQ(::stat((file + ".damaged").c_str(), &st), 0);
    EXPECT_TRUE(back.Parse(TJobList().Text()));
    EXPECT_EQ(LoadJobList(dir.Path() + "/none.txt").Size(), 0u);
}

// A list file of a million rows, or with bytes that are no rows: what can be
// read is kept (up to the list's limits), the rest is counted, and the file
// as it was is kept aside before the list is written anew.
TEST(JobListFile, AHugeOrGarbledFileKeepsWhatCanBeReadAndCountsTheRest)
{
    TempDir dir;
    const std::string file = dir.Path() + "/bmt_downloads.txt";
    TJobList one;
    one.Add(Row(dir.Path() + "/a.mp4"));
    const std::string header = one.Text().substr(0, one.Text().find('\n') + 1);
    std::string row = one.Text().substr(header.size());
    const std::string idField = "row 1 ";
    ASSERT_EQ(row.rfind(idField, 0), 0u);
    {
        std::ofstream out(file, std::ios::binary);
        out << header;
        for (std::uint64_t id = 1; id <= 1'000'000; ++id)
            out << "row " << id << row.substr(idField.size() - 1);
    }
    const std::uint64_t size = std::filesystem::file_size(file);
    ASSERT_GT(size, 64u * 1024 * 1024);
    TListLoad load;
    TJobList big = LoadJobList(file, load);
    EXPECT_EQ(big.Size(), TJobList::RowsMax);
    EXPECT_EQ(load.LeftOut, 1'000'000 - TJobList::RowsMax);
    EXPECT_FALSE(load.NoList);
    EXPECT_EQ(load.KeptAs, file + ".damaged");
    EXPECT_EQ(std::filesystem::file_size(load.KeptAs), size);
    EXPECT_EQ(big.Rows().back().Id, TJobList::RowsMax);

    // Bytes that are no rows between good ones; a second damaged file is
    // kept beside the first.
    std::string garbled = header + row;
    for (int i = 0; i < 256; ++i)
        garbled += static_cast<char>(i);
    garbled += "\nrow 7" + row.substr(idField.size() - 1) + std::string("\0\xff\n", 3);
    dir.Write("bmt_downloads.txt", garbled);
    TJobList kept = LoadJobList(file, load);
    EXPECT_EQ(kept.Size(), 2u);
    EXPECT_EQ(load.LeftOut, 3u);  // the bytes make three lines of no row
    EXPECT_EQ(load.KeptAs, dir.Path() + "/bmt_downloads.txt_01.damaged");
    EXPECT_EQ(TempDir::Read(load.KeptAs), garbled);

    // Nothing but bytes: no list at all.
    dir.Write("bmt_downloads.txt", std::string("\x7f" "ELF\0\0\x01", 7));
    EXPECT_EQ(LoadJobList(file, load).Size(), 0u);
    EXPECT_TRUE(load.NoList);
    EXPECT_FALSE(load.KeptAs.empty());
    // A whole list leaves nothing out and nothing aside.
    ASSERT_TRUE(SaveJobList(file, one));
    EXPECT_EQ(LoadJobList(file, load).Size(), 1u);
    EXPECT_EQ(load.LeftOut, 0u);
    EXPECT_TRUE(load.KeptAs.empty());
    EXPECT_TRUE(FileExists(file));
}

TEST(ListedStart, TheListsFieldsFollowTheJobs)
{
    TDownloadJob job = WebJob("/tmp/x.mp4");
    std::vector<std::string> args = {"brimtale"};
    for (const std::string& a : ListedJobArgs(job, 12, false, true))
        args.push_back(a);
    EXPECT_EQ(JobFromArgs(args), job);
    const auto listed = ListedStartOf(args);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->Id, 12u);
    EXPECT_FALSE(listed->ShowWindow);
    EXPECT_TRUE(listed->Resume);

    job.ThroughEngine = true;
    args = {"brimtale"};
    for (const std::string& a : ListedJobArgs(job, 3, true, false))
        args.push_back(a);
    EXPECT_EQ(JobFromArgs(args), job);
    EXPECT_EQ(ListedStartOf(args)->Id, 3u);
    args.pop_back();
    EXPECT_FALSE(ListedStartOf(args));
    args = {"brimtale"};
    for (const std::string& a : JobToArgs(WebJob("/tmp/y"), false))
        args.push_back(a);
    EXPECT_FALSE(ListedStartOf(args));

    // A job with options (a speed limit, its file's identity, the engine's
    // choices) is still one of the list's.
    job.RateLimit = 500000;
    job.EngineMetadata = false;
    job.OutputId = TFileId{5, 6};
    args = {"brimtale"};
    for (const std::string& a : ListedJobArgs(job, 4, false, true))
        args.push_back(a);
    EXPECT_EQ(JobFromArgs(args), job);
    ASSERT_TRUE(ListedStartOf(args));
    EXPECT_EQ(ListedStartOf(args)->Id, 4u);
    EXPECT_TRUE(ListedStartOf(args)->Resume);
    args.insert(args.end() - 4, "stray");
    EXPECT_FALSE(ListedStartOf(args));
}

TEST(AddRequest, ArgumentsAndTheMessageCarryEveryChoice)
{
    std::vector<TAddedAddress> added;
    std::string error;
    ASSERT_TRUE(ParseAddArguments({"--add", "-d", "/tmp/my dir", "-f", "mp4_360", "--playlist", "http://127.0.0.1:1/a",
                                   "--", "-odd name"},
                                  added, error))
        << error;
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0], (TAddedAddress{"http://127.0.0.1:1/a", "/tmp/my dir", "mp4_360", "", true}));
    EXPECT_EQ(added[1].Address, "-odd name");
    const auto back = ParseAddRequest(EncodeAddRequest(added));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, added);
    const TAddedAddress first = added[0];  // a refused call empties added

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--add"}, {"--add", "-d"}, {"--add", "-x", "http://127.0.0.1:1/a"}, {"--add", "-f", "AVI", "a"}, {"--add", "  "}})
        EXPECT_FALSE(ParseAddArguments(bad, added, error)) << bad.back();
    EXPECT_FALSE(ParseAddRequest("add2\nhttp://a %20 - - 0\n"));
    EXPECT_FALSE(ParseAddRequest("add1\nhttp://a - - 0\n"));
    EXPECT_FALSE(ParseAddRequest("add1\n"));
    // No list behind the address (nothing listens there): the address is the one job.
    const std::vector<TAddedAddress> expanded = ExpandPlaylist(first, nullptr);
    ASSERT_EQ(expanded.size(), 1u);
    EXPECT_FALSE(expanded[0].Playlist);
}
