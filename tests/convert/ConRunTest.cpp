// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/ConRun.h"

#include "ConvertTestSupport.h"

#include "support/Skips.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

using Lines = std::vector<std::string>;

namespace {

struct TCollected {
    Lines Entries;
    Lines Calls;  // the texts the callback was called with
};

// Feeds the bytes in one piece and again byte by byte; both must agree.
TCollected Collect(const std::string& bytes, TLineEndRule rule = TLineEndRule::CrCompletes)
{
    TCollected whole;
    {
        TConsoleLineCollector c(&whole.Entries, [&](int, const std::string& l) { whole.Calls.push_back(l); }, 0, rule);
        c.Feed(bytes.data(), bytes.size());
        c.Finish();
    }
    TCollected single;
    {
        TConsoleLineCollector c(&single.Entries, [&](int, const std::string& l) { single.Calls.push_back(l); }, 0, rule);
        for (char ch : bytes)
            c.Feed(&ch, 1);
        c.Finish();
    }
    EXPECT_EQ(whole.Entries, single.Entries);
    EXPECT_EQ(whole.Calls, single.Calls);
    return whole;
}

std::size_t OpenFdCount()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

}  // namespace

TEST(ConsoleLineCollector, CompletesLinesAtCrAndLetsLfStartNewEntries)
{
    EXPECT_EQ(Collect("a\r\nb\r\n").Entries, (Lines{"a", "b", ""}));
    EXPECT_EQ(Collect("frame 1\rframe 2\rdone\r\n").Entries, (Lines{"done", ""}));
    EXPECT_EQ(Collect("a\nb\n").Entries, (Lines{"ab"}));

    const TCollected c = Collect("a\r\nb\r\n");
    EXPECT_EQ(c.Calls, (Lines{"a", "b", ""}));  // once per completion, the final one included
    EXPECT_EQ(Collect("frame 1\rframe 2\rdone\r\n").Calls, (Lines{"frame 1", "frame 2", "done", ""}));
}

TEST(ConsoleLineCollector, CutsLinesAt1024Bytes)
{
    const Lines longLine = Collect(std::string(1500, 'x') + "\r\n").Entries;
    EXPECT_EQ(longLine, (Lines{std::string(476, 'x'), ""}));

    const Lines noEnd = Collect(std::string(3000, 'y')).Entries;
    EXPECT_EQ(noEnd, (Lines{std::string(1024, 'y'), std::string(952, 'y')}));
}

TEST(ConsoleLineCollector, AppendsToTheCallersListAndSurvivesACallbackThatEmptiesIt)
{
    Lines lines{"kept"};
    TConsoleLineCollector keep(&lines, nullptr);
    keep.Feed("x\r\n", 3);
    keep.Finish();
    EXPECT_EQ(lines, (Lines{"kept", "x", ""}));

    // The callback removes the entry; the next CR-ended line has nothing to replace.
    Lines trimmed;
    TConsoleLineCollector clearing(&trimmed, [&](int, const std::string& l) {
        if (l == "a")
            trimmed.clear();
    });
    clearing.Feed("a\rb\r", 4);
    EXPECT_EQ(trimmed, (Lines{"b"}));
    int calls = 0;
    TConsoleLineCollector noList(nullptr, [&](int pid, const std::string&) { calls += pid; }, 7);
    noList.Feed("a\r\n", 3);
    noList.Finish();
    EXPECT_EQ(calls, 14);
}

