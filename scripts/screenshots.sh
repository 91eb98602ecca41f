#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds what is needed and draws the three windows in English and Polish into
# docs/screenshots/ (offscreen: no display is needed).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build}"
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S . -B "$build_dir" -G Ninja
fi
cmake --build "$build_dir" --target brimtale_screenshots
mkdir -p docs/screenshots
QT_QPA_PLATFORM=offscreen "$build_dir/tests/ui/brimtale_screenshots" docs/screenshots
