// SPDX-License-Identifier: GPL-3.0-or-later
// Interrupts on Windows: the console's control handler (Ctrl+C, Ctrl+Break,
// the console closing), and UTF-8 output through the console's code page.
#include "system/Interrupts.h"

#include <windows.h>

#include <atomic>

namespace {
std::atomic<TInterruptHandler> Handler{nullptr};

BOOL WINAPI OnControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        if (const TInterruptHandler handler = Handler.load())
            handler();
        return TRUE;  // the program ends by itself, its partial file named
    default:
        return FALSE;
    }
}
} // namespace

void CatchInterrupts(TInterruptHandler onInterrupt)
{
    Handler.store(onInterrupt);
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

void UseUtf8Terminal()
{
    ::SetConsoleOutputCP(CP_UTF8);
}