TEST(ConsoleLineCollector, LoneLfEndsALineLikeCrLf)
{
    const TLineEndRule lf = TLineEndRule::LoneLfCompletes;
    EXPECT_EQ(Collect("a\nb\n", lf).Entries, (Lines{"a", "b", ""}));
    EXPECT_EQ(Collect("a\r\nb\r\n", lf).Entries, (Lines{"a", "b", ""}));
    EXPECT_EQ(Collect("frame 1\rframe 2\rdone\n", lf).Entries, (Lines{"done", ""}));
    EXPECT_EQ(Collect("head\nframe 1\rframe 2\nvideo:1kB", lf).Entries, (Lines{"head", "frame 2", "video:1kB"}));
    // A line of exactly the limit is kept, not replaced by an empty one.
    EXPECT_EQ(Collect(std::string(1024, 'z') + "\nnext\n", lf).Entries, (Lines{std::string(1024, 'z'), "next", ""}));
    EXPECT_EQ(Collect(std::string(1500, 'x') + "\n", lf).Entries, (Lines{std::string(476, 'x'), ""}));
}

class ConsoleRunner : public ::testing::Test {
protected:
    void SetUp() override { SKIP_ON_WINDOWS(PosixScript); }

    TempDir dir;
    std::string encoder = InstallFakeEncoder(dir);

    std::uint32_t Run(const std::vector<std::string>& args, Lines* lines, const TConsoleLineEvent& onLine = nullptr)
    {
        return RunConsoleApp(encoder, args, lines, onLine);
    }
};

TEST_F(ConsoleRunner, CollectsTheChildsLines)
{
    Lines lines;
    std::vector<int> pids;
    EXPECT_EQ(Run({"crlf"}, &lines, [&](int pid, const std::string&) { pids.push_back(pid); }), 0u);
    EXPECT_EQ(lines, (Lines{"a", "b", ""}));
    ASSERT_EQ(pids.size(), 3u);
    EXPECT_GT(pids[0], 0);

    lines.clear();
    Run({"lf"}, &lines);
    EXPECT_EQ(lines, (Lines{"a", "b", ""}));
    lines.clear();
    Run({"progress"}, &lines);
    EXPECT_EQ(lines, (Lines{"done", ""}));
    lines.clear();
    Run({"long"}, &lines);
    EXPECT_EQ(lines, (Lines{std::string(476, 'x'), ""}));

    lines.clear();
    EXPECT_EQ(Run({"stdin"}, &lines), 0u);
    EXPECT_EQ(lines.front(), "/dev/null");
}

TEST_F(ConsoleRunner, ReportsExitCodesAndSignals)
{
    Lines lines;
    EXPECT_EQ(Run({"exit", "0"}, &lines), 0u);
    EXPECT_EQ(Run({"exit", "3"}, &lines), 3u);
    EXPECT_EQ(Run({"exit", "255"}, &lines), 255u);
    EXPECT_EQ(Run({"signal"}, &lines), 128u + SIGTERM);
    EXPECT_EQ(Run({"no-such-case"}, nullptr), 2u);
}

