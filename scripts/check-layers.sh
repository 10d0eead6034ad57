#!/usr/bin/env bash
# The folders of src/ include each other downward only, so that each can be
# read, tested and changed without the ones above it. Fails, naming each
# include that goes up the order below or sideways within one level, and
# any folder the order does not name. Needs coreutils only.
#   check-layers.sh [SRC]      (default: the repository's src/)
set -euo pipefail
cd "${1:-$(dirname "$0")/../src}"

# The order of the folders, lowest first: a folder includes only folders of
# lower levels. palisard-service's rooms are folders of src/service; its own
# files (the server that wires the rooms) are "service". This is the one
# statement of it; docs/ARCHITECTURE.md quotes it.
levels=(
  "common"
  "soap net"
  "game firewall bans store"
  "service/values"
  "service/feed"
  "service/settings service/accounts service/outbound"
  "service/http"
  "admin web service/contract service/moderation service/cli service/api"
  "service"
  "app"
)
# Includes allowed between two folders of one level, as "FROM TO".
sideways=()

declare -A level
for i in "${!levels[@]}"; do
  for folder in ${levels[$i]}; do level[$folder]=$i; done
done

failed=0
for folder in */ service/*/; do
  folder=${folder%/}
  if [ -z "${level[$folder]+set}" ]; then
    echo "layers: src/$folder is in no level of scripts/check-layers.sh"
    failed=1
  fi
done

# Every include of another folder's header, as "FILE:LINE FROM TO" (tests'
# helpers live outside src/ and are left out).
while read -r where from to; do
  [ "$from" = "$to" ] || [ -z "${level[$to]+set}" ] || [ -z "${level[$from]+set}" ] && continue
  if ((level[$to] > level[$from])); then
    echo "layers: $where: $from includes $to, which lies above it"
    failed=1
  elif ((level[$to] == level[$from])) && [[ " ${sideways[*]} " != *" $from $to "* ]]; then
    echo "layers: $where: $from includes $to, of its own level"
    failed=1
  fi
done < <(grep -rnoE '^#include "[a-z_]+/([a-z_]+/)?' --include='*.h' --include='*.cpp' . |
  sed -E 's#^\./(([a-z_]+)/[^:]*:[0-9]+):\#include "([a-z_]+)/([a-z_]+/)?$#src/\1 \2 \3 \4#' |
  while read -r where from to sub; do
    # A room of the service: its folder, and the service's own files.
    [ "$from" = service ] && [[ "$where" =~ ^src/service/([a-z_]+)/ ]] && from=service/${BASH_REMATCH[1]}
    [ "$to" = service ] && [ -n "$sub" ] && [ -d "service/${sub%/}" ] && to=service/${sub%/}
    echo "$where $from $to"
  done)

if [ "$failed" -ne 0 ]; then
  echo "layers: the order, lowest first:"
  printf '  %s\n' "${levels[@]}"
  exit 1
fi
echo "layers: every include of src/ goes down the order"
