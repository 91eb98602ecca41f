#!/usr/bin/env bash
# Sets up what is missing, builds Brimtale and runs every test through CTest.
#   scripts/test.sh              plain build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
build_dir=build
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=ON; build_dir=build-asan ;;
    *) echo "usage: scripts/test.sh [--sanitize]" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh

cmake -S . -B "$build_dir" -G Ninja -DBRIMTALE_SANITIZE="$sanitize" -DBRIMTALE_TESTS=ON
cmake --build "$build_dir"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Qt and fontconfig keep a few allocations for the life of the process.
export LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp":print_suppressions=0
ctest --test-dir "$build_dir" --output-on-failure --timeout 600 -j2
