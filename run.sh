#!/usr/bin/env bash
# Installs what is missing, builds the Linux program and starts it in the
# current directory (where it looks for Palisard.ini). Needs root, or
# CAP_NET_ADMIN and CAP_SYS_PTRACE.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" linux
exec "$here/build/linux/src/palisard"
