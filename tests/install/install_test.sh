#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a fresh prefix and runs the installed program in
# download mode on a local clip: it must convert it and end by itself, with its
# settings in the user's data folder (an installed layout, whoever runs it). When
# the machine has an unprivileged user, the same run as that user too.
#
#   install_test.sh BUILD_DIR              from "cmake --install" into a prefix
#   install_test.sh BUILD_DIR --package    from the Debian package (cpack -G DEB),
#                                          after checking its files, its fields and
#                                          its metainfo, unpacked with dpkg-deb -x
#   ... --package --unhardened             the same for a sanitizer build, whose
#                                          programs carry no hardening flags
set -euo pipefail
build=$1
from=${2:-}
hardened=yes
[ "${3:-}" = --unhardened ] && hardened=no
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed: skipped"; exit 0; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
if [ "$from" = --package ]; then
  (cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
  deb=$(ls "$work"/deb/brimtale_*.deb)
  contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
  for f in ./usr/bin/brimtale ./usr/bin/brimtale-cli ./usr/share/brimtale/bmt_encoder_profiles.ini \
           ./usr/share/applications/brimtale.desktop ./usr/share/metainfo/org.brimtale.Brimtale.metainfo.xml \
           ./usr/share/icons/hicolor/scalable/apps/brimtale.svg ./usr/share/icons/hicolor/48x48/apps/brimtale.png; do
    grep -qx "$f" <<<"$contents" || { echo "the package lacks $f" >&2; exit 1; }
  done
  info=$(dpkg-deb --info "$deb")
  for dep in libqt6widgets6 libqt6gui6 libqt6core6 libqt6network6 libqt6dbus6 libcurl4 qt6-qpa-plugins libarchive13 gpgv; do
    grep -q "^ Depends:.*$dep" <<<"$info" || { echo "the package does not depend on $dep" >&2; exit 1; }
  done
  grep -q "^ Recommends:.*ffmpeg.*yt-dlp" <<<"$info" || { echo "the package does not recommend ffmpeg and yt-dlp" >&2; exit 1; }
  for f in ./usr/share/man/man1/brimtale.1.gz ./usr/share/man/man1/brimtale-cli.1.gz \
           ./usr/share/doc/brimtale/copyright ./usr/share/doc/brimtale/changelog.gz; do
    grep -qx "$f" <<<"$contents" || { echo "the package lacks $f" >&2; exit 1; }
  done
  grep -q "^ Maintainer: .* <.*@.*>$" <<<"$info" || { echo "the package names no maintainer to write to" >&2; exit 1; }
  # The licence: the copyright file names it and points to Debian's copy of its
  # text, so the package holds no second copy.
  copyright=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/brimtale/copyright)
  grep -qx "License: GPL-3+" <<<"$copyright" || { echo "the copyright file names no GPL-3+" >&2; exit 1; }
  grep -q "/usr/share/common-licenses/GPL-3" <<<"$copyright" ||
    { echo "the copyright file does not point to the licence's text" >&2; exit 1; }
  ! grep -q "/COPYING$" <<<"$contents" || { echo "the package holds COPYING" >&2; exit 1; }
  # Debian's own checks of a package: no error, no warning.
  command -v lintian >/dev/null || { echo "lintian is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
  findings=$(lintian --tag-display-limit 0 --fail-on error,warning "$deb" 2>&1) ||
    { echo "lintian: $findings" >&2; exit 1; }
  ! grep -E '^[EW]: ' <<<"$findings" >&2 || exit 1
  echo "lintian finds no error and no warning"
  dpkg-deb -x "$deb" "$work/root"
  prefix=$work/root/usr
  # Stripped, with their symbols bound at start-up and read-only afterwards, and
  # with the checked forms of the C library's string and memory functions.
  for program in brimtale brimtale-cli; do
    [ "$hardened" = yes ] || continue
    sections=$(readelf -SW "$prefix/bin/$program")
    ! grep -qE ' \.(symtab|debug_info) ' <<<"$sections" || { echo "$program is not stripped" >&2; exit 1; }
    dynamic=$(readelf -d "$prefix/bin/$program")
    grep -qE 'BIND_NOW|FLAGS.*NOW' <<<"$dynamic" || { echo "$program lacks -z now" >&2; exit 1; }
    headers=$(readelf -lW "$prefix/bin/$program")
    grep -q GNU_RELRO <<<"$headers" || { echo "$program lacks RELRO" >&2; exit 1; }
    symbols=$(readelf --dyn-syms -W "$prefix/bin/$program")
    grep -qE '__(printf|fprintf|memcpy|snprintf|sprintf|read|strcpy)_chk' <<<"$symbols" ||
      { echo "$program is built without _FORTIFY_SOURCE" >&2; exit 1; }
  done
  if command -v man >/dev/null; then
    manual=$(man -l "$prefix/share/man/man1/brimtale-cli.1.gz" 2>/dev/null)
  grep -q -- "--list-profiles" <<<"$manual" ||
      { echo "the manual page of brimtale-cli does not read" >&2; exit 1; }
  fi
  if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/org.brimtale.Brimtale.metainfo.xml" >/dev/null
  fi
  echo "the package holds its files and names its dependencies"
else
  prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" >/dev/null
  # The licence's full text goes with the program's documentation.
  cmp -s "$(dirname "$0")/../../COPYING" "$prefix/share/doc/brimtale/COPYING" ||
    { echo "the install lacks COPYING" >&2; exit 1; }
fi

test -x "$prefix/bin/brimtale"
test -x "$prefix/bin/brimtale-cli"
"$prefix/bin/brimtale-cli" --list-profiles | grep -q "^MP4_H264	"
test -f "$prefix/share/brimtale/bmt_encoder_profiles.ini"
# The page engine's signing key, which an update's signature must match.
test -f "$prefix/share/brimtale/yt-dlp-signing-key.asc"
test -f "$prefix/share/applications/brimtale.desktop"
if [ "$from" = --package ]; then
  grep -q '^Exec="/usr/bin/brimtale"' "$prefix/share/applications/brimtale.desktop"
else
  grep -q "^Exec=\"$prefix/bin/brimtale\"" "$prefix/share/applications/brimtale.desktop"
fi
# "Open with" hands the chosen file to the program.
grep -q '^Exec=.* %U$' "$prefix/share/applications/brimtale.desktop"
grep -q '^MimeType=.*video/mp4;' "$prefix/share/applications/brimtale.desktop"
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
