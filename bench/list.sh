#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The download list's cost, run by hand (not by CI or CTest):
#
#   bench/list.sh [BUILD_DIR] [SIZE_BYTES] [PACE_MS]
#
# Three downloads of SIZE_BYTES (64 MiB unless told otherwise) from a server on
# 127.0.0.1 that pauses PACE_MS (default 5) after every 64 KiB, so that the
# transfers last a while as on a real line:
#
#   alone:    three "brimtale -get" processes started side by side, no program;
#   program:  the interactive program with a list of 1000 jobs (997 done, the
#             three downloads queued), MaxDownloads=3, windows hidden; it starts
#             the three processes itself and follows their reports.
#
# Then the main window alone while 1000 jobs are added to its list, 50 at a time:
# how long a paint of the list takes to come after each batch.
#
# Prints for both the wall time from the start until the three files are whole and the
# processor time of the download processes, and for the program its own
# processor time (user + system) over the same transfers, in seconds and as a
# share of the download processes' time. Every file is checked. The runs see an
# empty PATH, so that no page engine version probe counts among the children.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
size=${2:-67108864}
pace=${3:-5}
rows=1000

cmake --build "$build" --target bench_http_server bench_list_paint brimtale >/dev/null

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/brimtale-list-bench-XXXXXX")
server_pid=
program_pid=
cleanup() {
    if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null || true; fi
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

"$build/bench/bench_http_server" "$size" 1800 "$pace" >"$work/port" &
server_pid=$!
for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
port=$(head -n1 "$work/port")
[ -n "$port" ] || { echo "server did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/big"
hz=$(getconf CLK_TCK)
export QT_QPA_PLATFORM=offscreen
mkdir -m 0700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
# No page engine or encoder on the path: the program's Options tab would ask them
# for their versions, and those processes are the program's children too.
mkdir "$work/bin"
bare=(env PATH="$work/bin")

check() {
    local ok=1 f
    for f in "$@"; do
        [ "$(stat -c %s "$f" 2>/dev/null || echo 0)" = "$size" ] || ok=0
        cmp -s "$f" "$1" || ok=0
    done
    echo "$ok"
}
now() { date +%s%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b - a) / 1e9 }'; }

# Alone: three download processes, the processor time of each from time(1).
mkdir "$work/alone"
cp "$build/brimtale" "$work/alone/brimtale"
printf '[Main]\r\nLanguage=EN\r\nAutoClose=1\r\n' >"$work/alone/bmt.ini"
whole() {
    local f
    for f in "$@"; do [ "$(stat -c %s "$f" 2>/dev/null || echo 0)" = "$size" ] || return 1; done
}
start=$(now)
(
    for i in 1 2 3; do
        /usr/bin/time -f '%U %S' -o "$work/alone/time$i" \
            "${bare[@]}" "$work/alone/brimtale" -get "$url" "$url" "$work/alone/f$i.bin" 0 "$size" 1 - - - 0 >/dev/null 2>&1 &
    done
    # The time until the files are whole (Auto close keeps each process 1.5 s more).
    limit=$(( $(date +%s) + 1800 ))
    until whole "$work/alone/f1.bin" "$work/alone/f2.bin" "$work/alone/f3.bin" || [ "$(date +%s)" -ge "$limit" ]; do
        sleep 0.05
    done
    now >"$work/end"
    wait
)
end=$(cat "$work/end")
cpu_alone=$(cat "$work/alone/time1" "$work/alone/time2" "$work/alone/time3" | awk '{ t += $1 + $2 } END { printf "%.2f", t }')
wall_alone=$(seconds "$start" "$end")
ok_alone=$(check "$work/alone/f1.bin" "$work/alone/f2.bin" "$work/alone/f3.bin")

# The program with a list of 1000 jobs.
mkdir "$work/program"
cp "$build/brimtale" "$work/program/brimtale"
printf '[Main]\r\nLanguage=EN\r\nMaxDownloads=3\r\nShowDownloadWindows=0\r\nResumeAtStart=1\r\nAutoClose=0\r\n' \
    >"$work/program/bmt.ini"
{
    echo "BrimtaleJobs 1"
    for i in $(seq 1 $((rows - 3))); do
        f="$work/program/old$i.bin"
        echo "row $i done $size $size 0 0 old$i.bin  0     0 11 -get $url $url $f 0 $size 0 - - - 0"
    done
    for i in 1 2 3; do
        f="$work/program/f$i.bin"
        echo "row $((rows - 3 + i)) queued $size 0 0 0 f$i.bin  0     0 11 -get $url $url $f 0 $size 0 - - - 0"
    done
} >"$work/program/bmt_downloads.txt"
start=$(now)
# exec: the pid is the program's own, not that of env.
( exec "${bare[@]}" "$work/program/brimtale" >/dev/null 2>&1 ) &
program_pid=$!
files=("$work/program/f1.bin" "$work/program/f2.bin" "$work/program/f3.bin")
deadline=$(( $(date +%s) + 1800 ))
first=
end=
while :; do
    if [ -z "$first" ] && pgrep -f -- "$work/program/brimtale -get" >/dev/null; then
        first=$(now)
        own_at_first=$(awk -v hz="$hz" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$program_pid/stat")
    fi
    if [ -z "$end" ] && whole "${files[@]}"; then end=$(now); fi
    # Whole, and every download process has ended (and been reaped by the program).
    if [ -n "$end" ] && ! pgrep -f -- "$work/program/brimtale -get" >/dev/null; then break; fi
    [ "$(date +%s)" -lt "$deadline" ] || { echo "the program's downloads did not end" >&2; exit 1; }
    sleep 0.05
done
wall_program=$(seconds "$start" "$end")
starting=$(seconds "$start" "${first:-$end}")
# Fields 14-17 of /proc/PID/stat: the program's own user and system time, and
# that of its ended (reaped) children: the download processes.
read -r own children < <(awk -v hz="$hz" '{ printf "%.2f %.2f\n", ($14 + $15) / hz, ($16 + $17) / hz }' \
    "/proc/$program_pid/stat")
during=$(awk -v a="${own_at_first:-0}" -v b="$own" 'BEGIN { printf "%.2f", b - a }')
rss=$(awk '/^VmHWM/ { print $2 }' "/proc/$program_pid/status")
kill "$program_pid"
wait "$program_pid" 2>/dev/null || true
program_pid=
ok_program=$(check "${files[@]}")
rows_kept=$(grep -c '^row ' "$work/program/bmt_downloads.txt")

printf 'three downloads of %s bytes, %s ms pause per 64 KiB, on %s\n' "$size" "$pace" "$url"
printf 'alone:   wall %6s s   download processes %6s s CPU   files whole: %s\n' "$wall_alone" "$cpu_alone" \
    "$([ "$ok_alone" = 1 ] && echo yes || echo NO)"
printf 'program: wall %6s s   download processes %6s s CPU   files whole: %s   (%s s of it until the first download process ran)\n' \
    "$wall_program" "$children" "$([ "$ok_program" = 1 ] && echo yes || echo NO)" "$starting"
printf 'the program with %d jobs: %s s CPU in all, %s s of it while the three transferred (%s%% of the download processes), peak RSS %s KiB, rows kept %s\n' \
    "$rows" "$own" "$during" "$(awk -v a="$during" -v b="$children" 'BEGIN { printf "%.1f", (b > 0) ? (100 * a / b) : 0 }')" "$rss" "$rows_kept"
# The window while 1000 jobs are added to its list.
QT_QPA_PLATFORM=offscreen "$build/bench/bench_list_paint" "$rows"
[ "$ok_alone" = 1 ] && [ "$ok_program" = 1 ]