TEST_F(ConsoleRunner, FailsForAMissingOrUnstartableProgramWithoutLeakingDescriptors)
{
    const std::size_t fdsBefore = OpenFdCount();
    try {
        RunConsoleApp(dir.File("missing"), Lines{}, nullptr, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const EConsoleError& e) {
        EXPECT_EQ(std::string(e.what()), "Could not find file " + dir.File("missing"));
    }
    EXPECT_THROW(RunConsoleApp("brimtale-no-such-program", Lines{}, nullptr, nullptr), EConsoleError);
    EXPECT_THROW(RunConsoleApp("", Lines{}, nullptr, nullptr), EConsoleError);

    // Not executable, and executable but not a program: nothing starts.
    const std::string text = dir.Write("plain.txt", "just text\n");
    EXPECT_THROW(RunConsoleApp(text, Lines{}, nullptr, nullptr), EConsoleError);
    std::filesystem::permissions(text, std::filesystem::perms::owner_all);
    const std::string junk = dir.Write("junk", std::string("\x7f" "ELFjunk", 8));
    std::filesystem::permissions(junk, std::filesystem::perms::owner_all);
    EXPECT_THROW(RunConsoleApp(junk, Lines{}, nullptr, nullptr), EConsoleError);

    // A callback that throws ends the run; the pipe is closed all the same.
    EXPECT_THROW(Run({"crlf"}, nullptr, [](int, const std::string&) { throw std::runtime_error("stop"); }),
                 std::runtime_error);
    EXPECT_EQ(OpenFdCount(), fdsBefore);
}

TEST_F(ConsoleRunner, PassesEveryArgumentUnchangedWithoutAShell)
{
    const std::string out = dir.File("args.out");
    const Lines tricky{"with blanks", "\"quoted\"", "it's", "$(touch " + dir.File("pwned") + ")",
                       "a;touch " + dir.File("pwned"), "x | y", "*", "line\nbreak", "%1 %2", "", "`id`"};
    Lines args{"args", out};
    args.insert(args.end(), tricky.begin(), tricky.end());
    ASSERT_EQ(Run(args, nullptr), 0u);

    std::string text = TempDir::Read(out);
    Lines received;
    for (std::size_t p; (p = text.find('\036')) != std::string::npos; text.erase(0, p + 1))
        received.push_back(text.substr(0, p));
    EXPECT_EQ(received, tricky);
    EXPECT_FALSE(std::filesystem::exists(dir.File("pwned")));

    // The parameter text is split by the command-line rules: quotes group.
    const std::string out2 = dir.File("args2.out");
    ASSERT_EQ(RunConsoleApp(encoder, "args \"" + out2 + "\" \"a b\" c;d", nullptr, nullptr), 0u);
    EXPECT_EQ(TempDir::Read(out2), "a b\036c;d\036");
}

TEST_F(ConsoleRunner, KeepsMemoryBoundedForOutputWithoutLineEnds)
{
    Lines lines;
    std::size_t calls = 0;
    const std::size_t total = 4000000;
    ASSERT_EQ(Run({"nolineend", std::to_string(total)}, &lines, [&](int, const std::string&) { ++calls; }), 0u);
    std::size_t bytes = 0;
    for (const std::string& l : lines) {
        ASSERT_LE(l.size(), TConsoleLineCollector::LineMax);
        bytes += l.size();
    }
    // Every 1024 bytes make an entry; the last full one is replaced by the rest.
    EXPECT_EQ(lines.size(), total / 1024);
    EXPECT_EQ(lines.back().size(), total % 1024);
    EXPECT_EQ(bytes, (total / 1024 - 1) * 1024 + total % 1024);
    EXPECT_EQ(calls, total / 1024 + 1);
}

TEST_F(ConsoleRunner, StopsWaitingFiveSecondsAfterTheOutputEnded)
{
    Lines lines;
    int pid = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t code = Run({"detach", "30"}, &lines, [&](int p, const std::string&) { pid = p; });
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(code, StillActiveExitCode);
    EXPECT_GE(waited, std::chrono::milliseconds(4900));
    EXPECT_LT(waited, std::chrono::milliseconds(8000));
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(testsys::KillProcess(pid));  // still there (it is reaped in the background)
}

TEST_F(ConsoleRunner, TicksWhileTheChildIsSilentAndEndsItsWholeGroup)
{
    // The child starts a grandchild that waits on a FIFO nobody opens: both are
    // silent until the process group is ended from a tick.
    const std::string fifo = dir.File("fifo");
    ASSERT_TRUE(testsys::MakeFifo(fifo, 0600));
    Lines lines;
    int ticks = 0;
    bool ended = false;
    const std::uint32_t code = RunConsoleApp(
        encoder, {"spawn", encoder, fifo}, &lines, nullptr, TLineEndRule::LoneLfCompletes, [&](int pid) {
            ++ticks;
            if (ticks == 3)
                ended = EndProcessGroup(pid);
        });
    EXPECT_TRUE(ended);
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(code, 128u + SIGTERM);
    // The child's "started" and the grandchild's "ready" may come in either order.
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("started ", 0) == 0; }));
    EXPECT_FALSE(EndProcessGroup(0));
}
