#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The folders of src/ form layers: a file may include files of its own folder
# and of the folders below it, never of one above. Lowest first:
layers=(base system net app shell convert sites engine download plan ui programs)
# Prints each include that looks up, and fails when there is one.
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"

rank() {
  local i
  for i in "${!layers[@]}"; do
    if [ "${layers[$i]}" = "$1" ]; then echo "$i"; return; fi
  done
  echo -1
}

bad=0
for dir in "$src"/*/; do
  folder=$(basename "$dir")
  own=$(rank "$folder")
  if [ "$own" -lt 0 ]; then
    echo "src/$folder: a folder with no place in the layers" >&2
    bad=1
    continue
  fi
  while IFS= read -r hit; do
    file=${hit%%:*}
    used=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$hit")
    if [ "$(rank "$used")" -lt 0 ] || [ "$(rank "$used")" -gt "$own" ]; then
      echo "${file#"$src"/} includes $used/, which is not below $folder/" >&2
      bad=1
    fi
  # The folder's files and those of its subfolders (posix/, windows/).
  done < <(find "$dir" -type f \( -name '*.h' -o -name '*.cpp' \) -exec \
             grep -HE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' {} + 2>/dev/null || true)
done
[ "$bad" -eq 0 ] && echo "Includes follow the layers: ${layers[*]}"
exit "$bad"
