// SPDX-License-Identifier: GPL-3.0-or-later
// Facts about the running process, asked of a POSIX system (Linux: /proc).
#include "system/ZQ_System.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

std::string ExecutablePath()
{
    char buffer[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::string ProcessLocaleName()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return {};
}

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + (argc > 0 ? argc : 0));
}

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

std::string WorkingDir()
{
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

std::string HostName()
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0)
        return {};
    return buffer;
}

bool MakeShellLink(const std::string&, const std::string&, const std::string&, const std::string&,
                   const std::string&)
{
    return false;  // desktop entries stand for shell links here (shell/ZQ_Shortcuts.cpp)
}
