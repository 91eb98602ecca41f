// SPDX-License-Identifier: GPL-3.0-or-later
// A file over several connections: segments, their resume, the answers that
// send the download back to one connection, and the per-host limit.
#include "net/HostSlots.h"
#include "net/SegmentedDownload.h"
#include "system/ZQ_FileSystem.h"
#include "net/ZQ_Internet.h"

#include "support/Skips.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

using namespace testhttp;

namespace {

constexpr std::uint64_t Size = 3 * 1024 * 1024 + 12345;
// A pause after each 64 KiB a connection sends: on loopback a file would
// otherwise be whole before a second connection is asked for.
constexpr int Pace = 3;

TSegmentedRequest RequestFor(const std::string& url, const std::string& file)
{
    TSegmentedRequest r;
    r.Url = url;
    r.FileName = file;
    r.Connections = 4;
    r.MinSize = 1024 * 1024;
    r.MinSplit = 64 * 1024;
    r.SplitAfterMs = 0;
    r.StallTimeoutSeconds = 5;
    r.ConnectTimeoutSeconds = 5;
    return r;
}

// The first byte each request asked for ("bytes=N-..."), -1 for none.
std::int64_t RangeStart(const Request& q)
{
    auto it = q.headers.find("range");
    if (it == q.headers.end() || it->second.rfind("bytes=", 0) != 0)
        return -1;
    return std::stoll(it->second.substr(6));
}

std::string Whole(std::uint64_t size)
{
    return GeneratedBody(0, static_cast<std::size_t>(size));
}

} // namespace

TEST(SegmentedDownload, SplitsTheFileAndWritesEverySegmentInPlace)
{
    TestHttpServer server;
    server.Handle("/f.mp4", [](const Request&) {
        Response r;
        r.generatedSize = Size;
        r.paceMs = Pace;
        r.headers.push_back({"ETag", "\"v1\""});
        return r;
    });
    TempDir dir;
    const std::string out = dir.File("f.mp4");
    ASSERT_TRUE(CreateEmptyFile(out));
    TSegmentedRequest r = RequestFor(server.Url("/f.mp4"), out);
    std::int64_t started = -1;
    std::int64_t startTotal = 0;
    std::int64_t last = 0;
    bool grew = true;
    r.OnStart = [&](std::int64_t done, std::int64_t total) {
        started = done;
        startTotal = total;
    };
    r.OnProgress = [&](std::int32_t, std::int64_t total) {
        grew = grew && total >= last;
        last = total;
        return true;
    };
    const TSegmentedResult result = DownloadSegmented(r);
    EXPECT_EQ(result.End, TSegmentedEnd::Done);
    EXPECT_EQ(result.MostConnections, 4);
    EXPECT_EQ(started, 0);
    EXPECT_EQ(startTotal, static_cast<std::int64_t>(Size));
    // One count for the whole file, never going back.
    EXPECT_TRUE(grew);
    EXPECT_EQ(last, static_cast<std::int64_t>(Size));
    EXPECT_TRUE(TempDir::Read(out) == Whole(Size));
    EXPECT_FALSE(HasSegmentState(out));
    std::set<std::int64_t> starts;
    for (const Request& q : server.Requests())
        starts.insert(RangeStart(q));
    EXPECT_GE(starts.size(), 4u);
    EXPECT_EQ(starts.count(-1), 0u);  // every request asks for a range
}

TEST(SegmentedDownload, ACutConnectionInEachSegmentIsTriedAgainAlone)
{
    TestHttpServer server;
    std::mutex m;
    std::set<std::int64_t> cut;
    server.Handle("/f.mp4", [&](const Request& q) {
        Response r;
        r.generatedSize = Size;
        r.paceMs = Pace;
        const std::int64_t from = RangeStart(q);
        std::lock_guard<std::mutex> lock(m);
        // The first request of every segment breaks after 100 000 bytes.
        if (cut.insert(from).second)
            r.dropAfter = 100000;
        return r;
    });
    TempDir dir;
    const std::string out = dir.File("f.mp4");
    ASSERT_TRUE(CreateEmptyFile(out));
    const TSegmentedResult result = DownloadSegmented(RequestFor(server.Url("/f.mp4"), out));
    EXPECT_EQ(result.End, TSegmentedEnd::Done);
    EXPECT_TRUE(TempDir::Read(out) == Whole(Size));
    // Each broken segment was asked for again from where it stopped.
    std::set<std::int64_t> starts;
    for (const Request& q : server.Requests())
        starts.insert(RangeStart(q));
    int resumed = 0;
    for (const std::int64_t s : starts)
        resumed += starts.count(s - 100000) ? 1 : 0;
    EXPECT_GE(resumed, 4);
    EXPECT_TRUE(starts.count(100000));
}

