// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Tests of the core that need what the Windows build (run under Wine) lacks
// skip themselves there, one reason for each kind of need:
//   SKIP_ON_WINDOWS(PosixScript);
// A check goes first in a test, or before the part of it that needs the thing:
// what comes before still runs there.

#include <gtest/gtest.h>

namespace skips {

#ifdef _WIN32
inline constexpr bool OnWindows = true;
#else
inline constexpr bool OnWindows = false;
#endif

// A stand-in program written as a "#!/bin/sh" script.
inline constexpr const char* PosixScript = "needs a POSIX stand-in script";
// The real encoder or page engine of Debian (ffmpeg, ffprobe, yt-dlp).
inline constexpr const char* DebianPrograms = "needs the Debian ffmpeg and yt-dlp";
// A child made with fork, or signals sent to processes.
inline constexpr const char* PosixProcesses = "needs fork and POSIX signals";
// The process table of /proc.
inline constexpr const char* ProcFiles = "needs /proc";
// POSIX file modes (read-only folders, executable bits, umask).
inline constexpr const char* FileModes = "needs POSIX file modes";
// Symbolic links and POSIX special files (FIFOs, /dev).
inline constexpr const char* PosixLinks = "needs symbolic links and POSIX special files";

// What Linux alone does: XDG folders, desktop entries, the layout of an
// installed program, file names with trailing dots or blanks, one tree of
// folders with no drives.
inline constexpr const char* LinuxConventions = "tests Linux's own folders, desktop entries and file names";

} // namespace skips

#define SKIP_ON_WINDOWS(reason) \
    if (::skips::OnWindows)     \
    GTEST_SKIP() << ::skips::reason
