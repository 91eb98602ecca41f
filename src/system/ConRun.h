// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs a console program without a shell, with its standard output and standard
// error captured on one pipe as a list of lines, and returns its exit code.
//
// A line is completed by CR; an LF only marks that the next completed line
// starts a new entry, so a progress display rewritten in place with CR keeps a
// single entry. Console programs on Linux end their lines with a lone LF, so the
// runner by default also lets an LF that doesn't follow a CR complete the line,
// exactly as CR LF would (TLineEndRule).

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// Called after every completed line with the child's process id and the line.
using TConsoleLineEvent = std::function<void(int pid, const std::string& line)>;
// Called about every ConsoleTickInterval while the child runs, whether it prints
// or not, with its process id: a window lets its events run here.
using TConsoleTick = std::function<void(int pid)>;
constexpr std::chrono::milliseconds ConsoleTickInterval{100};

// "Could not find file %s" and the like; nothing was started when it is thrown.
class EConsoleError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The exit code reported for a program still running 5000 ms after its output ended.
constexpr std::uint32_t StillActiveExitCode = 259;

enum class TLineEndRule {
    // CR completes a line; LF only marks that the next completed line starts a
    // new entry (CR LF text: one entry per line).
    CrCompletes,
    // As above, and an LF that doesn't directly follow a CR acts as CR LF (LF text:
    // one entry per line). What the runner uses unless told otherwise.
    LoneLfCompletes,
};

// The line-completion rules on their own: bytes in, entries out. Every entry
// holds at most LineMax bytes; a longer line is completed at that length.
class TConsoleLineCollector {
public:
    static constexpr std::size_t LineMax = 1024;

    TConsoleLineCollector(std::vector<std::string>* lines, TConsoleLineEvent onLine, int pid = 0,
                          TLineEndRule rule = TLineEndRule::CrCompletes);
    void Feed(const char* data, std::size_t count);
    // The final completion after the output has ended (also for an empty buffer).
    void Finish();
    void SetPid(int pid) { pid_ = pid; }

private:
    void Complete();

    std::vector<std::string>* lines_;
    TConsoleLineEvent onLine_;
    int pid_;
    TLineEndRule rule_;
    std::string buffer_;
    bool newLine_ = true;
    bool lineEnded_ = false;  // the line just ended by CR or at the length limit
};

// program: a path, or a bare name looked up on PATH (any executable file, a
// script with "#!" included). args are passed as they are, one argument each.
// workDir, when given, is the child's working directory.
// A child ended by a signal reports 128 + the signal number.
std::uint32_t RunConsoleApp(const std::string& program, const std::vector<std::string>& args,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine);

std::uint32_t RunConsoleApp(const std::string& program, const std::vector<std::string>& args,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine, TLineEndRule rule,
                            const TConsoleTick& onTick = {}, const std::string& workDir = {});

// The same with a parameter text, split into arguments by the command-line rules
// (blanks separate, double quotes group and are dropped, no escape character).
std::uint32_t RunConsoleApp(const std::string& program, const std::string& params,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine);

// Starts a program on its own (no shell, arguments passed byte for byte), in a
// session of its own, never waited for by the caller; false when it could not be
// started. The started process id goes to startedPid.
bool StartDetached(const std::string& program, const std::vector<std::string>& args, std::int64_t* startedPid);

// The same, with no standard output or error of this process's given to it: a
// caller reading them (a script's "$(...)") would wait for as long as it runs.
bool StartDetachedWithoutOutput(const std::string& program, const std::vector<std::string>& args);

// A run whose standard output is kept whole (for a program that prints one
// document) and whose standard error is kept apart.
struct TCapturedRun {
    std::uint32_t ExitCode = 0;
    std::string Out;      // at most the run's limit
    std::string Err;      // at most CapturedErrorMax bytes
    bool Stopped = false; // ended because the caller asked to
    bool TooLong = false; // ended because it printed more than the limit
};
constexpr std::size_t CapturedErrorMax = 64 * 1024;
// Starts program in a process group of its own (no shell) and collects its
// output. shouldStop is asked about every ConsoleTickInterval; when it says yes
// the group gets SIGTERM, and SIGKILL two seconds later if still there.
// workDir, when given, is the child's working directory.
TCapturedRun RunCaptured(const std::string& program, const std::vector<std::string>& args, std::size_t outLimit,
                         const std::function<bool()>& shouldStop, const std::string& workDir = {});

// Ends (SIGTERM, or SIGKILL when forced) the process group led by a child that
// RunConsoleApp started: the child and whatever it started in turn. False when
// there is none.
bool EndProcessGroup(int leaderPid, bool force = false);
// Waits until no process of the group led by leaderPid is left (its leader
// already waited for); after timeout the rest get SIGKILL. True when none was left
// by then.
bool WaitForProcessGroupEnd(int leaderPid, std::chrono::milliseconds timeout);