TEST(SegmentedDownload, ASegmentThatNeverComesEndsTheTryAndKeepsTheState)
{
    TestHttpServer server;
    server.Handle("/f.mp4", [&](const Request& q) {
        Response r;
        r.generatedSize = Size;
        r.paceMs = Pace;
        if (RangeStart(q) > 0)
            r.dropAfter = 0;  // later segments never bring a byte
        return r;
    });
    TempDir dir;
    const std::string out = dir.File("f.mp4");
    ASSERT_TRUE(CreateEmptyFile(out));
    TSegmentedRequest r = RequestFor(server.Url("/f.mp4"), out);
    const TSegmentedResult result = DownloadSegmented(r);
    EXPECT_EQ(result.End, TSegmentedEnd::Failed);
    ASSERT_TRUE(HasSegmentState(out));
    const auto state = ReadSegmentState(out);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->Total, static_cast<std::int64_t>(Size));
    EXPECT_FALSE(state->Parts.empty());
    EXPECT_EQ(FileSizeOf(out), static_cast<std::int64_t>(Size));
}

// A run stopped half-way, then a state as an earlier moment left it (a crash
// loses what was written after the state's last copy): the next run continues
// every segment, and the file is whole.
TEST(SegmentedDownload, AStopAndACrashAreContinuedSegmentBySegment)
{
    TestHttpServer server;
    std::atomic<int> pace{300};
    server.Handle("/f.mp4", [&](const Request&) {
        Response r;
        r.generatedSize = Size;
        r.paceMs = pace;
        r.headers.push_back({"Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT"});
        return r;
    });
    TempDir dir;
    const std::string out = dir.File("f.mp4");
    ASSERT_TRUE(CreateEmptyFile(out));
    const auto own = FileIdOf(out);
    TSegmentedRequest r = RequestFor(server.Url("/f.mp4"), out);
    r.OwnFile = own;
    std::string early;
    std::int64_t earlyAt = 0;
    r.OnProgress = [&](std::int32_t, std::int64_t total) {
        // The first state that holds progress is what the crash leaves.
        const auto state = ReadSegmentState(out);
        if (early.empty() && state && !state->Parts.empty() && state->Parts.front().From > 0) {
            early = TempDir::Read(SegmentStateFile(out));
            earlyAt = total;
        }
        return early.empty() || total < earlyAt + 300000;
    };
    EXPECT_EQ(DownloadSegmented(r).End, TSegmentedEnd::Aborted);
    ASSERT_TRUE(HasSegmentState(out));
    ASSERT_FALSE(early.empty());
    // The crash: the state file as it was early on; the file keeps what came since.
    dir.Write("f.mp4.parts", early);
    const auto parts = ReadSegmentState(out);
    ASSERT_TRUE(parts);
    EXPECT_GE(parts->Parts.size(), 1u);

    pace = 0;
    TSegmentedRequest again = RequestFor(server.Url("/f.mp4"), out);
    again.OwnFile = own;
    std::int64_t resumedAt = -1;
    again.OnStart = [&](std::int64_t done, std::int64_t) { resumedAt = done; };
    const std::size_t before = server.Requests().size();
    EXPECT_EQ(DownloadSegmented(again).End, TSegmentedEnd::Done);
    EXPECT_GT(resumedAt, 0);
    EXPECT_TRUE(TempDir::Read(out) == Whole(Size));
    EXPECT_FALSE(HasSegmentState(out));
    // No request of the second run asked for the file from its start.
    const std::vector<Request> requests = server.Requests();
    for (std::size_t i = before; i < requests.size(); ++i)
        EXPECT_NE(RangeStart(requests[i]), 0);
}

