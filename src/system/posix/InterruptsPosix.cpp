// SPDX-License-Identifier: GPL-3.0-or-later
// Interrupts on POSIX systems: SIGINT and SIGTERM.
#include "system/Interrupts.h"

#include <csignal>

namespace {
volatile TInterruptHandler Handler = nullptr;

extern "C" void OnSignal(int)
{
    if (const TInterruptHandler handler = Handler)
        handler();
}
} // namespace

void CatchInterrupts(TInterruptHandler onInterrupt)
{
    Handler = onInterrupt;
    struct sigaction interrupt {};
    interrupt.sa_handler = OnSignal;
    sigemptyset(&interrupt.sa_mask);
    ::sigaction(SIGINT, &interrupt, nullptr);
    ::sigaction(SIGTERM, &interrupt, nullptr);
}

void UseUtf8Terminal()
{
}
