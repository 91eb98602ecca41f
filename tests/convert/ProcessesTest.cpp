// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/ZQ_Processes.h"

#include "app/ProgramValues.h"
#include "system/ConRun.h"

#include "ConvertTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <future>
#include <limits>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A FIFO the "hold" case of the stand-in encoder waits on until it is released.
class TFifo {
public:
    explicit TFifo(std::string path) : path_(std::move(path)) { ::mkfifo(path_.c_str(), 0600); }
    const std::string& Path() const { return path_; }
    void Release()
    {
        // The reader may still be on its way to open the FIFO: try for a while.
        for (int i = 0; i < 200; ++i) {
            const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                [[maybe_unused]] const ssize_t n = ::write(fd, "\n", 1);
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(10ms);
        }
    }

private:
    std::string path_;
};

// A run of the runner on a thread of its own, with the lines it has seen.
class TBackgroundRun {
public:
    // fifo: released before the run is waited for at the end, so that a test
    // that fails half-way doesn't hang.
    TBackgroundRun(const std::string& program, std::vector<std::string> args, TFifo* fifo = nullptr)
        : program_(program), fifo_(fifo)
    {
        result_ = std::async(std::launch::async, [this, program, args] {
            return RunConsoleApp(program, args, nullptr, [this](int pid, const std::string& line) {
                std::lock_guard<std::mutex> lock(mutex_);
                pid_ = pid;
                seen_.push_back(line);
                changed_.notify_all();
            });
        });
    }

    // Waits until a line starting with prefix was seen; false after 10 s.
    bool WaitForLine(const std::string& prefix)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] {
            return std::any_of(seen_.begin(), seen_.end(),
                                [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
        });
    }

    std::string Line(const std::string& prefix)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& l : seen_)
            if (l.rfind(prefix, 0) == 0)
                return l;
        return {};
    }

    // The exit code, or -1 when the run hasn't ended within 10 s.
    long long Result()
    {
        if (result_.wait_for(10s) != std::future_status::ready)
            return -1;
        return result_.get();
    }

    ~TBackgroundRun()
    {
        if (!result_.valid() || result_.wait_for(0s) == std::future_status::ready)
            return;
        if (fifo_)
            fifo_->Release();
        if (result_.wait_for(2s) != std::future_status::ready) {
            int pid = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                pid = pid_;
            }
            if (pid > 0)
                ::kill(pid, SIGKILL);
            else
                TerminateApp(program_);
        }
    }

private:
    std::string program_;
    TFifo* fifo_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> seen_;
    int pid_ = 0;
    std::future<std::uint32_t> result_;
};

// Waits (at most 10 s) until this process has a child running exe.
bool WaitForChildRunning(const std::string& exe)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        for (int pid : ChildProcessesOf(static_cast<int>(::getpid())))
            if (GetProcessExePath(pid) == exe)
                return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

bool ProcessExists(int pid)
{
    return ::kill(pid, 0) == 0;
}

}  // namespace

TEST(Processes, ExePathAndChildren)
{
    EXPECT_EQ(GetProcessExePath(::getpid()), fs::canonical("/proc/self/exe").string());
    EXPECT_EQ(GetProcessExePath(0), "");
    EXPECT_EQ(GetProcessExePath(-5), "");
    EXPECT_EQ(GetProcessExePath(std::numeric_limits<int>::max()), "");
    EXPECT_TRUE(ChildProcessesOf(std::numeric_limits<int>::max()).empty());
    EXPECT_FALSE(TerminateApp(""));
    EXPECT_FALSE(TerminateApp("/no/such/encoder"));
}

TEST(Processes, TerminateAppEndsEveryMatchingChild)
{
    TempDir dir;
    const std::string encoder = InstallFakeEncoder(dir);
    TFifo fifo1(dir.File("fifo1"));
    TFifo fifo2(dir.File("fifo2"));
    TBackgroundRun run1(encoder, {"hold", fifo1.Path()}, &fifo1);
    TBackgroundRun run2(encoder, {"hold", fifo2.Path()}, &fifo2);
    ASSERT_TRUE(run1.WaitForLine("ready"));
    ASSERT_TRUE(run2.WaitForLine("ready"));

    // The script runs under its interpreter: found by its name in the arguments.
    EXPECT_TRUE(TerminateApp(encoder));
    EXPECT_EQ(run1.Result(), 128 + SIGKILL);
    EXPECT_EQ(run2.Result(), 128 + SIGKILL);
    EXPECT_FALSE(TerminateApp(encoder));  // nothing left to end
}

TEST(Processes, TerminateAppLeavesOtherProcessesAlone)
{
    TempDir dir;
    const std::string encoder = InstallFakeEncoder(dir);
    const std::string launcher = InstallFakeEncoder(dir, "launcher.sh");
    TFifo fifo(dir.File("fifo"));
    // The encoder runs as a child of the launcher, not of this process.
    TBackgroundRun run(launcher, {"spawn", encoder, fifo.Path()}, &fifo);
    // Two processes write to the same pipe: the encoder's "ready" may come
    // before or after the launcher's "started".
    ASSERT_TRUE(run.WaitForLine("ready"));
    ASSERT_TRUE(run.WaitForLine("started "));
    const std::string started = run.Line("started ");
    const int grandchild = std::stoi(started.substr(8));

    EXPECT_FALSE(TerminateApp(encoder));
    EXPECT_TRUE(ProcessExists(grandchild));

    fifo.Release();
    EXPECT_EQ(run.Result(), 0);
}

TEST(Processes, TerminateAppFollowsLinksAndExpandsBareNames)
{
    TempDir dir;
    const std::string sleepPath = FindExecutable("sleep");
    ASSERT_FALSE(sleepPath.empty());
    const std::string real = fs::canonical(sleepPath).string();
    // A link with ")" and blanks in its name: the child's command name holds them too.
    const std::string link = dir.File("ff) mpeg (x");
    fs::create_symlink(real, link);

    {
        TBackgroundRun run(link, {"20"});
        ASSERT_TRUE(WaitForChildRunning(real));
        EXPECT_TRUE(TerminateApp(link));
        EXPECT_EQ(run.Result(), 128 + SIGKILL);
    }

    // A bare name means the file in the current directory.
    const fs::path before = fs::current_path();
    TBackgroundRun run(link, {"20"});
    ASSERT_TRUE(WaitForChildRunning(real));
    fs::current_path(dir.Path());
    const bool unknownName = TerminateApp("sleep-not-here");
    const bool bareName = TerminateApp("ff) mpeg (x");
    fs::current_path(before);
    EXPECT_FALSE(unknownName);
    EXPECT_TRUE(bareName);
    EXPECT_EQ(run.Result(), 128 + SIGKILL);

    // A link to the stand-in script matches the script's interpreter child.
    const std::string encoder = InstallFakeEncoder(dir);
    const std::string scriptLink = dir.File("ffmpeg");
    fs::create_symlink(encoder, scriptLink);
    TFifo fifo(dir.File("fifo"));
    TBackgroundRun held(scriptLink, {"hold", fifo.Path()}, &fifo);
    ASSERT_TRUE(held.WaitForLine("ready"));
    EXPECT_TRUE(TerminateApp(encoder));
    EXPECT_EQ(held.Result(), 128 + SIGKILL);
}