TEST(SegmentedDownload, AServerThatStopsHonouringRangesGetsTheFileOverOneConnection)
{
    TestHttpServer server;
    std::atomic<int> count{0};
    server.Handle("/f.mp4", [&](const Request&) {
        Response r;
        r.generatedSize = Size;
        r.paceMs = Pace;
        r.honourRanges = ++count <= 2;
        return r;
    });
    TempDir dir;
    const std::string out = dir.File("f.mp4");
    ASSERT_TRUE(CreateEmptyFile(out));
    TInet inet;
    inet.Url = server.Url("/f.mp4");
    inet.OwnFile = FileIdOf(out);
    std::vector<std::pair<std::int64_t, std::int64_t>> starts;
    EXPECT_TRUE(DownloadWithConnections(
        inet, out, 4, [&](std::int64_t done, std::int64_t total) { starts.emplace_back(done, total); }, 1024 * 1024, 0));
    EXPECT_EQ(inet.Status, InetOk);
    EXPECT_TRUE(TempDir::Read(out) == Whole(Size));
    EXPECT_FALSE(HasSegmentState(out));
    // The count starts again from nothing for the one connection.
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.back(), std::make_pair(std::int64_t{0}, std::int64_t{0}));
    EXPECT_EQ(FileIdOf(out), inet.OwnFile);  // the same file, emptied in place
}

TEST(SegmentedDownload, ASizeThatChangesBetweenRequestsStartsTheFileAnew)
{
    TestHttpServer server;
    std::atomic<int> count{0};
    server.Handle("/f.mp4", [&](const Request&) {
        Response r;
        r.generatedSize = ++count == 1 ? Size : Size + 5000;
        r.paceMs = Pace;
        return r;
    });
    TempDir dir;
    const std::string out = dir.File("f.mp4");
    ASSERT_TRUE(CreateEmptyFile(out));
    TInet inet;
    inet.Url = server.Url("/f.mp4");
    EXPECT_TRUE(DownloadWithConnections(inet, out, 4, nullptr, 1024 * 1024, 0));
    EXPECT_TRUE(TempDir::Read(out) == Whole(Size + 5000));
    EXPECT_FALSE(HasSegmentState(out));
}

TEST(SegmentedDownload, AnotherValidatorStartsTheFileAnew)
{
    TestHttpServer server;
    std::atomic<int> count{0};
    server.Handle("/f.mp4", [&](const Request&) {
        Response r;
        r.generatedSize = Size;
        r.paceMs = Pace;
        r.headers.push_back({"ETag", ++count == 1 ? "\"a\"" : "\"b\""});
        return r;
    });
    TempDir dir;
    const std::string out = dir.File("f.mp4");
    ASSERT_TRUE(CreateEmptyFile(out));
    const TSegmentedResult result = DownloadSegmented(RequestFor(server.Url("/f.mp4"), out));
    EXPECT_EQ(result.End, TSegmentedEnd::OneConnection);
    EXPECT_FALSE(HasSegmentState(out));
}

TEST(SegmentedDownload, A416OnResumeStartsTheFileAnew)
{
    TestHttpServer server;
    std::atomic<std::uint64_t> size{Size};
    server.Handle("/f.mp4", [&](const Request&) {
        Response r;
        r.generatedSize = size;
        r.paceMs = Pace;
        return r;
    });
    TempDir dir;
    const std::string out = dir.File("f.mp4");
    ASSERT_TRUE(CreateEmptyFile(out));
    // What a stopped run left: the file at its full size, two parts to fetch.
    ASSERT_EQ(::truncate(out.c_str(), static_cast<off_t>(Size)), 0);
    TSegmentState state;
    state.Total = static_cast<std::int64_t>(Size);
    state.Parts = {{2000000, 2500000}, {3000000, static_cast<std::int64_t>(Size)}};
    dir.Write("f.mp4.parts", EncodeSegmentState(state));
    // The file on the server is now shorter than every part that is left.
    size = 100000;
    TInet inet;
    inet.Url = server.Url("/f.mp4");
    EXPECT_TRUE(DownloadWithConnections(inet, out, 4, nullptr, 1024 * 1024, 0));
    EXPECT_TRUE(TempDir::Read(out) == Whole(100000));
    EXPECT_FALSE(HasSegmentState(out));
    bool saw416 = false;
    for (const Request& q : server.Requests())
        saw416 = saw416 || RangeStart(q) >= 2000000;
    EXPECT_TRUE(saw416);
}

