#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installer under Wine: a silent per-user installation (/S) into a folder
# of its own, the installed brimtale-cli.exe downloading from 127.0.0.1 with
# its data in %APPDATA%\Brimtale (nothing beside the program), then the silent
# uninstaller: the programs and shortcuts go, the settings and the download stay.
#   installer_test.sh BUILD_FOLDER   (with Brimtale-VERSION-setup.exe, see scripts/windows-package.sh)
set -euo pipefail
build=$(cd "${1:?usage: installer_test.sh BUILD_FOLDER}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
export WINEDEBUG=-all
prefix=${WINEPREFIX:-$HOME/.wine}
setup=$(ls "$build"/Brimtale-*-setup.exe 2>/dev/null | head -n 1)
[ -n "$setup" ] || { echo "no installer in $build (scripts/windows-package.sh makes it)"; exit 1; }

folder="bt-install-test-$$"
inst="$prefix/drive_c/$folder"
work=$(mktemp -d /tmp/brimtale-win-setup.XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work" "$inst"
}
trap cleanup EXIT
failed=0
check() { if eval "$2"; then echo "PASS: $1"; else echo "FAIL: $1"; failed=$((failed + 1)); fi; }

appdata=$(find "$prefix/drive_c/users" -maxdepth 3 -type d -path '*/AppData/Roaming' | head -n 1)
menu="$appdata/Microsoft/Windows/Start Menu/Programs/Brimtale"
rm -rf "$appdata/Brimtale.before-test"
[ -d "$appdata/Brimtale" ] && mv "$appdata/Brimtale" "$appdata/Brimtale.before-test"

timeout 120 wine "$setup" /S "/D=C:\\$folder"
check "installed the program and gpgv.exe, no bmt.ini beside it" \
  '[ -f "$inst/brimtale-cli.exe" ] && [ -f "$inst/gpgv.exe" ] && [ -f "$inst/bmt_encoder_profiles.ini" ] && [ -f "$inst/uninstall.exe" ] && [ ! -e "$inst/bmt.ini" ]'
check "Start Menu entries" '[ -f "$menu/Uninstall Brimtale.lnk" ]'

mkdir -p "$work/srv" "$work/out"
{ printf '\0\0\0\034ftypmp42\0\0\0\0mp42isom'; head -c 1000000 /dev/urandom; } > "$work/srv/clip.mp4"
exec {server_out}< <(exec python3 "$here/serve.py" "$work/srv" "$work/requests.log" 120)
server_pid=$!
read -r -t 20 -u "$server_out" port
timeout 120 wine "$inst/brimtale-cli.exe" -q --no-metadata -d "Z:${work//\//\\}\\out" "http://127.0.0.1:$port/clip.mp4" >/dev/null
check "the installed brimtale-cli.exe downloads from 127.0.0.1" 'cmp -s "$work/srv/clip.mp4" "$work/out/clip.mp4"'
check "its data is in %APPDATA%\\Brimtale, none beside it" '[ -d "$appdata/Brimtale" ] && [ ! -e "$inst/bmt.ini" ]'
printf '[Main]\r\nLanguage=PL\r\n' > "$appdata/Brimtale/bmt.ini"

timeout 120 wine "$inst/uninstall.exe" /S
timeout 120 wineserver -w   # the uninstaller goes on from a copy of itself
check "the uninstaller removed the programs and the shortcuts" '[ ! -e "$inst" ] && [ ! -e "$menu" ]'
check "the settings and the download stay" '[ -f "$appdata/Brimtale/bmt.ini" ] && [ -f "$work/out/clip.mp4" ]'

rm -rf "$appdata/Brimtale"
[ -d "$appdata/Brimtale.before-test" ] && mv "$appdata/Brimtale.before-test" "$appdata/Brimtale"
echo "windows installer: $failed failed"
[ "$failed" -eq 0 ]
