#!/usr/bin/env bash
# Conversion benchmark, run by hand (not by CI or CTest):
#
#   bench/convert.sh [BUILD_DIR] [SECONDS]
#
# Makes a clip (20 seconds of 640x360 unless told otherwise) and converts it with
# the first shipped profile twice in the same run: once through a real download
# process (brimtale -get with the clip as a local source, offscreen, Auto close
# on), once by running the same ffmpeg arguments directly. Prints both times,
# their ratio and the peak memory of both. ROUNDS (default 3) repeats the pair.
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
rounds=${ROUNDS:-3}
for r in $(seq "$rounds"); do
    rm -f "$work/direct.$ext" "$work/out.$ext"
    d=$("$build/bench/bench_download" --run "$ffmpeg" "${direct_args[@]}")
    b=$(env QT_QPA_PLATFORM=offscreen BRIMTALE_AUTO_ANSWER=no "$build/bench/bench_download" --run \
        "$work/brimtale" -get "$work/clip.avi" - "$work/out.avi" 0 0 1 "$params" - "$ext" 0)
    [ -s "$work/direct.$ext" ] && [ -s "$work/out.$ext" ] || { echo "a conversion failed" >&2; exit 1; }
    ds=$(field seconds "$d"); bs=$(field seconds "$b")
    printf 'round %d: ffmpeg directly %6.2f s (max RSS %s KiB)   through brimtale %6.2f s (max RSS %s KiB)   ratio %s\n' \
        "$r" "$ds" "$(field maxrss_kib "$d")" "$bs" "$(field maxrss_kib "$b")" \
        "$(awk -v a="$ds" -v b="$bs" 'BEGIN { printf "%.2f", a / b }')"
done
echo "ratio = direct time / time through brimtale (1.00 = no overhead)"
