#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Page engine update benchmark, run by hand (not by CI or CTest):
#
#   bench/engine_update.sh [BUILD_DIR] [ROUNDS] [ENGINE_MB] [DENO_MB]
#
# Times each step of an update (looking up the release, the hash list, the
# signature check with gpgv, the engine's download, its test run, installing,
# and fetching deno) against release servers on 127.0.0.1, with a signing key
# made for the run (gpg is needed). Defaults: 5 rounds, a 3 MiB engine (the
# size of the zipapp) and a 40 MiB deno zip. Prints the median of each step.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
cmake --build "$build" --target bench_engine_update >/dev/null
"$build/bench/bench_engine_update" "${2:-5}" "${3:-3}" "${4:-40}"
