#!/usr/bin/env bash
# Sets up what is missing, builds Brimtale and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja
cmake --build build --target brimtale
exec ./build/brimtale "$@"
