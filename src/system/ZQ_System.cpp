// SPDX-License-Identifier: GPL-3.0-or-later
// Facts about the running process, the part every system shares; the calls are
// in posix/SystemPosix.cpp and windows/SystemWindows.cpp.
#include "system/ZQ_System.h"

bool LocaleIsPolish(const std::string& localeName)
{
    // The language is the part before "_", "." or "@".
    std::string language;
    for (char c : localeName) {
        if (c == '_' || c == '.' || c == '@' || c == '-')
            break;
        language.push_back(static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c));
    }
    return language == "pl";
}
