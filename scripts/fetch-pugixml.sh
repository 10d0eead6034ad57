#!/usr/bin/env bash
# The Windows build compiles pugixml from Debian's source package (Debian
# ships the library only for Linux). Fetches and unpacks it into build/deps
# once; needs a deb-src line (scripts/install-deps.sh adds one).
set -euo pipefail
cd "$(dirname "$0")/.."
deps=build/deps
if compgen -G "$deps/pugixml-*/src/pugixml.cpp" > /dev/null; then exit 0; fi
mkdir -p "$deps"
(cd "$deps" && apt-get source --download-only pugixml > /dev/null 2>&1)
tar -xzf "$deps"/pugixml_*.orig.tar.gz -C "$deps"
compgen -G "$deps/pugixml-*/src/pugixml.cpp" > /dev/null
