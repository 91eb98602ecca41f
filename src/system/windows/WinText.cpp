// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/windows/WinText.h"

#include <vector>

std::wstring WideText(const std::string& text)
{
    if (text.empty())
        return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Utf8Text(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr,
                              nullptr);
    return narrow;
}

std::wstring WidePath(const std::string& path)
{
    std::wstring wide = WideText(path);
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    if (wide.empty() || wide.rfind(L"\\\\?\\", 0) == 0)
        return wide;
    // GetFullPathNameW makes it absolute and takes "." and ".." away, which the
    // long form no longer would.
    const DWORD need = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (need == 0)
        return wide;
    std::wstring full(need, L'\0');
    const DWORD got = ::GetFullPathNameW(wide.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need)
        return wide;
    full.resize(got);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string PathFromWide(const std::wstring& path)
{
    std::wstring p = path;
    if (p.rfind(L"\\\\?\\UNC\\", 0) == 0)
        p = L"\\\\" + p.substr(8);
    else if (p.rfind(L"\\\\?\\", 0) == 0)
        p = p.substr(4);
    for (wchar_t& c : p)
        if (c == L'\\')
            c = L'/';
    return Utf8Text(p);
}

std::string WindowsErrorText(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words = n && text ? std::wstring(text, n) : std::wstring();
    if (text)
        ::LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' ' ||
                              words.back() == L'.'))
        words.pop_back();
    return Utf8Text(words) + " (" + std::to_string(code) + ")";
}
