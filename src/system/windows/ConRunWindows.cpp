// SPDX-License-Identifier: GPL-3.0-or-later
// Console runner on Windows: the child is started with CreateProcessW (never
// through a shell; its command line quoted by ProcessCommandLine), without a
// window, standard output and standard error on one pipe, standard input from
// NUL, and only those handles inherited. Each child runs in a Job Object of its
// own that ends everything in it when the job is closed: the job stands where
// POSIX systems have the child's process group.

#include "system/ConRun.h"

#include "base/ZQ_Strings.h"
#include "system/ProcessCommandLine.h"
#include "system/ZQ_FileSystem.h"
#include "system/windows/WinText.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace {

// Exit codes a job gets when it is ended: as a POSIX child ended by SIGTERM or
// SIGKILL reports them (128 + the signal number).
constexpr UINT EndedExitCode = 143;
constexpr UINT KilledExitCode = 137;

// The jobs of the children still known, by the child's process id.
std::mutex jobsMutex;
std::map<int, HANDLE>& Jobs()
{
    static std::map<int, HANDLE> jobs;
    return jobs;
}

HANDLE JobOf(int pid)
{
    std::lock_guard lock(jobsMutex);
    const auto it = Jobs().find(pid);
    return it == Jobs().end() ? nullptr : it->second;
}

void ForgetJob(int pid)
{
    HANDLE job = nullptr;
    {
        std::lock_guard lock(jobsMutex);
        const auto it = Jobs().find(pid);
        if (it == Jobs().end())
            return;
        job = it->second;
        Jobs().erase(it);
    }
    ::CloseHandle(job);  // ends whatever is still in it
}

DWORD ActiveProcesses(HANDLE job)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    if (!::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr))
        return 0;
    return info.ActiveProcesses;
}

// A pipe whose read end stays here and whose write end the child inherits.
bool OpenPipe(THandle& readEnd, THandle& writeEnd)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!::CreatePipe(&r, &w, &sa, 0))
        return false;
    ::SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0);
    readEnd.Reset(r);
    writeEnd.Reset(w);
    return true;
}

struct TChild {
    THandle Process;
    int Pid = 0;
};

// Starts path with args: standard input from NUL, standard output to out and
// standard error to err; in a job of its own (registered under its process id)
// when inJob. Returns 0 or the system's error code.
DWORD StartProgram(const std::string& path, const std::vector<std::string>& args, HANDLE out, HANDLE err,
                   const std::string& workDir, TChild& child)
{
    const std::string line = WindowsCommandLine(path, args);
    if (line.empty())
        return ERROR_INVALID_NAME;
    std::wstring commandLine = WideText(line);
    const std::wstring application = WidePath(path);
    const std::wstring dir = workDir.empty() ? std::wstring() : WidePath(workDir);

    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    THandle nul(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0,
                              nullptr));
    if (!nul.Valid())
        return ::GetLastError();

    // Only these handles go to the child: a pipe of another run started at the
    // same moment must never stay open in this one.
    HANDLE inherited[3] = {nul.Get(), out, err};
    const DWORD inheritedCount = err == out ? 2 : 3;
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size))
        return ::GetLastError();
    ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                inheritedCount * sizeof(HANDLE), nullptr, nullptr);

    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = nul.Get();
    si.StartupInfo.hStdOutput = out;
    si.StartupInfo.hStdError = err;
    si.lpAttributeList = list;

    THandle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job.Valid()) {
        ::DeleteProcThreadAttributeList(list);
        return ::GetLastError();
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    PROCESS_INFORMATION pi{};
    const BOOL started = ::CreateProcessW(
        application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
        CREATE_NO_WINDOW | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT, nullptr,
        dir.empty() ? nullptr : dir.c_str(), &si.StartupInfo, &pi);
    const DWORD error = started ? 0 : ::GetLastError();
    ::DeleteProcThreadAttributeList(list);
    if (!started)
        return error;
    // In the job before it runs a single instruction, so nothing it starts escapes.
    if (!::AssignProcessToJobObject(job.Get(), pi.hProcess)) {
        const DWORD assignError = ::GetLastError();
        ::TerminateProcess(pi.hProcess, KilledExitCode);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
        return assignError;
    }
    ::ResumeThread(pi.hThread);
    ::CloseHandle(pi.hThread);
    child.Process.Reset(pi.hProcess);
    child.Pid = static_cast<int>(pi.dwProcessId);
    std::lock_guard lock(jobsMutex);
    Jobs()[child.Pid] = job.Release();
    return 0;
}

