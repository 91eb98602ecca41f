// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's shortcut: a desktop entry file in a folder (the desktop or the
// applications menu). The folders themselves are found by the window layer
// (ZQ_ShellFolders.h); these functions work on plain folder paths.

#include <string>

// Where the shortcut file lives: folder + "/" + file name.
std::string ShortcutPath(const std::string& folder, const std::string& fileName);

// True when a file with the shortcut's name exists in the folder. An empty
// folder (unknown) gives false.
bool ShortcutExists(const std::string& folder, const std::string& fileName);

// Writes a desktop entry that starts target in its own directory. A missing
// folder is created (one level). An existing file of that name is replaced.
// iconPath may be empty (no Icon key). Errors are swallowed.
void CreateShortcut(const std::string& description, const std::string& target, const std::string& folder,
                    const std::string& fileName, const std::string& iconPath = std::string());

// Deletes the shortcut file when it exists. Errors are swallowed.
void DeleteShortcut(const std::string& folder, const std::string& fileName);

// The entry's text: [Desktop Entry], Type, Name, Exec, Path and Icon.
std::string DesktopEntryText(const std::string& description, const std::string& target,
                             const std::string& iconPath);

// A value of a desktop entry key with "\", line breaks and tabs escaped.
std::string EscapeDesktopValue(const std::string& value);
// One Exec argument: always in double quotes, with '"', '`', '$' and '\'
// escaped by a backslash and '%' doubled.
std::string QuoteExecArgument(const std::string& argument);
