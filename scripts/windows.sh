#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Brimtale for 64-bit Windows with mingw-w64 into build-windows/, and runs
# its tests under Wine.
#   scripts/windows.sh            install what is missing, build the libraries once,
#                                 build build-windows/, run the tests under Wine
#   scripts/windows.sh --no-test  the same without the tests
# The cross-built libraries (curl with Schannel and zlib, libarchive, GoogleTest)
# are made from Debian's sources once, into
#   ${BRIMTALE_WIN_CACHE:-$HOME/.cache/brimtale-windows}/libs-HASH
# where HASH is that of scripts/windows-libs.sh: a changed recipe builds again.
# gpgv.exe is built the same way into $cache/gpgv-HASH (scripts/windows-gpgv.sh).
# Then the portable zip and the installer (scripts/windows-package.sh), and the
# tests under Wine (a prefix of its own in the cache).
# The window program brimtale.exe needs Qt for mingw: BRIMTALE_QT_MINGW names a
# folder or a .tar.xz of it (default: the shared toolchain archive when this
# machine has it; build one with that toolchain's build-qt6-mingw.sh, most of an
# hour). Without one, or with BRIMTALE_WIN_GUI=0, only the core, brimtale-cli.exe
# and their tests are built, and the script says so.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

run_tests=yes
for arg in "$@"; do
  case "$arg" in
    --no-test) run_tests=no ;;
    *) echo "usage: scripts/windows.sh [--no-test]" >&2; exit 2 ;;
  esac
done

packages=(
  x11-utils imagemagick
  cmake ninja-build ccache dpkg-dev xz-utils zip unzip
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
  libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev libassuan-mingw-w64-dev
  libksba-mingw-w64-dev libnpth-mingw-w64-dev
  googletest nlohmann-json3-dev qt6-base-dev qt6-base-dev-tools
  wine wine64 xvfb xauth nsis python3 bsdutils
)
missing=()
for pkg in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Debian's source packages need a deb-src entry for the same archive.
if ! grep -rqs "^Types:.*deb-src\|^deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "Adding the deb-src entries of the Debian archive"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      "${as_root[@]}" tee /etc/apt/sources.list.d/brimtale-deb-src.sources >/dev/null
  else
    # The one-line form: each "deb" line again as "deb-src".
    grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list | sed 's/^deb /deb-src /' |
      "${as_root[@]}" tee /etc/apt/sources.list.d/brimtale-deb-src.list >/dev/null
  fi
  "${as_root[@]}" apt-get update -q
fi

toolchain=$root/cmake/mingw-w64-x86_64.cmake
cache=${BRIMTALE_WIN_CACHE:-$HOME/.cache/brimtale-windows}
recipe=$(cat scripts/windows-libs.sh cmake/mingw-w64-x86_64.cmake | sha256sum | cut -c1-16)
libs=$cache/libs-$recipe
if [ ! -f "$libs/.complete" ]; then
  echo "Building the cross libraries into $libs (once)"
  rm -rf "$libs" "$libs.work"
  start=$SECONDS
  bash scripts/windows-libs.sh "$libs" "$libs.work" "$toolchain"
  rm -rf "$libs.work"
  touch "$libs/.complete"
  echo "Cross libraries built in $((SECONDS - start)) s"
fi

# gpgv.exe, which checks the page engine's signed releases, has a recipe and a
# cache of its own: $cache/gpgv-HASH.
gpgv_dir=$cache/gpgv-$(sha256sum scripts/windows-gpgv.sh | cut -c1-16)
if [ ! -f "$gpgv_dir/.complete" ]; then
  echo "Building gpgv.exe into $gpgv_dir (once)"
  rm -rf "$gpgv_dir" "$gpgv_dir.work"
  start=$SECONDS
  bash scripts/windows-gpgv.sh "$gpgv_dir" "$gpgv_dir.work"
  rm -rf "$gpgv_dir.work"
  touch "$gpgv_dir/.complete"
  echo "gpgv.exe built in $((SECONDS - start)) s"
fi

prefixes="$libs"
qt_args=(-DBRIMTALE_GUI=OFF)
qt_dir=
shared_qt=$root/../shared/toolchains/qt6-mingw-6.4.2.tar.xz
[ -f "$shared_qt" ] || shared_qt=/work/shared/toolchains/qt6-mingw-6.4.2.tar.xz
qt_source=${BRIMTALE_QT_MINGW:-$shared_qt}
if [ "${BRIMTALE_WIN_GUI:-1}" = 0 ]; then
  echo "BRIMTALE_WIN_GUI=0: the window program brimtale.exe is skipped."
