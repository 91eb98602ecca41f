#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The page engine road, run by hand (not by CI or CTest):
#
#   bench/engine.sh [BUILD_DIR] [SECONDS]
#
# Makes a clip of SECONDS (default 60; about 2 MB a second, so over 100 MB) with
# ffmpeg, cuts it into an HLS playlist and a DASH manifest (video and audio
# apart), serves both on 127.0.0.1, and downloads each page ROUNDS times (default
# 5) with `brimtale-cli` and with `yt-dlp` alone, alternating the order. Prints
# the median whole-process time of each, and the ratio brimtale-cli / yt-dlp
# for the same work: brimtale-cli as it comes (title, chapters and cover put in
# the file) against yt-dlp with --embed-metadata --embed-chapters
# --embed-thumbnail, and brimtale-cli --no-metadata against yt-dlp's defaults.
#
# The files go to a fresh directory under BENCH_DIR (default: $TMPDIR or /tmp).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
seconds=${2:-60}
rounds=${ROUNDS:-5}

cmake --build "$build" --target brimtale-cli >/dev/null
command -v yt-dlp >/dev/null || { echo "yt-dlp is needed" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is needed" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 is needed (it serves the files)" >&2; exit 1; }

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/brimtale-bench-engine-XXXXXX")
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# The media: noise keeps the encoder from making it small.
mkdir -p "$work/site/hls" "$work/site/dash"
ffmpeg -v error -y -f lavfi -i "testsrc=size=640x360:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
    -t "$seconds" -vf "noise=alls=60:allf=t" -c:v libx264 -preset ultrafast -b:v 16M -maxrate 16M -bufsize 16M \
    -g 50 -c:a aac -b:a 128k -shortest "$work/clip.mp4"
ffmpeg -v error -y -i "$work/clip.mp4" -c copy -f hls -hls_time 4 -hls_playlist_type vod "$work/site/hls/index.m3u8"
ffmpeg -v error -y -i "$work/clip.mp4" -map 0:v -map 0:a -c copy -f dash -seg_duration 4 \
    -adaptation_sets "id=0,streams=v id=1,streams=a" "$work/site/dash/manifest.mpd"
echo "clip: $(du -m "$work/clip.mp4" | cut -f1) MB, $seconds s"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
python3 -m http.server --bind 127.0.0.1 --directory "$work/site" "$port" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
    sleep 0.1
done

cp "$build/brimtale-cli" "$work/brimtale-cli"
printf '[Main]\r\nLanguage=EN\r\n' >"$work/bmt.ini"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One whole process, timed from its start to its end; prints the seconds.
timed() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>"$work/last.err" || { echo "failed: $*" >&2; cat "$work/last.err" >&2; exit 1; }
    end=$(date +%s%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 }'
}

run() {
    local kind=$1 url=$2 out="$work/out-$1"
    rm -rf "$out"
    mkdir -p "$out"
    sync
    case "$kind" in
        cli) timed "$work/brimtale-cli" -q -d "$out" "$url" ;;
        cli-plain) timed "$work/brimtale-cli" -q --no-metadata -d "$out" "$url" ;;
        ytdlp) timed yt-dlp -P "$out" "$url" ;;
        ytdlp-meta) timed yt-dlp --embed-metadata --embed-chapters --embed-thumbnail -P "$out" "$url" ;;
    esac
    rm -rf "$out"
}

for page in hls/index.m3u8 dash/manifest.mpd; do
    url="http://127.0.0.1:$port/$page"
    : >"$work/cli" ; : >"$work/cli-plain" ; : >"$work/ytdlp" ; : >"$work/ytdlp-meta"
    for round in $(seq "$rounds"); do
        if [ $((round % 2)) -eq 1 ]; then order="ytdlp cli-plain ytdlp-meta cli"; else order="cli ytdlp-meta cli-plain ytdlp"; fi
        for kind in $order; do
            run "$kind" "$url" >>"$work/$kind"
        done
    done
    y=$(median <"$work/ytdlp")
    m=$(median <"$work/ytdlp-meta")
    c=$(median <"$work/cli")
    p=$(median <"$work/cli-plain")
    ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
    printf '%-5s metadata: brimtale-cli %7.3f s  yt-dlp %7.3f s  ratio %s | none: brimtale-cli %7.3f s  yt-dlp %7.3f s  ratio %s\n' \
        "${page%%/*}" "$c" "$m" "$(ratio "$c" "$m")" "$p" "$y" "$(ratio "$p" "$y")"
done
