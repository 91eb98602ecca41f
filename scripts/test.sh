#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up what is missing, builds Brimtale and runs every test through CTest.
#   scripts/test.sh                 plain build in build/
#   scripts/test.sh --sanitize      AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   scripts/test.sh --fuzz [SECS]   the libFuzzer targets (clang) in build-fuzz/, SECS each (30)
# Where the system allows it, the tests run in a network namespace that has
# nothing but loopback, so a test that tries to leave the machine fails.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=plain
fuzz_seconds=30
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) mode=sanitize ;;
    --fuzz)
      mode=fuzz
      if [ $# -gt 1 ] && [[ "$2" =~ ^[0-9]+$ ]]; then fuzz_seconds="$2"; shift; fi ;;
    *) echo "usage: scripts/test.sh [--sanitize | --fuzz [SECONDS]]" >&2; exit 2 ;;
  esac
  shift
done

bash scripts/setup.sh

# Runs a command in a new network namespace with only loopback up, or as it is
# when no namespace can be made here.
loopback_only() {
  local netns=()
  if unshare -n true 2>/dev/null; then
    netns=(unshare -n)
  elif unshare -rn true 2>/dev/null; then
    netns=(unshare -rn)
  fi
  if [ ${#netns[@]} -gt 0 ] && "${netns[@]}" ip link set lo up 2>/dev/null; then
    echo "Tests run in a network namespace with only loopback (${netns[*]})."
    "${netns[@]}" sh -c 'ip link set lo up && exec "$@"' sh "$@"
  else
    echo "No network namespace can be made here; tests run on the machine's network."
    "$@"
  fi
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

if [ "$mode" = fuzz ]; then
  build_dir=build-fuzz
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DBRIMTALE_FUZZ=ON -DBRIMTALE_TESTS=OFF
  cmake --build "$build_dir" --target fuzz_all
  mkdir -p "$build_dir/artifacts"
  failed=0
  for seeds in tests/fuzz/corpus/*/; do
    target=$(basename "$seeds")
    # New inputs go to a scratch corpus; the seeds in the tree stay as they are.
    work="$build_dir/corpus/$target"
    mkdir -p "$work"
    echo "== $target: ${fuzz_seconds} s"
    if ! loopback_only "$build_dir/tests/fuzz/$target" -max_total_time="$fuzz_seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build_dir/artifacts/$target-" \
        "$work" "$seeds" > "$build_dir/$target.log" 2>&1; then
      tail -n 40 "$build_dir/$target.log"
      failed=$((failed + 1))
    else
      grep -E "^stat::number_of_executed_units" "$build_dir/$target.log" || true
    fi
  done
  total=$(ls -d tests/fuzz/corpus/*/ | wc -l)
  echo "fuzz: $((total - failed)) passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
fi

if [ "$mode" = sanitize ]; then
  build_dir=build-asan; sanitize=ON
else
  build_dir=build; sanitize=OFF
fi
cmake -S . -B "$build_dir" -G Ninja -DBRIMTALE_SANITIZE="$sanitize" -DBRIMTALE_TESTS=ON
cmake --build "$build_dir"

export QT_QPA_PLATFORM=offscreen
# Qt and fontconfig keep a few allocations for the life of the process.
export LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp":print_suppressions=0
loopback_only ctest --test-dir "$build_dir" --output-on-failure --timeout 600 -j2