elif [ -d "$qt_source" ] && [ -f "$qt_source/lib/cmake/Qt6/Qt6Config.cmake" ]; then
  qt_dir=$qt_source
elif [ -f "$qt_source" ]; then
  qt_dir=$cache/qt6-$(sha256sum "$qt_source" | cut -c1-16)/qt6
  if [ ! -f "$qt_dir/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    echo "Unpacking Qt for mingw from $qt_source"
    mkdir -p "$(dirname "$qt_dir")"
    tar -C "$(dirname "$qt_dir")" -xf "$qt_source"
  fi
else
  echo "No Qt for mingw here ($qt_source; BRIMTALE_QT_MINGW names one): the window program"
  echo "brimtale.exe is skipped; the core, brimtale-cli.exe, their tests and packages are built."
fi
if [ -n "$qt_dir" ]; then
  prefixes="$libs;$qt_dir"
  qt_args=(-DBRIMTALE_GUI=ON -DCMAKE_PREFIX_PATH="$qt_dir" -DQT_HOST_PATH=/usr
           -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
fi

export CCACHE_DIR=${CCACHE_DIR:-$cache/ccache}
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DBRIMTALE_WIN_PREFIXES="$prefixes" -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
  -DBRIMTALE_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo "${qt_args[@]}"
cmake --build build-windows -j"${BRIMTALE_JOBS:-2}"
cp "$gpgv_dir/bin/gpgv.exe" build-windows/gpgv.exe
bash scripts/windows-package.sh build-windows "$qt_dir"

if [ "$run_tests" = yes ]; then
  export WINEPREFIX=${WINEPREFIX:-$cache/wine}
  export WINEDEBUG=-all
  # Wine makes Windows' names into this system's in its locale: without a
  # UTF-8 one (a machine with no LANG) a name such as "zażółć" can't be made.
  if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    export LC_ALL=C.UTF-8
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Making the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  # One Wine session for the whole run. Debian's wineserver ends the moment
  # its last program has (-p0), and the prefix's services and desktop with it;
  # the next program starts them again. With the tests' many short programs
  # that happened between any two of them, and the first programs started
  # beside that work have been seen never to exit after their tests passed.
  # This server stays until the run ends; one program that does nothing starts
  # the services before the tests do.
  wineserver -k 2>/dev/null || true
  wineserver -p
  trap 'wineserver -k 2>/dev/null || true' EXIT
  wine cmd /c exit 0 >/dev/null 2>&1 || true
  # The core's GoogleTest suites run here too, a program at a time; what their
  # tests did (passed, or skipped themselves for what Wine lacks) comes from
  # the results each program writes to Testing/gtest/.
  # One test at a time: with two test programs started at the same moment in
  # the prefix, Wine has been seen to fail to start one of their programs
  # ("Internal error") or one of them not to exit. The tests that need Wine's
  # server for themselves (label own_wine_server) come last, and end the shared
  # one.
  test_log=build-windows/Testing/windows-tests.log
  results=build-windows/Testing/gtest
  rm -rf "$results"
  mkdir -p "$results"
  : > "$test_log"
  test_start=$SECONDS
  test_status=0
  for selection in "-LE own_wine_server" "-L own_wine_server"; do
    # shellcheck disable=SC2086  # the selection is two words
    ctest --test-dir build-windows --output-on-failure --timeout 600 -j1 $selection |
      tee -a "$test_log" || test_status=$?
  done
  count() { grep -cE "^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*$1" "$test_log" || true; }
  ran=$(count '')
  passed=$(count ' Passed')
  cases=$(python3 - "$results" <<'EOF'
import pathlib, sys
import xml.etree.ElementTree as ET
passed = skipped = failed = 0
for f in pathlib.Path(sys.argv[1]).glob("*.xml"):
    try:
        cases = list(ET.parse(f).iter("testcase"))
    except ET.ParseError:
        print(f"{f}: results unreadable", file=sys.stderr)
        continue
    for case in cases:
        if case.find("failure") is not None:
            failed += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            skipped += 1
        else:
            passed += 1
print(f"{passed + skipped + failed} test cases ({passed} passed, {skipped} skipped, {failed} failed)")
EOF
)
  echo "Windows tests under Wine: $ran programs and scripts ran, $passed passed," \
       "$((ran - passed)) failed; in them $cases; in $((SECONDS - test_start)) s"
  exit "$test_status"
fi
