// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The terminal program's side of its terminal: being interrupted (Ctrl+C) and
// writing UTF-8. POSIX: posix/InterruptsPosix.cpp (signals); Windows:
// windows/InterruptsWindows.cpp (the console's control handler, its code page).

// Called when the user interrupts the program from its terminal (Ctrl+C) or it
// is asked to end (SIGTERM; Ctrl+Break or the console window closing on
// Windows). It may only set a flag: it runs in a signal handler or on a thread
// of the system's.
using TInterruptHandler = void (*)();
void CatchInterrupts(TInterruptHandler onInterrupt);

// Makes the terminal show the program's UTF-8 output as such (the Windows
// console's output code page); nothing to do on other systems.
void UseUtf8Terminal();
