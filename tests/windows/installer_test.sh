#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installer under Wine, installed twice side by side:
#   - for this user (/S, the default folder under %LOCALAPPDATA%\Programs);
#   - for all users (/S /ALLUSERS, into a folder given with /D, which stays the
#     folder), with the Start Menu entries for everyone and its entry in HKLM.
# The installed brimtale-cli.exe downloads from 127.0.0.1 with its data in
# %APPDATA%\Brimtale (nothing beside the program). Each silent uninstaller,
# started as its registry entry says, removes its own programs, shortcuts and
# entry and leaves the other installation, the settings and the download.
#   installer_test.sh BUILD_FOLDER   (with Brimtale-VERSION-setup.exe, see scripts/windows-package.sh)
set -euo pipefail
build=$(cd "${1:?usage: installer_test.sh BUILD_FOLDER}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
export WINEDEBUG=-all
# The uninstaller goes on from a copy of itself, which is waited for by waiting
# for the Wine server to end; the server the tests before shared stays until it
# is ended, so it is ended first (this test runs alone).
wineserver -k 2>/dev/null || true
prefix=${WINEPREFIX:-$HOME/.wine}
setup=$(ls "$build"/Brimtale-*-setup.exe 2>/dev/null | head -n 1)
[ -n "$setup" ] || { echo "no installer in $build (scripts/windows-package.sh makes it)"; exit 1; }

appdata=$(find "$prefix/drive_c/users" -maxdepth 3 -type d -path '*/AppData/Roaming' | head -n 1)
localdata=$(find "$prefix/drive_c/users" -maxdepth 3 -type d -path '*/AppData/Local' | head -n 1)
mine="$localdata/Programs/Brimtale"
mine_menu="$appdata/Microsoft/Windows/Start Menu/Programs/Brimtale"
folder="bt-install-all-$$"
all="$prefix/drive_c/$folder"
all_menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Brimtale"
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Brimtale'
work=$(mktemp -d /tmp/brimtale-win-setup.XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work" "$all" "$mine"
}
trap cleanup EXIT
failed=0
check() { if eval "$2"; then echo "PASS: $1"; else echo "FAIL: $1"; failed=$((failed + 1)); fi; }
# The uninstall command an installation left in the registry (HKCU or HKLM).
uninstall_string() {
  { wine reg query "$1\\$key" /v UninstallString 2>/dev/null || true; } | tr -d '\r' |
    sed -n 's/^ *UninstallString *REG_SZ *//p'
}
# Runs an uninstall command as Windows would, silently, and waits for the copy
# of itself the uninstaller goes on from.
run_uninstall() {
  local command=$1 program args
  program=$(sed 's/^"\([^"]*\)".*/\1/' <<<"$command")
  args=$(sed 's/^"[^"]*" *//' <<<"$command")
  # shellcheck disable=SC2086  # the arguments are the registry's words (/ALLUSERS or none)
  timeout 120 wine "$program" /S $args
  timeout 120 wineserver -w
}

rm -rf "$appdata/Brimtale.before-test"
[ -d "$appdata/Brimtale" ] && mv "$appdata/Brimtale" "$appdata/Brimtale.before-test"

timeout 120 wine "$setup" /S
timeout 120 wine "$setup" /S /ALLUSERS "/D=C:\\$folder"
check "installed for this user in the default folder with gpgv.exe, no bmt.ini beside it" \
  '[ -f "$mine/brimtale-cli.exe" ] && [ -f "$mine/gpgv.exe" ] && [ -f "$mine/bmt_encoder_profiles.ini" ] && [ -f "$mine/uninstall.exe" ] && [ ! -e "$mine/bmt.ini" ]'
check "installed for all users in the folder given with /D" \
  '[ -f "$all/brimtale-cli.exe" ] && [ -f "$all/uninstall.exe" ] && [ ! -e "$all/bmt.ini" ]'
check "Start Menu entries for this user and for everyone" \
  '[ -f "$mine_menu/Uninstall Brimtale.lnk" ] && [ -f "$all_menu/Uninstall Brimtale.lnk" ]'
mine_uninstall=$(uninstall_string HKCU)
all_uninstall=$(uninstall_string HKLM)
check "each installation's uninstall entry (HKCU, HKLM with /ALLUSERS)" \
  '[[ "$mine_uninstall" == *"Programs\\Brimtale\\uninstall.exe\""* ]] && [[ "$all_uninstall" == *"$folder\\uninstall.exe\" /ALLUSERS" ]]'

mkdir -p "$work/srv" "$work/out"
{ printf '\0\0\0\034ftypmp42\0\0\0\0mp42isom'; head -c 1000000 /dev/urandom; } > "$work/srv/clip.mp4"
exec {server_out}< <(exec python3 "$here/serve.py" "$work/srv" "$work/requests.log" 120)
server_pid=$!
read -r -t 20 -u "$server_out" port
timeout 120 wine "$all/brimtale-cli.exe" -q --no-metadata -d "Z:${work//\//\\}\\out" "http://127.0.0.1:$port/clip.mp4" >/dev/null
check "the installed brimtale-cli.exe downloads from 127.0.0.1" 'cmp -s "$work/srv/clip.mp4" "$work/out/clip.mp4"'
check "its data is in %APPDATA%\\Brimtale, none beside it" '[ -d "$appdata/Brimtale" ] && [ ! -e "$all/bmt.ini" ]'
printf '[Main]\r\nLanguage=PL\r\n' > "$appdata/Brimtale/bmt.ini"

run_uninstall "$all_uninstall"
check "the all-users uninstaller removed its programs, shortcuts and entry" \
  '[ ! -e "$all" ] && [ ! -e "$all_menu" ] && [ -z "$(uninstall_string HKLM)" ]'
check "and left this user's installation" \
  '[ -f "$mine/brimtale-cli.exe" ] && [ -f "$mine_menu/Uninstall Brimtale.lnk" ] && [ -n "$(uninstall_string HKCU)" ]'
run_uninstall "$mine_uninstall"
check "this user's uninstaller removed its programs, shortcuts and entry" \
  '[ ! -e "$mine" ] && [ ! -e "$mine_menu" ] && [ -z "$(uninstall_string HKCU)" ]'
check "the settings and the download stay" '[ -f "$appdata/Brimtale/bmt.ini" ] && [ -f "$work/out/clip.mp4" ]'

rm -rf "$appdata/Brimtale"
[ -d "$appdata/Brimtale.before-test" ] && mv "$appdata/Brimtale.before-test" "$appdata/Brimtale"
echo "windows installer: $failed failed"
[ "$failed" -eq 0 ]
