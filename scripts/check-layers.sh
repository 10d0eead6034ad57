#!/usr/bin/env bash
# The folders of src/ include each other downward only, so that each can be
# read, tested and changed without the ones above it. Fails, naming the
# folders, when their include graph has a circle. Needs coreutils only.
set -euo pipefail
cd "$(dirname "$0")/../src"

# One line "FROM TO" for each folder that includes a header of another
# (tests' helpers live outside src/ and are left out).
edges=$(grep -rHoE '^#include "[a-z_]+/' --include='*.h' --include='*.cpp' . |
  sed -E 's#^\./([a-z_]+)/[^:]*:\#include "([a-z_]+)/$#\1 \2#' |
  while read -r from to; do if [ "$from" != "$to" ] && [ -d "$to" ]; then echo "$from $to"; fi; done | sort -u)

if ! loop=$(printf '%s\n' "$edges" | tsort 2>&1 >/dev/null) || [ -n "$loop" ]; then
  echo "layers: the folders of src/ include each other in a circle:"
  echo "$loop" | grep -v 'input contains a loop' | sed 's/^tsort: /  /'
  echo "the includes between folders:"
  echo "$edges" | sed 's/^/  /'
  exit 1
fi
echo "layers: no circle between the folders of src/"
