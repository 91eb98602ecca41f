// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Facts about the running process: its executable and its locale.

#include <string>
#include <vector>

// Full path of the running executable (from /proc/self/exe); empty when unknown.
std::string ExecutablePath();

// The locale of the process: LC_ALL, then LC_MESSAGES, then LANG; "" when none is set.
std::string ProcessLocaleName();

// True when the locale's language is Polish ("pl", "pl_PL.UTF-8", ...).
bool LocaleIsPolish(const std::string& localeName);

// The program's arguments in UTF-8, its own name first: argv as it is on POSIX
// systems; on Windows the process's command line (UTF-16) split by
// CommandLineToArgvW, since argv is in the ANSI code page there.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes a shell link (a Windows .lnk through IShellLinkW) at linkPath that
// starts target in workDir, with description and iconPath (may be empty);
// false when it can't, and always on systems without shell links.
bool MakeShellLink(const std::string& linkPath, const std::string& target, const std::string& workDir,
                   const std::string& description, const std::string& iconPath);

// Whether this process's standard error is a terminal.
bool StandardErrorIsTerminal();
// This process's working folder; empty when it can't be told.
std::string WorkingDir();
// This machine's name; empty when it can't be told.
std::string HostName();
