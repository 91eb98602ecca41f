// SPDX-License-Identifier: GPL-3.0-or-later
// Facts about the running process, asked of Windows.
#include "system/ZQ_System.h"

#include "system/windows/WinText.h"

#include <cstdlib>
#include <io.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

std::string ExecutablePath()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return PathFromWide(buffer);
        }
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string ProcessLocaleName()
{
    // The variables a user may set win, as on other systems; then the user's
    // own language ("pl-PL").
    for (const wchar_t* name : {L"LC_ALL", L"LC_MESSAGES", L"LANG"}) {
        const wchar_t* value = ::_wgetenv(name);
        if (value && *value)
            return Utf8Text(value);
    }
    wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
    if (::GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH) > 0)
        return Utf8Text(locale);
    return {};
}

std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/)
{
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide)
        return args;
    for (int i = 0; i < count; ++i)
        args.push_back(Utf8Text(wide[i]));
    ::LocalFree(wide);
    return args;
}

bool StandardErrorIsTerminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string WorkingDir()
{
    const DWORD need = ::GetCurrentDirectoryW(0, nullptr);
    if (need == 0)
        return {};
    std::wstring buffer(need, L'\0');
    const DWORD n = ::GetCurrentDirectoryW(need, buffer.data());
    if (n == 0 || n >= need)
        return {};
    buffer.resize(n);
    return PathFromWide(buffer);
}

std::string HostName()
{
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(buffer, &size))
        return {};
    return Utf8Text(std::wstring(buffer, size));
}

bool MakeShellLink(const std::string& linkPath, const std::string& target, const std::string& workDir,
                   const std::string& description, const std::string& iconPath)
{
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool made = false;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&link)))) {
        // Plain paths here: a shell link keeps what it is given.
        const auto plain = [](const std::string& path) {
            std::wstring wide = WideText(path);
            for (wchar_t& c : wide)
                if (c == L'/')
                    c = L'\\';
            return wide;
        };
        link->SetPath(plain(target).c_str());
        link->SetWorkingDirectory(plain(workDir).c_str());
        link->SetDescription(WideText(description).c_str());
        link->SetIconLocation(plain(iconPath.empty() ? target : iconPath).c_str(), 0);
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            made = SUCCEEDED(file->Save(plain(linkPath).c_str(), TRUE));
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(init))
        ::CoUninitialize();
    return made;
}