TEST(SegmentedDownload, NoRangesAndSmallFilesGoOverOneConnection)
{
    TestHttpServer server;
    server.Handle("/plain.mp4", [](const Request&) {
        Response r;
        r.generatedSize = Size;
        r.paceMs = Pace;
        r.honourRanges = false;
        return r;
    });
    server.Handle("/small.mp4", [](const Request&) {
        Response r;
        r.generatedSize = 300000;
        r.paceMs = Pace;
        return r;
    });
    TempDir dir;
    const std::string plain = dir.File("plain.mp4");
    ASSERT_TRUE(CreateEmptyFile(plain));
    EXPECT_EQ(DownloadSegmented(RequestFor(server.Url("/plain.mp4"), plain)).End, TSegmentedEnd::OneConnection);
    EXPECT_FALSE(HasSegmentState(plain));
    TInet inet;
    inet.Url = server.Url("/plain.mp4");
    EXPECT_TRUE(DownloadWithConnections(inet, plain, 4, nullptr, 1024 * 1024, 0));
    EXPECT_TRUE(TempDir::Read(plain) == Whole(Size));

    const std::string small = dir.File("small.mp4");
    ASSERT_TRUE(CreateEmptyFile(small));
    const TSegmentedResult result = DownloadSegmented(RequestFor(server.Url("/small.mp4"), small));
    EXPECT_EQ(result.End, TSegmentedEnd::Done);
    EXPECT_EQ(result.MostConnections, 1);
    EXPECT_TRUE(TempDir::Read(small) == Whole(300000));
}

TEST(SegmentedDownload, OnlyTheJobsOwnFileIsWritten)
{
    TestHttpServer server;
    server.Handle("/f.mp4", [](const Request&) {
        Response r;
        r.generatedSize = Size;
        r.paceMs = Pace;
        return r;
    });
    TempDir dir;
    const std::string out = dir.File("f.mp4");
    ASSERT_TRUE(CreateEmptyFile(out));
    const auto own = FileIdOf(out);
    // The job's file moved away (it keeps its identity), another at its name.
    ASSERT_EQ(::rename(out.c_str(), dir.File("moved").c_str()), 0);
    dir.Write("f.mp4", "someone else's");
    TSegmentedRequest r = RequestFor(server.Url("/f.mp4"), out);
    r.OwnFile = own;
    const TSegmentedResult result = DownloadSegmented(r);
    EXPECT_EQ(result.End, TSegmentedEnd::Failed);
    EXPECT_EQ(result.Status, InetFileChanged);
    EXPECT_EQ(TempDir::Read(out), "someone else's");
    EXPECT_TRUE(server.Requests().empty());
    // Nor is a link at the state's name followed.
    const std::string target = dir.Write("target", "kept");
    ASSERT_TRUE(CreateEmptyFile(dir.File("g.mp4")));
    SKIP_ON_WINDOWS(PosixLinks);
    ASSERT_TRUE(testsys::MakeSymlink(target, SegmentStateFile(dir.File("g.mp4"))));
    EXPECT_EQ(DownloadSegmented(RequestFor(server.Url("/f.mp4"), dir.File("g.mp4"))).End,
              TSegmentedEnd::OneConnection);
    EXPECT_EQ(TempDir::Read(target), "kept");
}

TEST(SegmentedDownload, TheStateSurvivesATornCopyAndRefusesGarbage)
{
    TSegmentState state;
    state.Total = 1000;
    state.ETag = "\"x\"\n";
    state.LastModified = "Mon";
    state.Parts = {{0, 10}, {500, 1000}};
    const std::string bytes = EncodeSegmentState(state);
    const auto back = DecodeSegmentState(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Total, 1000);
    EXPECT_EQ(back->ETag, state.ETag);
    EXPECT_EQ(back->LastModified, "Mon");
    EXPECT_EQ(back->Parts, state.Parts);
    std::string torn = bytes;
    torn[30] ^= 1;
    EXPECT_FALSE(DecodeSegmentState(torn));
    EXPECT_FALSE(DecodeSegmentState(""));
    EXPECT_FALSE(DecodeSegmentState(std::string(9000, 'x')));
    TSegmentState outside = state;
    outside.Parts = {{900, 2000}};
    EXPECT_FALSE(DecodeSegmentState(EncodeSegmentState(outside)));

    // In the file, a copy torn in its slot leaves the other one.
    TempDir dir;
    const std::string file = dir.File("f");
    dir.Write("f.parts", bytes + torn);
    const auto read = ReadSegmentState(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Parts, state.Parts);
}

