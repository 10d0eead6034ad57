#!/usr/bin/env bash
# Configures and builds one flavour into build/FLAVOUR:
#   linux    the Linux program and its tests
#   asan     the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan     the same under ThreadSanitizer
#   windows  palisard.exe and its unit tests, cross-built with mingw-w64
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-linux}
# The test command builds with warnings as errors (PALISARD_WERROR=ON).
options=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALISARD_WERROR=${PALISARD_WERROR:-OFF})
case "$flavour" in
  linux) options+=(-DPALISARD_BUILD_BENCHMARKS=ON) ;;
  asan) options+=(-DPALISARD_SANITIZE=address) ;;
  tsan) options+=(-DPALISARD_SANITIZE=thread) ;;
  windows)
    scripts/fetch-pugixml.sh
    options+=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake) ;;
  *) echo "unknown build flavour: $flavour" >&2; exit 2 ;;
esac

cmake -S . -B "build/$flavour" "${options[@]}" >/dev/null
ninja -C "build/$flavour"
