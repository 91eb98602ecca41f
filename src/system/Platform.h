// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the program is built for, told once here: the code that is the same on
// every system asks these constants instead of testing the system itself.
#ifdef _WIN32
inline constexpr bool OnWindows = true;
// The characters that end a folder's part of a path ("/" is the program's own).
inline constexpr const char* PathSeparators = "/\\";
// What a program file's name ends with.
inline constexpr const char* ExecutableSuffix = ".exe";
// The file of the program's shortcut on the desktop and in the Start Menu.
inline constexpr const char* ShortcutFileOfProgram = "Brimtale.lnk";
#else
inline constexpr bool OnWindows = false;
inline constexpr const char* PathSeparators = "/";
inline constexpr const char* ExecutableSuffix = "";
inline constexpr const char* ShortcutFileOfProgram = "brimtale.desktop";
#endif
