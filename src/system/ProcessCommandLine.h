// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command line of a Windows process: one text that the child splits back into
// its arguments (CommandLineToArgvW and the C runtime's rules). Built here so
// that every argument, whatever it holds (quotes, backslashes, blanks, "$( )",
// ";", line breaks), reaches the child as the same text. No shell ever reads it.
#include <string>
#include <vector>

// One argument quoted for the command line: as it is when it has no blank, tab,
// line break or double quote (and is not empty); else in double quotes, with the
// backslashes before a quote (or before the closing quote) doubled and every
// quote escaped with a backslash.
std::string QuoteWindowsArgument(const std::string& arg);

// The whole command line: the program's path in plain double quotes (a Windows
// path can't hold one), then each argument quoted as above, separated by blanks.
// Empty when the program's path holds a double quote or a line break.
std::string WindowsCommandLine(const std::string& program, const std::vector<std::string>& args);

// The arguments after the program's name, split back by the same rules
// (CommandLineToArgvW's for the arguments after the first).
std::vector<std::string> SplitWindowsArguments(const std::string& commandLine);
