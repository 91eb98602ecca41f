#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop notification (a tray balloon) under Wine and Xvfb: the test
# program runs beside Qt's DLLs and plugins of the packages' folder.
#   notify_test.sh BUILD_FOLDER TEST_PROGRAM
set -euo pipefail
build=$(cd "${1:?usage: notify_test.sh BUILD_FOLDER TEST_PROGRAM}" && pwd)
program=${2:?usage: notify_test.sh BUILD_FOLDER TEST_PROGRAM}
if [ -z "${NOTIFY_TEST_INSIDE:-}" ]; then
  exec env NOTIFY_TEST_INSIDE=1 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
export WINEDEBUG=-all
# The Wine server the tests before shared (it stays until it is ended) started
# its desktop without this display, and would put the windows on no screen: it
# is ended first (the tests with windows run alone).
wineserver -k 2>/dev/null || true
stage=$(ls -d "$build"/stage/Brimtale-* | head -n 1)
work=$(mktemp -d /tmp/brimtale-win-notify.XXXXXX)
# Wine's server, started on this display, is waited for until it has ended by
# itself once the test program has ended: the Windows tests that follow start
# their own.
cleanup() {
  wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -r "$stage" "$work/app"
cp "$program" "$work/app/notify_test.exe"
set +e
timeout 90 wine "$work/app/notify_test.exe" >"$work/out.log" 2>&1
code=$?
set -e
tr -d '\r' < "$work/out.log"
echo "notify test: exit code $code"
[ "$code" -eq 0 ] && grep -q '^PASS' "$work/out.log"
