#!/usr/bin/env bash
# Conversion benchmark, run by hand (not by CI or CTest):
#
#   bench/convert.sh [BUILD_DIR] [SECONDS]
#
# Makes a clip (20 seconds of 640x360 unless told otherwise) and converts it with
# the first shipped profile twice in the same run: once through a real download
# process (brimtale -get with the clip as a local source, offscreen, Auto close
# on), once by running the same ffmpeg arguments directly. Prints both times and
# their ratio. ROUNDS (default 3) repeats the pair.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
seconds=${2:-20}
cmake --build "$build" --target brimtale bench_download >/dev/null
ffmpeg=$(command -v ffmpeg) || { echo "ffmpeg is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/brimtale-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$build/brimtale" "$work/brimtale"
printf '[Main]\r\nLanguage=EN\r\nAutoClose=1\r\n' >"$work/bmt.ini"
"$ffmpeg" -v error -y -f lavfi -i "testsrc=duration=$seconds:size=640x360:rate=25" \
    -f lavfi -i "sine=duration=$seconds" -c:v mpeg4 -q:v 3 -c:a mp3 -shortest "$work/clip.avi"

# The first profile of the shipped file, and the arguments it gives for these
# names (plain names without blanks, so splitting on blanks is exact here).
profiles="$here/../data/bmt_encoder_profiles.ini"
params=$(awk -F= '/^\[/ { s = toupper($0) } s != "[MAIN]" && /^Params=/ { sub(/^Params=/, ""); print; exit }' "$profiles")
ext=$(awk -F= -v p="$params" '/^\[/ { s = toupper($0); e = "" } s != "[MAIN]" && /^Ext=/ { e = $2 } s != "[MAIN]" && /^Params=/ { found = 1 } found && e != "" { print e; exit }' "$profiles")
echo "profile: $params"
direct_args=()
for word in $params; do
    case "$word" in
        %1) direct_args+=("$work/clip.avi") ;;
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
        "$work/brimtale" -get "$work/clip.avi" - "$work/out.avi" 0 0 1 "$params" - "$ext" 0 2>/dev/null; }
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
    d=$("$build/bench/bench_download" --run "$ffmpeg" "${direct_args[@]}" 2>/dev/null)
    read -r total encoding <<<"$(run_brimtale)"
    [ -s "$work/direct.$ext" ] && [ -s "$work/out.$ext" ] || { echo "a conversion failed" >&2; exit 1; }
    ds=$(field seconds "$d")
    printf 'round %d: ffmpeg directly %6.2f s   through brimtale: encoder run %6.2f s, whole process %6.2f s   ratio %s\n' \
        "$r" "$ds" "$(awk -v m="$encoding" 'BEGIN { print m / 1000 }')" "$(awk -v m="$total" 'BEGIN { print m / 1000 }')" \
        "$(awk -v a="$ds" -v b="$encoding" 'BEGIN { printf "%.2f", a * 1000 / b }')"
done
echo "ratio = direct time / encoder run through brimtale (1.00 = no overhead)"