TEST(HostSlots, JobsShareTheConnectionsToAHost)
{
    TempDir dir;
    THostSlots a(dir.Path(), "127.0.0.1:80", 3);
    THostSlots b(dir.Path(), "127.0.0.1:80", 3);
    THostSlots other(dir.Path(), "127.0.0.2:80", 3);
    EXPECT_GE(a.TryTake(), 0);
    EXPECT_GE(a.TryTake(), 0);
    const int third = b.TryTake();
    EXPECT_GE(third, 0);
    EXPECT_EQ(b.TryTake(), -1);
    EXPECT_EQ(a.TryTake(), -1);
    EXPECT_GE(other.TryTake(), 0);  // another host counts apart
    b.Give(third);
    EXPECT_GE(a.TryTake(), 0);
    EXPECT_EQ(a.Held(), 3);
    EXPECT_EQ(HostKeyOf("http://127.0.0.1:8080/a"), "127.0.0.1:8080");
    EXPECT_EQ(HostKeyOf("https://EXAMPLE.org/a"), "example.org:443");
    EXPECT_EQ(HostKeyOf("not an address"), "");
}

// Two downloads from one host at once never hold more connections than the
// limit between them, and both files come whole.
TEST(HostSlots, TwoDownloadsStayWithinTheLimit)
{
    TestHttpServer server;
    std::atomic<int> open{0};
    std::atomic<int> most{0};
    server.Handle("/f.mp4", [&](const Request&) {
        Response r;
        r.generatedSize = Size;
        r.paceMs = 5;
        return r;
    });
    TempDir dir;
    THostSlots first(dir.Path(), HostKeyOf(server.Url("/")), 4);
    THostSlots second(dir.Path(), HostKeyOf(server.Url("/")), 4);
    std::atomic<bool> done{false};
    // The server sees a connection closed a moment after the client has let it
    // go and opened the next, so a count counts once it has held for 20 ms.
    std::thread watch([&] {
        std::deque<std::pair<std::chrono::steady_clock::time_point, int>> seen;
        const auto start = std::chrono::steady_clock::now();
        while (!done) {
            const auto now = std::chrono::steady_clock::now();
            seen.emplace_back(now, static_cast<int>(server.OpenConnections()));
            while (seen.front().first < now - std::chrono::milliseconds(20))
                seen.pop_front();
            if (now - start >= std::chrono::milliseconds(20)) {
                int held = seen.front().second;
                for (const auto& sample : seen)
                    held = std::min(held, sample.second);
                most = std::max<int>(most, held);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    TSegmentedResult one;
    TSegmentedResult two;
    ASSERT_TRUE(CreateEmptyFile(dir.File("a.mp4")));
    ASSERT_TRUE(CreateEmptyFile(dir.File("b.mp4")));
    std::thread t([&] {
        TSegmentedRequest r = RequestFor(server.Url("/f.mp4"), dir.File("a.mp4"));
        r.Slots = &first;
        one = DownloadSegmented(r);
    });
    TSegmentedRequest r = RequestFor(server.Url("/f.mp4"), dir.File("b.mp4"));
    r.Slots = &second;
    two = DownloadSegmented(r);
    t.join();
    done = true;
    watch.join();
    EXPECT_EQ(one.End, TSegmentedEnd::Done);
    EXPECT_EQ(two.End, TSegmentedEnd::Done);
    EXPECT_LE(one.MostConnections + two.MostConnections, 8);
    EXPECT_LE(most.load(), 4);
    EXPECT_GE(most.load(), 1);  // the watch saw them run
    EXPECT_TRUE(TempDir::Read(dir.File("a.mp4")) == Whole(Size));
    EXPECT_TRUE(TempDir::Read(dir.File("b.mp4")) == Whole(Size));
    EXPECT_EQ(first.Held() + second.Held(), 0);
}
