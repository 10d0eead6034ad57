#!/usr/bin/env bash
# Installs what building and running need and this machine lacks, builds the
# Linux program and starts it in the current directory (where it looks for
# Palisard.ini). Needs root, or CAP_NET_ADMIN and CAP_SYS_PTRACE.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps.sh" run
"$here/scripts/build.sh" release palisard
exec "$here/build/release/src/palisard"
