#!/usr/bin/env bash
# Configures and builds one flavour into build/FLAVOUR, all of it or only the
# TARGETs named:
#   release  the Linux program alone, hardened as Debian builds it (run.sh,
#            the demo and the .deb use it; needs only what install-deps.sh run
#            installs)
#   linux    the Linux program, its tests and benchmarks
#   asan     the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan     the same under ThreadSanitizer
#   windows  palisard.exe and its unit tests, cross-built with mingw-w64
#   scripts/build.sh FLAVOUR [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-linux}
shift || true
# The test command builds with warnings as errors (PALISARD_WERROR=ON).
options=(-G Ninja -DPALISARD_WERROR=${PALISARD_WERROR:-OFF})
case "$flavour" in
  release)
    options+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALISARD_BUILD_TESTS=OFF
              "-DCMAKE_CXX_FLAGS=-D_FORTIFY_SOURCE=2 -fstack-protector-strong"
              "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,relro -Wl,-z,now") ;;
  linux) options+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPALISARD_BUILD_BENCHMARKS=ON) ;;
  # The sanitizers' usual -O1 and line tables only: they build in about
  # two thirds of the time and still report file and line.
  asan) options+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                  -DPALISARD_SANITIZE=address -DPALISARD_BUILD_BENCHMARKS=ON) ;;
  tsan) options+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                  -DPALISARD_SANITIZE=thread) ;;
  windows)
    # Debian ships pugixml only for Linux: the Windows build compiles its
    # sources, fetched once into build/deps.
    pugixml=$(scripts/fetch-pugixml.sh build/deps)
    options+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
              "-DPALISARD_PUGIXML_DIR=$pugixml") ;;
  *) echo "unknown build flavour: $flavour" >&2; exit 2 ;;
esac

cmake --no-warn-unused-cli -S . -B "build/$flavour" "${options[@]}" >/dev/null
ninja -C "build/$flavour" "$@"
