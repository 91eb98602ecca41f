// SPDX-License-Identifier: GPL-3.0-or-later
// Process lookup on Windows: the process list from a Toolhelp32 snapshot, each
// executable from QueryFullProcessImageNameW.

#include "system/ZQ_Processes.h"

#include "system/ZQ_FileSystem.h"
#include "system/windows/WinText.h"

#include <tlhelp32.h>

namespace {

// Paths compared as Windows compares them: the final path, without regard to case.
std::wstring ComparablePath(const std::string& path)
{
    std::wstring wide = WidePath(path);
    HANDLE h = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        std::wstring final(32768, L'\0');
        const DWORD n = ::GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()), 0);
        ::CloseHandle(h);
        if (n > 0 && n < final.size()) {
            final.resize(n);
            wide = final;
        }
    }
    if (!wide.empty())
        ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return wide;
}

}  // namespace

std::string GetProcessExePath(int pid)
{
    THandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    if (!process.Valid())
        return {};
    std::wstring buffer(32768, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!::QueryFullProcessImageNameW(process.Get(), 0, buffer.data(), &size))
        return {};
    buffer.resize(size);
    return PathFromWide(buffer);
}

std::vector<int> ChildProcessesOf(int parentPid)
{
    std::vector<int> children;
    THandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid())
        return children;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry))
        if (static_cast<int>(entry.th32ParentProcessID) == parentPid && entry.th32ProcessID != 0)
            children.push_back(static_cast<int>(entry.th32ProcessID));
    return children;
}

bool TerminateApp(const std::string& exePath)
{
    if (exePath.empty())
        return false;
    const std::wstring wanted = ComparablePath(exePath);
    bool ended = false;
    for (const int pid : ChildProcessesOf(static_cast<int>(::GetCurrentProcessId()))) {
        const std::string path = GetProcessExePath(pid);
        if (path.empty() || ComparablePath(path) != wanted)
            continue;
        THandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid)));
        if (process.Valid() && ::TerminateProcess(process.Get(), 1))
            ended = true;
    }
    return ended;
}

int ProcessEndDescriptor(std::int64_t /*pid*/)
{
    return -1;
}

bool ProcessHasEnded(std::int64_t pid)
{
    THandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    DWORD code = 0;
    if (!process.Valid())
        return ::GetLastError() == ERROR_INVALID_PARAMETER;  // no process has the id
    return ::GetExitCodeProcess(process.Get(), &code) && code != STILL_ACTIVE;
}

void AskProcessToEnd(std::int64_t pid)
{
    THandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid)));
    if (process.Valid())
        ::TerminateProcess(process.Get(), 143);
}
