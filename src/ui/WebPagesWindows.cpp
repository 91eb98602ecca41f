// SPDX-License-Identifier: GPL-3.0-or-later
// Web pages on Windows: the shell opens the address with the user's browser.
#include "ui/WebPages.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

bool OpenWebPage(const QUrl& url)
{
    if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https"))
        return false;
    const std::wstring address = url.toString(QUrl::FullyEncoded).toStdWString();
    // ShellExecuteW answers a number above 32 when it has handed the address on.
    const auto answer = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return answer > 32;
}
