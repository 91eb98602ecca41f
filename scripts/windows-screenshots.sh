#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws brimtale.exe's main window under Wine and Xvfb, in English and Polish,
# into docs/screenshots/windows-en.png and windows-pl.png. Run after
# scripts/windows.sh (it takes the packages' folder of build-windows/).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
if [ -z "${SCREENSHOTS_INSIDE:-}" ]; then
  exec env SCREENSHOTS_INSIDE=1 xvfb-run -a -s "-screen 0 1400x900x24" bash "$0" "$@"
fi
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-${BRIMTALE_WIN_CACHE:-$HOME/.cache/brimtale-windows}/wine}
stage=$(ls -d build-windows/stage/Brimtale-* | head -n 1)
work=$(mktemp -d /tmp/brimtale-win-shots.XXXXXX)
program=
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

for lang in en pl; do
  rm -rf "$work/app"
  cp -r "$stage" "$work/app"
  printf '[Main]\r\nLanguage=%s\r\nMainWidth=1000\r\nMainHeight=600\r\n' "${lang^^}" > "$work/app/bmt.ini"
  wine "$work/app/brimtale.exe" >"$work/$lang.log" 2>&1 &
  program=$!
  window=
  for _ in $(seq 240); do
    window=$(xdotool search --onlyvisible --name '^Brimtale [0-9.]+$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.25
  done
  [ -n "$window" ] || { echo "no main window ($lang)"; cat "$work/$lang.log"; exit 1; }
  # The window is mapped; its first paint follows within moments.
  sleep 2
  import -window "$window" "$root/docs/screenshots/windows-$lang.png"
  echo "docs/screenshots/windows-$lang.png"
  kill "$program" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  program=
done
