#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# brimtale.exe under Wine and Xvfb, from the packages' folder (Qt's DLLs and
# plugins beside it): its main window appears, and a second start with an
# address hands it to the first over the named pipe and ends, the first one
# still running.
#   gui_smoke.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "${1:?usage: gui_smoke.sh BUILD_FOLDER}" && pwd)
if [ -z "${GUI_SMOKE_INSIDE:-}" ]; then
  exec env GUI_SMOKE_INSIDE=1 xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$@"
fi
export WINEDEBUG=-all
stage=$(ls -d "$build"/stage/Brimtale-* | head -n 1)
work=$(mktemp -d /tmp/brimtale-win-gui.XXXXXX)
first=
cleanup() {
  [ -n "$first" ] && kill "$first" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -r "$stage" "$work/app"
printf '[Main]\r\nLanguage=EN\r\n' > "$work/app/bmt.ini"
failed=0

# At most 60 s for a window of the given title, looked at every 250 ms.
wait_window() {
  for _ in $(seq 240); do
    xwininfo -root -tree 2>/dev/null | grep -q "$1" && return 0
    sleep 0.25
  done
  return 1
}

wine "$work/app/brimtale.exe" >"$work/first.log" 2>&1 &
first=$!
if wait_window '"Brimtale [0-9.]*"'; then
  echo "PASS: the main window appears"
else
  echo "FAIL: no main window"; failed=$((failed + 1)); cat "$work/first.log"
fi

set +e
timeout 60 wine "$work/app/brimtale.exe" "http://127.0.0.1:9/clip.mp4" >"$work/second.log" 2>&1
second=$?
set -e
windows=$(xwininfo -root -tree | grep -c '"Brimtale [0-9.]*"' || true)
if [ "$second" -eq 0 ] && kill -0 "$first" 2>/dev/null && [ "$windows" -eq 1 ]; then
  echo "PASS: a second start hands its address to the first and ends"
else
  echo "FAIL: second start (exit code $second, $windows main windows)"; failed=$((failed + 1))
  cat "$work/second.log"
fi
echo "windows gui: $failed failed"
[ "$failed" -eq 0 ]
