#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the Windows packages from build-windows/: the portable zip
# Brimtale-VERSION-windows-x64.zip (an empty bmt.ini beside the programs keeps
# the data in that folder) and the installer Brimtale-VERSION-setup.exe (NSIS;
# installed, the data goes to %APPDATA%\Brimtale). Called by scripts/windows.sh.
#   windows-package.sh BUILD_FOLDER [QT_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
qt=${2:-}
version=$(sed -nE 's/^project\(Brimtale VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
name=Brimtale-$version
stage_root=$build/stage
stage=$stage_root/$name
rm -rf "$stage_root"
mkdir -p "$stage"

strip_copy() { x86_64-w64-mingw32-strip -o "$2" "$1"; }
strip_copy "$build/brimtale-cli.exe" "$stage/brimtale-cli.exe"
# The signature checker of the page engine's update (scripts/windows-gpgv.sh).
cp "$build/gpgv.exe" "$stage/gpgv.exe"
# curl and libarchive in both programs use Debian's zlib DLL for mingw.
cp /usr/x86_64-w64-mingw32/lib/zlib1.dll "$stage/"
# The window program only with its Qt (a build without Qt may hold an older one).
if [ -f "$build/brimtale.exe" ] && [ -n "$qt" ]; then
  strip_copy "$build/brimtale.exe" "$stage/brimtale.exe"
  for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Network; do cp "$qt/bin/$dll.dll" "$stage/"; done
  for plugin in platforms/qwindows styles/qwindowsvistastyle tls/qschannelbackend \
                imageformats/qico imageformats/qjpeg imageformats/qgif; do
    [ -f "$qt/plugins/$plugin.dll" ] || continue
    mkdir -p "$stage/$(dirname "$plugin")"
    cp "$qt/plugins/$plugin.dll" "$stage/$plugin.dll"
  done
  # Qt's DLLs use the mingw runtime's (the programs themselves are static).
  cp /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll \
     /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll \
     /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$stage/"
  mkdir -p "$stage/translations"
  cp /usr/share/qt6/translations/qtbase_pl.qm "$stage/translations/" 2>/dev/null || true
fi
cp data/bmt_encoder_profiles.ini data/yt-dlp-signing-key.asc "$stage/"
sed 's/$/\r/' COPYING > "$stage/COPYING.txt"
: > "$stage/bmt.ini"

rm -f "$build/$name-windows-x64.zip"
(cd "$stage_root" && zip -qr9 "../$name-windows-x64.zip" "$name")
echo "$build/$name-windows-x64.zip: $(stat -c %s "$build/$name-windows-x64.zip") bytes"

# The uninstaller removes exactly what the installer put (bmt.ini is not installed).
{
  (cd "$stage" && find . -type f ! -name bmt.ini | sed 's|^\./||' | sort) |
    while IFS= read -r f; do printf 'Delete "$INSTDIR\\%s"\n' "${f//\//\\}"; done
  (cd "$stage" && find . -mindepth 1 -type d | sed 's|^\./||' | sort -r) |
    while IFS= read -r d; do printf 'RMDir "$INSTDIR\\%s"\n' "${d//\//\\}"; done
} > "$stage_root/uninstall-files.nsh"
makensis -V2 -DVERSION="$version" -DSTAGE="$PWD/$stage" -DOUTFILE="$PWD/$build/$name-setup.exe" \
  data/windows/brimtale.nsi
echo "$build/$name-setup.exe: $(stat -c %s "$build/$name-setup.exe") bytes"
