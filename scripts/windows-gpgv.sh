#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds gpgv.exe, the signature checker of the page engine's update, from
# Debian's gnupg2 source against Debian's mingw builds of libgcrypt,
# libgpg-error, libassuan, libksba and npth, linked static (one file beside
# brimtale.exe, no DLLs). Only what gpgv needs is built: common/, kbx/,
# regexp/ and g10/gpgv.exe. Called by scripts/windows.sh, which keys its cache
# by a hash of this file (apart from the other cross libraries).
#   windows-gpgv.sh PREFIX WORKDIR
set -euo pipefail
prefix=$1 work=$2
jobs=${BRIMTALE_JOBS:-2}
host=x86_64-w64-mingw32
sysroot=/usr/$host
mkdir -p "$prefix/bin" "$work"
cd "$work"

src=$(find . -maxdepth 1 -type d -name "gnupg2-[0-9]*" | head -n 1)
if [ -z "$src" ]; then
  apt-get source -qq gnupg2 >/dev/null
  src=$(find . -maxdepth 1 -type d -name "gnupg2-[0-9]*" | head -n 1)
fi
src=$(cd "$src" && pwd)

# The libraries' own -config scripts live beside their mingw builds.
export PATH=$sysroot/bin:$PATH
mkdir -p build
cd build
echo "== gnupg2 (gpgv.exe only)"
"$src/configure" --host=$host CC=$host-gcc-posix \
  --with-libgpg-error-prefix=$sysroot --with-libgcrypt-prefix=$sysroot \
  --with-libassuan-prefix=$sysroot --with-ksba-prefix=$sysroot --with-npth-prefix=$sysroot \
  --disable-gpgsm --disable-scdaemon --disable-dirmngr --disable-doc --disable-gpgtar \
  --disable-wks-tools --disable-tofu --disable-libdns --disable-card-support \
  --disable-ccid-driver --disable-sqlite --disable-ntbtls --disable-gnutls --disable-ldap \
  --disable-nls --disable-bzip2 --disable-zip --disable-exec --disable-photo-viewers \
  --without-readline >configure.log 2>&1 || { tail -30 configure.log; exit 1; }
# gnupg's own warnings go to make.log; its end is shown when a step fails.
step() { "$@" >>make.log 2>&1 || { tail -40 make.log; exit 1; }; }
step make -j"$jobs" -C common libcommon.a libgpgrl.a
step make -j"$jobs" -C kbx libkeybox.a
step make -j"$jobs" -C regexp libregexp.a
# Static: libgpg-error's streams use Winsock, so ws2_32 comes last again.
step make -j"$jobs" -C g10 gpgv.exe LDFLAGS=-static LIBS=-lws2_32
$host-strip -o "$prefix/bin/gpgv.exe" g10/gpgv.exe
if $host-objdump -p "$prefix/bin/gpgv.exe" | grep -Ei "DLL Name: *lib"; then
  echo "gpgv.exe still needs a mingw DLL" >&2
  exit 1
fi
