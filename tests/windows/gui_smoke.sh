#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# brimtale.exe under Wine and Xvfb, from the packages' folder (Qt's DLLs and
# plugins beside it), against a server on 127.0.0.1 (tests/windows/serve.py):
#   1. its main window appears;
#   2. a second start with an address hands it to the first over the named pipe
#      and ends, the first one still running: the first one's new-download
#      dialog opens with that address (it looks the address up on the server);
#   3. a download process (-get, the fields as the list passes them) downloads a
#      file byte for byte with its window, and ends once that window is closed.
#   gui_smoke.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "${1:?usage: gui_smoke.sh BUILD_FOLDER}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${GUI_SMOKE_INSIDE:-}" ]; then
  exec env GUI_SMOKE_INSIDE=1 xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$@"
fi
export WINEDEBUG=-all
# The Wine server the tests before shared (it stays until it is ended) started
# its desktop without this display, and would put the windows on no screen: it
# is ended first (the tests with windows run alone).
wineserver -k 2>/dev/null || true
stage=$(ls -d "$build"/stage/Brimtale-* | head -n 1)
work=$(mktemp -d /tmp/brimtale-win-gui.XXXXXX)
first=
get=
server_pid=
cleanup() {
  [ -n "$get" ] && kill "$get" 2>/dev/null || true
  [ -n "$first" ] && kill "$first" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp -r "$stage" "$work/app"
printf '[Main]\r\nLanguage=EN\r\n' > "$work/app/bmt.ini"
mkdir -p "$work/srv" "$work/out"
failed=0

# Media: an MP4 header and random bytes.
media() { { printf '\0\0\0\034ftypmp42\0\0\0\0mp42isom'; head -c "$2" /dev/urandom; } > "$work/srv/$1"; }
media handed.mp4 200000
media got.mp4 700000

# The server prints its port once it listens; it ends by itself after 240 s.
exec {server_out}< <(exec python3 "$here/serve.py" "$work/srv" "$work/requests.log" 240)
server_pid=$!
read -r -t 20 -u "$server_out" port
base="http://127.0.0.1:$port"
touch "$work/requests.log"

# At most 60 s for something to hold, looked at every 250 ms.
wait_for() {
  for _ in $(seq 240); do
    "$@" && return 0
    sleep 0.25
  done
  return 1
}
has_window() { xwininfo -root -tree 2>/dev/null | grep -q "$1"; }
# The visible windows whose title is the given pattern (anchored), one id a line.
visible_windows() { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; }
has_visible_window() { [ -n "$(visible_windows "$1")" ]; }

# 1. The main window.
wine "$work/app/brimtale.exe" >"$work/first.log" 2>&1 &
first=$!
if wait_for has_window '"Brimtale [0-9.]*"'; then
  echo "PASS: the main window appears"
else
  echo "FAIL: no main window"; failed=$((failed + 1)); cat "$work/first.log"
fi

# 2. A second start with an address.
set +e
timeout 60 wine "$work/app/brimtale.exe" "$base/handed.mp4?from=second" >"$work/second.log" 2>&1
second=$?
set -e
windows=$(xwininfo -root -tree | grep -c '"Brimtale [0-9.]*"' || true)
if [ "$second" -eq 0 ] && kill -0 "$first" 2>/dev/null && [ "$windows" -eq 1 ]; then
  echo "PASS: a second start hands its address to the first and ends"
else
  echo "FAIL: second start (exit code $second, $windows main windows)"; failed=$((failed + 1))
  cat "$work/second.log"; ps -ef | grep -i "[b]rimtale" | head -5
fi
# The dialog ("New") is shown by the first one, and looks that very address up.
if wait_for has_visible_window '^New$' &&
   wait_for grep -q '^[A-Z]* /handed.mp4?from=second ' "$work/requests.log"; then
  echo "PASS: the first one's new-download dialog opens with the handed address"
else
  echo "FAIL: no new-download dialog with the handed address"; failed=$((failed + 1))
  xwininfo -root -tree | grep '"' || true
  cat "$work/requests.log"
fi

# 3. A download process with its window: the ten fields (no conversion), then
# its window closed as a user would (Alt+F4), and the process ends.
output="Z:${work//\//\\}\\out\\got.mp4"
size=$(stat -c %s "$work/srv/got.mp4")
wine "$work/app/brimtale.exe" -get "$base/got.mp4" "$base/got.mp4" "$output" 1 "$size" 0 - - - 0 \
  >"$work/get.log" 2>&1 &
get=$!
arrived() { cmp -s "$work/out/got.mp4" "$work/srv/got.mp4"; }
if wait_for arrived; then
  echo "PASS: the download process downloads the file, byte-identical"
else
  echo "FAIL: the download process's file"; failed=$((failed + 1)); ls -la "$work/out"
fi
# Its window: Wine marks each window with its process (_NET_WM_PID).
get_window() { xdotool search --onlyvisible --pid "$get" 2>/dev/null | head -n 1 || true; }
window=
wait_for_window() { window=$(get_window); [ -n "$window" ]; }
process_ended() { ! kill -0 "$get" 2>/dev/null; }
close_window() {
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window" 2>/dev/null || true
  xdotool key --clearmodifiers alt+F4 2>/dev/null || true
}
ended=no
if kill -0 "$get" 2>/dev/null && wait_for wait_for_window; then
  # Asked at most ten times, every 2 s (the window may take its first key late).
  for _ in $(seq 10); do
    close_window
    for _ in $(seq 8); do process_ended && break; sleep 0.25; done
    process_ended && { ended=yes; break; }
  done
fi
if [ "$ended" = yes ] && wait "$get"; then
  echo "PASS: the download process ends once its window is closed"
else
  echo "FAIL: the download process with its window (window ${window:-none})"; failed=$((failed + 1))
  cat "$work/get.log"
fi
get=
echo "windows gui: $failed failed"
[ "$failed" -eq 0 ]
