// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the Windows tests' stand-in programs share: their arguments as the
// command line gave them, their own folder, and whole-file reads and writes.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace standin {
inline std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

inline bool ReadAll(const std::wstring& path, std::string& bytes)
{
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    ::CloseHandle(h);
    return true;
}

inline bool WriteAll(const std::wstring& path, const std::string& bytes, bool mustBeNew)
{
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, mustBeNew ? CREATE_NEW : CREATE_ALWAYS, 0,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD wrote = 0;
    const bool ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
                    wrote == bytes.size();
    ::CloseHandle(h);
    return ok;
}

// The arguments after the program's own name, split as CommandLineToArgvW does.
inline std::vector<std::wstring> Arguments()
{
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    if (argv && count > 1)
        args.assign(argv + 1, argv + count);
    ::LocalFree(argv);
    return args;
}

// The folder of the program's own file, with its final backslash.
inline std::wstring OwnFolder()
{
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    return self.substr(0, self.find_last_of(L"\\/") + 1);
}
} // namespace standin
