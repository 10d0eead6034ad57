#!/usr/bin/env bash
# Starts a community's ban service from a clean clone on Debian 12, as root:
# installs what it needs, builds palisard-service alone and serves on port
# 80 with its SQLite database in /var/lib/palisard-service (or the
# directory PALISARD_SERVICE_STATE names). Arguments go to `serve`:
#   scripts/service.sh --latest-version 1.0.1 --download-url https://example.org/palisard/
# Ctrl+C stops it. The packaged service (scripts/package.sh) keeps its
# database in the same directory, so it takes over what this one banned.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh" service
"$here/scripts/build.sh" release palisard-service
program=$here/build/release/src/service/palisard-service
state=${PALISARD_SERVICE_STATE:-/var/lib/palisard-service}
mkdir -p "$state"
echo "palisard-service: database $state/palisard-service.db; administration:"
echo "  (cd $state && $program --help)"
cd "$state"
exec "$program" serve "$@"
