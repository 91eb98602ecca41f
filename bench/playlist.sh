#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# List benchmark, run by hand (not by CI or CTest):
#
#   bench/playlist.sh [BUILD_DIR] [VIDEOS]
#
# Serves on 127.0.0.1 a page with VIDEOS (default 10) <video> elements, each a
# small clip of its own, and downloads every one of them twice in the same run:
# once with `brimtale-cli --playlist`, once with the page engine alone
# (`yt-dlp` with the same page, one file per video). Prints both times, their
# ratio and the files each made. ROUNDS (default 2) repeats the pair.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
videos=${2:-10}
rounds=${ROUNDS:-2}
cmake --build "$build" --target brimtale-cli >/dev/null
ffmpeg=$(command -v ffmpeg) || { echo "ffmpeg is not installed" >&2; exit 1; }
engine=$(command -v yt-dlp) || { echo "yt-dlp is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/brimtale-bench-XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/site" "$work/program"
cp "$build/brimtale-cli" "$work/program/brimtale-cli"
printf '[Main]\r\nLanguage=EN\r\n' >"$work/program/bmt.ini"

page='<html><head><title>Bench list</title></head><body>'
for i in $(seq 1 "$videos"); do
    "$ffmpeg" -v error -y -f lavfi -i "testsrc=duration=2:size=320x240:rate=25" \
        -f lavfi -i "sine=frequency=$((200 + i * 10)):duration=2" -c:v libx264 -c:a aac -shortest \
        "$work/site/v$i.mp4"
    page+="<video src=\"/v$i.mp4\"></video>"
done
printf '%s</body></html>\n' "$page" >"$work/site/list.html"

# A plain file server on loopback; it prints its port.
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/site" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 100); do
    port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/server.log" | head -n 1)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "${port:-}" ] || { echo "the server did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/list.html"

now_ms() { date +%s%3N; }
for round in $(seq 1 "$rounds"); do
    rm -rf "$work/out-cli" "$work/out-engine"
    mkdir -p "$work/out-cli" "$work/out-engine"
    start=$(now_ms)
    "$work/program/brimtale-cli" -q --playlist -d "$work/out-cli" "$url" >"$work/cli.out"
    cli_ms=$(( $(now_ms) - start ))
    start=$(now_ms)
    (cd "$work/out-engine" && "$engine" --ignore-config --no-update -q --no-progress -o '%(title)s.%(ext)s' -- "$url")
    engine_ms=$(( $(now_ms) - start ))
    cli_files=$(find "$work/out-cli" -type f | wc -l)
    engine_files=$(find "$work/out-engine" -type f | wc -l)
    awk -v r="$round" -v c="$cli_ms" -v e="$engine_ms" -v cf="$cli_files" -v ef="$engine_files" -v n="$videos" 'BEGIN {
        printf "round %d, %d videos: brimtale-cli --playlist %d ms (%d files), yt-dlp %d ms (%d files), ratio %.2f\n",
               r, n, c, cf, e, ef, c / e }'
done
