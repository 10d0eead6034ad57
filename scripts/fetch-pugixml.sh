#!/usr/bin/env bash
# Fetches pugixml's sources from Debian's source package into DIR (once) and
# prints the directory holding pugixml.cpp. Needs a deb-src entry
# (scripts/install-deps.sh package adds one).
#   scripts/fetch-pugixml.sh DIR
set -euo pipefail
deps=${1:?usage: fetch-pugixml.sh DIR}
found() { compgen -G "$deps/pugixml-*/src/pugixml.cpp" | head -1; }
if [ -z "$(found)" ]; then
  mkdir -p "$deps"
  if ! log=$(cd "$deps" && apt-get source --download-only pugixml 2>&1); then
    printf '%s\n' "$log" >&2
    echo "fetch-pugixml: apt-get source failed; run scripts/install-deps.sh package" >&2
    exit 1
  fi
  tar -xzf "$deps"/pugixml_*.orig.tar.gz -C "$deps"
fi
source=$(found)
[ -n "$source" ] || { echo "fetch-pugixml: no pugixml.cpp in $deps" >&2; exit 1; }
(cd "$(dirname "$source")" && pwd)
