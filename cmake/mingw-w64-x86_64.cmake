# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiling Brimtale for 64-bit Windows with Debian's mingw-w64 (posix threads).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# BRIMTALE_WIN_PREFIXES: folders holding the cross-built libraries (curl, libarchive,
# GoogleTest) and, when there is one, Qt for mingw; scripts/windows.sh sets them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(BRIMTALE_WIN_PREFIXES "" CACHE STRING "Folders with the cross-built libraries for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${BRIMTALE_WIN_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under Wine (tests and the encoder's stand-in).
find_program(BRIMTALE_WINE wine)
if(BRIMTALE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BRIMTALE_WINE})
endif()