std::string StartError(const std::string& path, DWORD error)
{
    return "Could not start " + path + ": " + WindowsErrorText(error);
}

std::uint32_t ExitCodeOf(HANDLE process)
{
    DWORD code = StillActiveExitCode;
    ::GetExitCodeProcess(process, &code);
    return code;
}

// After the child itself has ended, whatever it left running that still holds
// the pipe gets this long to finish its output; then the reading stops.
constexpr DWORD ChildExitGraceMs = 2000;
// How long a look at the pipe waits when nothing is there.
constexpr DWORD IdleWaitMs = 15;

// After a run: a job with nothing left in it goes at once; one with processes
// still running stays known, so that EndProcessGroup and WaitForProcessGroupEnd
// reach them (and they go with this process at the latest).
void SettleJob(int pid)
{
    HANDLE job = JobOf(pid);
    if (job && ActiveProcesses(job) == 0)
        ForgetJob(pid);
}

// Reads what is there on a pipe; false when the pipe has ended (every writer gone).
bool ReadAvailable(HANDLE pipe, char* buffer, DWORD size, DWORD& got)
{
    got = 0;
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
        return false;
    if (available == 0)
        return true;
    return ::ReadFile(pipe, buffer, std::min(available, size), &got, nullptr) != 0;
}

}  // namespace

bool StartDetached(const std::string& program, const std::vector<std::string>& args, std::int64_t* startedPid)
{
    const std::string path = FindExecutable(program);
    if (path.empty())
        return false;
    const std::string line = WindowsCommandLine(path, args);
    if (line.empty())
        return false;
    std::wstring commandLine = WideText(line);
    const std::wstring application = WidePath(path);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // No handle inherited, a process group of its own, out of any job of ours.
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT | CREATE_BREAKAWAY_FROM_JOB, nullptr,
                          nullptr, &si, &pi) &&
        !::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &si, &pi))
        return false;
    if (startedPid)
        *startedPid = static_cast<std::int64_t>(pi.dwProcessId);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

bool StartDetachedWithoutOutput(const std::string& program, const std::vector<std::string>& args)
{
    return StartDetached(program, args, nullptr);  // it inherits no handle at all
}

bool EndProcessGroup(int leaderPid, bool force)
{
    HANDLE job = JobOf(leaderPid);
    if (!job)
        return false;
    // Windows has no polite request a console program without a console would
    // see: the job's processes end at once either way.
    return ::TerminateJobObject(job, force ? KilledExitCode : EndedExitCode) != 0;
}

bool WaitForProcessGroupEnd(int leaderPid, std::chrono::milliseconds timeout)
{
    HANDLE job = JobOf(leaderPid);
    if (!job)
        return true;
    const auto end = std::chrono::steady_clock::now() + timeout;
    bool none = false;
    while (!(none = ActiveProcesses(job) == 0) && std::chrono::steady_clock::now() < end)
        ::Sleep(IdleWaitMs);
    ForgetJob(leaderPid);  // whatever is left ends with the job
    return none;
}

std::uint32_t RunConsoleApp(const std::string& program, const std::vector<std::string>& args,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine, TLineEndRule rule,
                            const TConsoleTick& onTick, const std::string& workDir)
{
    // A name with a folder is taken as it is, a bare name is looked up beside
    // the program and on PATH (.exe and .com only: a batch file would run
    // through the command interpreter, which reads its arguments as commands).
    const std::string path = FindExecutable(program);
    if (path.empty())
        throw EConsoleError("Could not find file " + program);

    THandle readEnd;
    THandle writeEnd;
    if (!OpenPipe(readEnd, writeEnd))
        throw EConsoleError(StartError(path, ::GetLastError()));
    TChild child;
    const DWORD error = StartProgram(path, args, writeEnd.Get(), writeEnd.Get(), workDir, child);
    if (error != 0)
        throw EConsoleError(StartError(path, error));
    // Only the child (and whatever it starts) holds the write end now.
    writeEnd.Close();

    struct TSettle {
        int pid;
        ~TSettle() { SettleJob(pid); }
    } settle{child.Pid};

    TConsoleLineCollector collector(lines, onLine, child.Pid, rule);
    char chunk[1025];
    using Clock = std::chrono::steady_clock;
    Clock::time_point nextTick = Clock::now() + ConsoleTickInterval;
    bool ended = false;
    Clock::time_point graceEnd{};
    for (;;) {
        if (onTick && Clock::now() >= nextTick) {
            onTick(child.Pid);
            nextTick = Clock::now() + ConsoleTickInterval;
            continue;
        }
        DWORD got = 0;
        if (!ReadAvailable(readEnd.Get(), chunk, sizeof chunk, got))
            break;
        if (got > 0) {
            collector.Feed(chunk, got);
            continue;
        }
        if (!ended && ::WaitForSingleObject(child.Process.Get(), 0) == WAIT_OBJECT_0) {
            ended = true;
            graceEnd = Clock::now() + std::chrono::milliseconds(ChildExitGraceMs);
        }
        if (ended && Clock::now() >= graceEnd)
            break;
        if (ended)
            ::Sleep(IdleWaitMs);
        else
            ::WaitForSingleObject(child.Process.Get(), IdleWaitMs);
    }
    readEnd.Close();
    std::uint32_t exitCode = StillActiveExitCode;
    if (::WaitForSingleObject(child.Process.Get(), 5000) == WAIT_OBJECT_0)
        exitCode = ExitCodeOf(child.Process.Get());
    collector.Finish();
    return exitCode;
}

