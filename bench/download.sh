#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Download benchmark, run by hand (not by CI or CTest):
#
#   bench/download.sh [BUILD_DIR] [SIZE_BYTES]
#
# The files are written to a fresh directory under BENCH_DIR (default: $TMPDIR
# or /tmp); BENCH_DIR=/dev/shm takes the disk out of the measurement.
#
# Serves a generated body (1 GiB unless told otherwise) on 127.0.0.1 and fetches
# it once with TInet's DownloadToFile (bench_download) and once with `curl -o`,
# both from the same server in the same run. Prints the throughput of both, the
# ratio, and the peak memory (max RSS) of both, and checks that every file is
# complete and identical. ROUNDS (default 3) repeats the pair, alternating the
# order, and reports medians: a shared machine makes single runs noisy.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
size=${2:-1073741824}

cmake --build "$build" --target bench_http_server bench_download brimtale >/dev/null

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/brimtale-bench-XXXXXX")
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

"$build/bench/bench_http_server" "$size" 900 >"$work/port" &
server_pid=$!
for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
port=$(head -n1 "$work/port")
[ -n "$port" ] || { echo "server did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/big"

field() { sed -n "s|.* $1=\([^ ]*\).*|\1|p" <<<"$2"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The real download process (offscreen, from a copy beside its own settings):
# timed from its start to the "Downloaded" line it prints, with its peak memory
# read just before it is ended (Auto close is off, so its timers don't count).
cp "$build/brimtale" "$work/brimtale"
printf '[Main]\r\nLanguage=EN\r\nAutoClose=0\r\n' >"$work/bmt.ini"
run_brimtale() {
    local out=$1 start end line hwm=0 ok=0
    start=$(date +%s%N)
    coproc BT { exec env QT_QPA_PLATFORM=offscreen BRIMTALE_ECHO=1 BRIMTALE_AUTO_ANSWER=no \
        "$work/brimtale" -get "http://www.youtube.com/watch?v=bench" "$url" "$out" 0 "$size" 0 - - - 0 2>/dev/null; }
    local pid=$BT_PID
    while IFS= read -r line <&"${BT[0]}"; do
        case "$line" in
            Downloaded*) ok=1; break ;;
            "Connection error"*) break ;;
        esac
    done
    end=$(date +%s%N)
    hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo "x seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }') maxrss_kib=$hwm ok=$ok"
}

# One timed download; prints "seconds maxrss_kib ok". The file is checked against
# the expected size and the first run's checksum, then removed, and the disk is
# synced, so that no run pays for another's write-back.
reference=
run() {
    local kind=$1 out="$work/$1.bin" line sum
    sync
    if [ "$kind" = tinet ]; then
        line=$("$build/bench/bench_download" "$url" "$out")
    elif [ "$kind" = brimtale ]; then
        line=$(run_brimtale "$out")
    else
        line=$("$build/bench/bench_download" --run curl -sS --noproxy '*' -o "$out" "$url")
    fi
    local ok
    ok=$(field ok "$line")
    [ "$(stat -c %s "$out" 2>/dev/null || echo 0)" = "$size" ] || ok=0
    sum=$(md5sum <"$out")
    [ -z "$reference" ] && reference=$sum
    [ "$sum" = "$reference" ] || ok=0
    rm -f "$out"
    echo "$(field seconds "$line") $(field maxrss_kib "$line") $ok"
}

rounds=${ROUNDS:-3}
rate() { awk -v b="$size" -v s="$1" 'BEGIN { printf "%.1f", b / 1048576 / s }'; }
: >"$work/tinet.txt"; : >"$work/curl.txt"; : >"$work/ratio.txt"; : >"$work/brimtale.txt"; : >"$work/bratio.txt"
all_ok=1
printf 'body: %s bytes on %s, %s rounds (order alternates)\n' "$size" "$url" "$rounds"
for r in $(seq "$rounds"); do
    if [ $((r % 2)) = 1 ]; then t=$(run tinet); c=$(run curl); else c=$(run curl); t=$(run tinet); fi
    b=$(run brimtale)
    read -r bs bm bok <<<"$b"
    [ "$bok" = 1 ] || all_ok=0
    echo "$(rate "$bs") $bm" >>"$work/brimtale.txt"
    read -r ts tm tok <<<"$t"
    read -r cs cm cok <<<"$c"
    [ "$tok" = 1 ] && [ "$cok" = 1 ] || all_ok=0
    echo "$(rate "$ts") $tm" >>"$work/tinet.txt"
    echo "$(rate "$cs") $cm" >>"$work/curl.txt"
    awk -v a="$cs" -v b="$ts" 'BEGIN { printf "%.2f\n", a / b }' >>"$work/ratio.txt"
    awk -v a="$cs" -v b="$bs" 'BEGIN { printf "%.2f\n", a / b }' >>"$work/bratio.txt"
    printf 'round %d: brimtale -get %7s MiB/s (max RSS %d KiB)   ratio to curl %s\n' \
        "$r" "$(rate "$bs")" "$bm" "$(tail -n1 "$work/bratio.txt")"
    printf 'round %d: TInet %7s MiB/s (max RSS %d KiB)   curl %7s MiB/s (max RSS %d KiB)   ratio %s\n' \
        "$r" "$(rate "$ts")" "$tm" "$(rate "$cs")" "$cm" "$(tail -n1 "$work/ratio.txt")"
done
printf 'median TInet DownloadToFile: %s MiB/s, max RSS %s KiB (highest)\n' \
    "$(cut -d' ' -f1 "$work/tinet.txt" | median)" "$(cut -d' ' -f2 "$work/tinet.txt" | sort -g | tail -n1)"
printf 'median curl -o:              %s MiB/s, max RSS %s KiB (highest)\n' \
    "$(cut -d' ' -f1 "$work/curl.txt" | median)" "$(cut -d' ' -f2 "$work/curl.txt" | sort -g | tail -n1)"
printf 'median brimtale -get process: %s MiB/s, max RSS %s KiB (highest)\n' \
    "$(cut -d' ' -f1 "$work/brimtale.txt" | median)" "$(cut -d' ' -f2 "$work/brimtale.txt" | sort -g | tail -n1)"
printf 'median throughput ratio TInet/curl: %s\n' "$(median <"$work/ratio.txt")"
printf 'median throughput ratio brimtale -get/curl: %s\n' "$(median <"$work/bratio.txt")"
printf 'all files complete and identical: %s\n' "$([ "$all_ok" = 1 ] && echo yes || echo NO)"
[ "$all_ok" = 1 ]
