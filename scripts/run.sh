#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up what is missing, builds Brimtale and runs its main job on the bundled
# sample: a page of a recognised site and a generated clip, served on 127.0.0.1
# only. The page is resolved and named, a download process downloads the clip,
# converts it with the first conversion profile and ends by itself.
# With a display its window is seen; without one, its progress is printed here.
#
#   scripts/run.sh                 the sample run
#   scripts/run.sh --cli           the same sample job through brimtale-cli
#   scripts/run.sh --interactive   start the program itself (build/brimtale)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja
if [ "${1:-}" = "--interactive" ]; then
  cmake --build build --target brimtale
  exec ./build/brimtale
fi
cmake --build build --target brimtale brimtale-cli brimtale_sample
if [ "${1:-}" = "--cli" ]; then
  exec ./build/brimtale_sample --dir "$PWD/build/sample" --cli
fi
./build/brimtale_sample --dir "$PWD/build/sample"
echo
echo "Start the program itself with: build/brimtale   (or scripts/run.sh --interactive)"