std::uint32_t RunConsoleApp(const std::string& program, const std::vector<std::string>& args,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine)
{
    return RunConsoleApp(program, args, lines, onLine, TLineEndRule::LoneLfCompletes);
}

std::uint32_t RunConsoleApp(const std::string& program, const std::string& params,
                            std::vector<std::string>* lines, const TConsoleLineEvent& onLine)
{
    return RunConsoleApp(program, SplitCommandLine(params), lines, onLine, TLineEndRule::LoneLfCompletes);
}

TCapturedRun RunCaptured(const std::string& program, const std::vector<std::string>& args, std::size_t outLimit,
                         const std::function<bool()>& shouldStop, const std::string& workDir)
{
    const std::string path = FindExecutable(program);
    if (path.empty())
        throw EConsoleError("Could not find file " + program);

    THandle outRead, outWrite, errRead, errWrite;
    if (!OpenPipe(outRead, outWrite) || !OpenPipe(errRead, errWrite))
        throw EConsoleError(StartError(path, ::GetLastError()));
    TChild child;
    const DWORD error = StartProgram(path, args, outWrite.Get(), errWrite.Get(), workDir, child);
    if (error != 0)
        throw EConsoleError(StartError(path, error));
    outWrite.Close();
    errWrite.Close();

    TCapturedRun run;
    using Clock = std::chrono::steady_clock;
    bool ended = false;
    Clock::time_point graceEnd{};
    char chunk[16384];
    while (outRead.Valid() || errRead.Valid()) {
        if (!run.Stopped && shouldStop && shouldStop()) {
            run.Stopped = true;
            EndProcessGroup(child.Pid);
        }
        bool any = false;
        for (int i = 0; i < 2; ++i) {
            THandle& pipe = i == 0 ? outRead : errRead;
            if (!pipe.Valid())
                continue;
            DWORD got = 0;
            if (!ReadAvailable(pipe.Get(), chunk, sizeof chunk, got)) {
                pipe.Close();
                continue;
            }
            if (got == 0)
                continue;
            any = true;
            std::string& into = i == 0 ? run.Out : run.Err;
            const std::size_t limit = i == 0 ? outLimit : CapturedErrorMax;
            const std::size_t room = into.size() < limit ? limit - into.size() : 0;
            into.append(chunk, std::min<std::size_t>(room, got));
            if (i == 0 && got > room) {
                run.TooLong = true;
                EndProcessGroup(child.Pid);
            }
        }
        if (any)
            continue;
        if (!ended && ::WaitForSingleObject(child.Process.Get(), 0) == WAIT_OBJECT_0) {
            ended = true;
            graceEnd = Clock::now() + std::chrono::milliseconds(ChildExitGraceMs);
        }
        if (ended && Clock::now() >= graceEnd)
            break;
        if (ended)
            ::Sleep(IdleWaitMs);
        else
            ::WaitForSingleObject(child.Process.Get(), IdleWaitMs);
    }
    run.ExitCode = StillActiveExitCode;
    if (::WaitForSingleObject(child.Process.Get(), 5000) == WAIT_OBJECT_0)
        run.ExitCode = ExitCodeOf(child.Process.Get());
    if (run.Stopped || run.TooLong)
        WaitForProcessGroupEnd(child.Pid, std::chrono::seconds(3));
    else
        SettleJob(child.Pid);
    return run;
}
