#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs the installed program in
# download mode on a local clip: it must convert it and end by itself, with its
# settings in the user's data folder (an installed layout, whoever runs it). When
# the machine has an unprivileged user, the same run as that user too.
set -euo pipefail
build=$1
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed: skipped"; exit 0; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

test -x "$prefix/bin/brimtale"
test -x "$prefix/bin/brimtale-cli"
"$prefix/bin/brimtale-cli" --list-profiles | grep -q "^MP4_H264	"
test -f "$prefix/share/brimtale/bmt_encoder_profiles.ini"
test -f "$prefix/share/applications/brimtale.desktop"
grep -q "^Exec=\"$prefix/bin/brimtale\"$" "$prefix/share/applications/brimtale.desktop"
# The menu entry passes the desktop's own checks, warnings included.
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$prefix/share/applications/brimtale.desktop" 2>&1 || true)
  [ -z "$out" ] || { echo "desktop-file-validate: $out" >&2; exit 1; }
fi

mkdir -m 777 "$work/videos"
ffmpeg -v error -y -f lavfi -i testsrc=duration=1:size=160x120:rate=10 -c:v mpeg4 "$work/videos/in clip.avi"
chmod 666 "$work/videos/in clip.avi"

run_job() { # output-name
  timeout 120 env QT_QPA_PLATFORM=offscreen BRIMTALE_AUTO_ANSWER=no "$@"
}
job=(-get "$work/videos/in clip.avi" "-" "$work/videos/out.avi" 0 0 0 "-y -i %1 -c:v mpeg4 -b:v %DVB %2" "-" "mkv" 0)

# As the current user, even one who may write the program's folder (root): an
# installed program keeps its files in the user's data folder, never in bin/.
data=$work/data
mkdir -p "$data/brimtale"
printf '[Main]\r\nAutoClose=1\r\n' > "$data/brimtale/bmt.ini"
run_job env XDG_DATA_HOME="$data" "$prefix/bin/brimtale" "${job[@]}"
test -s "$work/videos/out.mkv"
test ! -e "$prefix/bin/bmt.ini"
grep -q "AutoClose=1" "$data/brimtale/bmt.ini"
echo "installed program converted the clip, its settings in the user's data folder"

if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1 && command -v runuser >/dev/null &&
   runuser -u nobody -- test -x "$(command -v ffmpeg)"; then
  rm -f "$work/videos/out.mkv"
  home=$work/home
  mkdir -p "$home/.local/share/brimtale"
  printf '[Main]\r\nAutoClose=1\r\n' > "$home/.local/share/brimtale/bmt.ini"
  chown -R nobody "$home"
  chmod 755 "$prefix" "$prefix/bin"
  run_job runuser -u nobody -- env HOME="$home" XDG_DATA_HOME= "$prefix/bin/brimtale" "${job[@]}"
  test -s "$work/videos/out.mkv"
  test ! -e "$prefix/bin/bmt.ini"
  grep -q "AutoClose=1" "$home/.local/share/brimtale/bmt.ini"
  echo "as an unprivileged user the settings stayed in the user's data folder"
fi
echo "1 passed, 0 failed"
