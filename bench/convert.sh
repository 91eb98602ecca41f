#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Conversion benchmark, run by hand (not by CI or CTest):
#
#   bench/convert.sh [BUILD_DIR] [SECONDS]
#   CASE=lines bench/convert.sh      CASE=damaged bench/convert.sh
#
# Converts an input twice in the same run: once through a real download process
# (brimtale -get with the input as a local source, offscreen, Auto close on), once
# by running the same encoder arguments directly. Prints both times and their
# ratio. ROUNDS (default 3) repeats the pair. CASE chooses the input:
#   clip     (default) a clip of SECONDS (20) of 640x360, the first shipped profile;
#   lines    a stand-in encoder beside the program that prints 30 000 warning
#            lines with a progress line after every 1 000 (many output lines);
#   damaged  a ten-minute MP3 with damaged stretches, the MP3 profile, the real
#            encoder (which prints a warning for each damaged frame).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
seconds=${2:-20}
case_name=${CASE:-clip}
cmake --build "$build" --target brimtale bench_download >/dev/null
ffmpeg=$(command -v ffmpeg) || { echo "ffmpeg is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/brimtale-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$build/brimtale" "$work/brimtale"
printf '[Main]\r\nLanguage=EN\r\nAutoClose=1\r\n' >"$work/bmt.ini"
profiles="$here/../data/bmt_encoder_profiles.ini"
# The Params and Ext of a shipped profile (the first one unless named).
profile_value() {
    awk -F= -v want="$1" -v key="$2" '
        /^\[/ { s = toupper($0); if (s == "[MAIN]") s = ""; if (want != "" && s != "[" want "]") s = ""; next }
        s != "" && index($0, key "=") == 1 { sub("^" key "=", ""); print; exit }' "$profiles"
}
encoder=$ffmpeg
case "$case_name" in
clip)
    input=$work/clip.avi
    "$ffmpeg" -v error -y -f lavfi -i "testsrc=duration=$seconds:size=640x360:rate=25" \
        -f lavfi -i "sine=duration=$seconds" -c:v mpeg4 -q:v 3 -c:a mp3 -shortest "$input"
    profile= ;;
damaged)
    input=$work/damaged.mp3
    "$ffmpeg" -v error -y -f lavfi -i "sine=frequency=440:duration=600" -c:a libmp3lame -b:a 128k "$input"
    # Overwrite 64 bytes every 250 bytes after the first 64 KiB: the encoder
    # reports nearly every frame (about 25 000 lines).
    perl -e 'open(my $f, "+<", $ARGV[0]) or die; binmode $f; my $size = -s $f; srand(7);
             for (my $at = 65536; $at < $size; $at += 250) {
                 seek($f, $at, 0); print $f join("", map { chr(int(rand(256))) } 1 .. 64) }' "$input"
    profile=MP3 ;;
lines)
    input=$work/in.mp3
    printf 'x' >"$input"
    encoder=$work/ffmpeg   # beside the program: the download process takes it
    cat >"$encoder" <<'SCRIPT'
#!/bin/sh
if [ "$#" -eq 2 ]; then
  printf '  Duration: 00:00:30.00, start: 0.000000, bitrate: 9 kb/s\n'
  exit 1
fi
for a; do out=$a; done
awk 'BEGIN { for (i = 1; i <= 30000; i++) {
    print "[mp3float @ 0x55] overread, skip -5 enddists: -3 -3"
    if (i % 1000 == 0) printf "frame=%5d fps=0.0 q=-0.0 size=  1kB time=00:00:%02d.00 bitrate=1\r", i / 40, i / 1000 } }'
printf data > "$out"
SCRIPT
    chmod +x "$encoder"
    profile=MP3 ;;
*) echo "unknown CASE $case_name (clip, lines, damaged)" >&2; exit 2 ;;
esac
params=$(profile_value "$profile" Params)
ext=$(profile_value "$profile" Ext)
echo "case: $case_name   profile: $params"
direct_args=()
for word in $params; do
    case "$word" in
        %1) direct_args+=("$input") ;;
        %2) direct_args+=("$work/direct.$ext") ;;
        *) direct_args+=("${word//%DVB/280k}") ;;
    esac
done

field() { sed -n "s|.* $1=\([^ ]*\).*|\1|p" <<<"$2"; }
ms() { echo $(( $(date +%s%N) / 1000000 )); }

# The download process, timed as a whole and from its encoder's first output line
# ("Converting... N %") to "OK - File converted": the whole run also holds the
# window's fixed pauses (500 ms before the conversion, 1500 ms before Auto close).
run_brimtale() {
    local start first=0 end=0 line
    start=$(ms)
    coproc BT { exec env QT_QPA_PLATFORM=offscreen BRIMTALE_ECHO=1 BRIMTALE_AUTO_ANSWER=no \
        "$work/brimtale" -get "$input" - "$work/out.avi" 0 0 1 "$params" - "$ext" 0 2>/dev/null; }
    local pid=$BT_PID
    while IFS= read -r line <&"${BT[0]}"; do
        case "$line" in
            "Converting... "*%) [ "$first" = 0 ] && first=$(ms) ;;
            "OK - File converted") end=$(ms) ;;
        esac
    done
    wait "$pid" 2>/dev/null || true
    local done_at
    done_at=$(ms)
    echo "$(( done_at - start )) $(( end - first ))"
}

rounds=${ROUNDS:-3}
for r in $(seq "$rounds"); do
    rm -f "$work/direct.$ext" "$work/out.$ext"
    d=$("$build/bench/bench_download" --run "$encoder" "${direct_args[@]}" 2>/dev/null)
    read -r total encoding <<<"$(run_brimtale)"
    [ -s "$work/direct.$ext" ] && [ -s "$work/out.$ext" ] || { echo "a conversion failed" >&2; exit 1; }
    ds=$(field seconds "$d")
    printf 'round %d: ffmpeg directly %6.2f s   through brimtale: encoder run %6.2f s, whole process %6.2f s   ratio %s\n' \
        "$r" "$ds" "$(awk -v m="$encoding" 'BEGIN { print m / 1000 }')" "$(awk -v m="$total" 'BEGIN { print m / 1000 }')" \
        "$(awk -v a="$ds" -v b="$encoding" 'BEGIN { printf "%.2f", a * 1000 / b }')"
done
echo "ratio = direct time / encoder run through brimtale (1.00 = no overhead)"
