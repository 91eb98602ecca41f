#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Far-link benchmark, run by hand (not by CI or CTest):
#
#   bench/far.sh [BUILD_DIR]
#
# Starts bench_far_server on 127.0.0.1: every request waits DELAY_MS (100)
# before it is answered, and every connection gets its body at about 2 MB/s
# (one 64 KiB block per PACE_MS, 33). It serves a 64 MB media file and a 40 MB
# HLS page of 2 s segments (made once with ffmpeg and kept in BENCH_CACHE).
# Times, side by side and alternated (ROUNDS, default 3, medians reported):
#   brimtale-cli --connections N (CONNECTIONS, default 4) against `curl -o` for the file,
#   brimtale-cli against the engine alone (yt-dlp, default options) for the page,
# and once more the file on plain loopback (no delay, no limit). Prints the
# ratios of throughput and the peak memory; every file is checked against the
# server's bytes (the page: both programs' files have the same size, within 1 %).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
size=$((64 * 1000 * 1000))
delay=${DELAY_MS:-100}
pace=${PACE_MS:-33}
connections=${CONNECTIONS:-4}
rounds=${ROUNDS:-3}

cmake --build "$build" --target bench_far_server bench_download brimtale-cli >/dev/null

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/brimtale-far-XXXXXX")
far_pid=
near_pid=
cleanup() {
    for pid in $far_pid $near_pid; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# The HLS page: 40 s of 720p at a constant 8 Mbit/s, in 2 s segments.
cache=${BENCH_CACHE:-${TMPDIR:-/tmp}/brimtale-far-hls}
if [ ! -s "$cache/index.m3u8" ]; then
    mkdir -p "$cache"
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=25" -f lavfi -i "sine=frequency=440" -t 40 \
        -c:v libx264 -preset ultrafast -b:v 8M -minrate 8M -maxrate 8M -bufsize 2M \
        -x264-params nal-hrd=cbr:force-cfr=1 -g 50 -keyint_min 50 -c:a aac -b:a 128k \
        -f hls -hls_time 2 -hls_list_size 0 -hls_segment_filename "$cache/seg%03d.ts" "$cache/index.m3u8"
fi
page_bytes=$(cat "$cache"/*.ts | wc -c)

start_server() { # DELAY PACE OUTFILE
    "$build/bench/bench_far_server" "$size" "$cache" 1800 "$1" "$2" >"$3" &
    local pid=$!
    for _ in $(seq 100); do [ -s "$3" ] && break; sleep 0.1; done
    echo "$pid"
}
far_pid=$(start_server "$delay" "$pace" "$work/far.port")
near_pid=$(start_server 0 0 "$work/near.port")
far="http://127.0.0.1:$(head -n1 "$work/far.port")"
near="http://127.0.0.1:$(head -n1 "$work/near.port")"

# brimtale-cli from a folder of its own, beside its own settings.
mkdir -p "$work/bin" "$work/out"
cp "$build/src/brimtale-cli" "$work/bin/brimtale-cli" 2>/dev/null || cp "$build/brimtale-cli" "$work/bin/brimtale-cli"
printf '[Main]\r\nLanguage=EN\r\nConnections=%s\r\n' "$connections" >"$work/bin/bmt.ini"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$HOME"

field() { sed -n "s|.* $1=\([^ ]*\).*|\1|p" <<<"$2"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
reference=$(curl -sS --noproxy '*' "$near/big.mp4" | md5sum)

# One timed run; prints "seconds maxrss_kib ok" and removes what it made.
run() { # KIND
    local kind=$1 line out ok sum
    rm -rf "$work/out" && mkdir -p "$work/out"
    sync
    case "$kind" in
        curl-far) line=$("$build/bench/bench_download" --run curl -sS --noproxy '*' -o "$work/out/big.mp4" "$far/big.mp4") ;;
        curl-near) line=$("$build/bench/bench_download" --run curl -sS --noproxy '*' -o "$work/out/big.mp4" "$near/big.mp4") ;;
        bt-far) line=$("$build/bench/bench_download" --run "$work/bin/brimtale-cli" -q --connections "$connections" -d "$work/out" -o big "$far/big.mp4") ;;
        bt-near) line=$("$build/bench/bench_download" --run "$work/bin/brimtale-cli" -q --connections "$connections" -d "$work/out" -o big "$near/big.mp4") ;;
        engine) line=$(cd "$work/out" && "$build/bench/bench_download" --run yt-dlp -q --no-progress -o page.%\(ext\)s "$far/hls/index.m3u8") ;;
        bt-page) line=$("$build/bench/bench_download" --run "$work/bin/brimtale-cli" -q --connections "$connections" -d "$work/out" -o page "$far/hls/index.m3u8") ;;
    esac
    ok=$(field ok "$line")
    out=$(find "$work/out" -type f ! -name '*.part*' | head -n1)
    case "$kind" in
        engine|bt-page)
            # The engine remuxes the page into one file: its size is what both made.
            sum=$(stat -c %s "$out" 2>/dev/null || echo 0)
            [ "$sum" -gt $((page_bytes / 2)) ] || ok=0
            echo "$sum" >>"$work/page_sizes.txt" ;;
        *)
            sum=$(md5sum <"$out" 2>/dev/null || echo none)
            [ "$sum" = "$reference" ] || ok=0 ;;
    esac
    echo "$(field seconds "$line") $(field maxrss_kib "$line") ${ok:-0}"
}

rate() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.2f", b / 1e6 / s }'; }
: >"$work/page_sizes.txt"
all_ok=1
declare -A secs mem
pair() { # NAME A B SIZE
    local name=$1 a=$2 b=$3 bytes=$4 ra rb r
    for r in $(seq "$rounds"); do
        if [ $((r % 2)) = 1 ]; then ra=$(run "$a"); rb=$(run "$b"); else rb=$(run "$b"); ra=$(run "$a"); fi
        read -r as am aok <<<"$ra"
        read -r bs bm bok <<<"$rb"
        [ "$aok" = 1 ] && [ "$bok" = 1 ] || all_ok=0
        echo "$as" >>"$work/$a.s"; echo "$am" >>"$work/$a.m"
        echo "$bs" >>"$work/$b.s"; echo "$bm" >>"$work/$b.m"
        awk -v x="$as" -v y="$bs" 'BEGIN { printf "%.2f\n", x / y }' >>"$work/$name.ratio"
        printf '%s round %d: brimtale-cli %s MB/s (%s s, max RSS %s KiB)   %s %s MB/s (%s s, max RSS %s KiB)   ratio %s\n' \
            "$name" "$r" "$(rate "$bytes" "$bs")" "$bs" "$bm" "$a" "$(rate "$bytes" "$as")" "$as" "$am" \
            "$(tail -n1 "$work/$name.ratio")"
    done
}
printf 'far link: %s ms before each answer, 64 KiB per %s ms a connection; %s connections; %s rounds\n' \
    "$delay" "$pace" "$connections" "$rounds"
pair file curl-far bt-far "$size"
pair page engine bt-page "$page_bytes"
rounds_saved=$rounds
pair loopback curl-near bt-near "$size"
rounds=$rounds_saved
echo
printf 'file, far link:     brimtale-cli / curl -o       = %s x (median)   brimtale-cli max RSS %s KiB\n' \
    "$(median <"$work/file.ratio")" "$(sort -g "$work/bt-far.m" | tail -n1)"
printf 'page, far link:     brimtale-cli / engine alone  = %s x (median)\n' "$(median <"$work/page.ratio")"
printf 'file, loopback:     brimtale-cli / curl -o       = %s x (median)   brimtale-cli max RSS %s KiB\n' \
    "$(median <"$work/loopback.ratio")" "$(sort -g "$work/bt-near.m" | tail -n1)"
sizes=$(sort -g "$work/page_sizes.txt" | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print (hi - lo) * 100 <= hi ? "yes" : "NO" }')
[ "$sizes" = yes ] || all_ok=0
printf 'all files complete and identical: %s\n' "$([ "$all_ok" = 1 ] && echo yes || echo NO)"
[ "$all_ok" = 1 ]
