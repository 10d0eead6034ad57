#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with ASan and UBSan, warnings and the
# lock analysis as errors) and runs each for
# SECONDS (default 30) from its seed corpus in fuzz/corpus. Fails on any
# finding; the crashing input is left in build/fuzz/findings.
#   scripts/fuzz.sh [SECONDS]      a longer run: scripts/fuzz.sh 3600
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
  -DPALISARD_SANITIZE=fuzzer -DPALISARD_BUILD_FUZZERS=ON -DPALISARD_BUILD_TESTS=OFF -DPALISARD_WERROR=ON > /dev/null || exit 1
targets=(http_message admin_message soap_answer service_request service_pages version_answer settings)
ninja -C build/fuzz "${targets[@]/%/_fuzz}" || exit 1

mkdir -p build/fuzz/findings
status=0
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  if build/fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix=build/fuzz/findings/${target}- -print_final_stats=0 "$work" "fuzz/corpus/$target" \
      > "build/fuzz/$target.log" 2>&1; then
    echo "fuzz $target: clean ($(grep -oE 'stat::number_of_executed_units: *[0-9]+|#[0-9]+\s+DONE.*' "build/fuzz/$target.log" | tail -1))"
  else
    echo "fuzz $target: FINDING (see build/fuzz/$target.log and build/fuzz/findings)"
    tail -30 "build/fuzz/$target.log"
    status=1
  fi
  rm -rf "$work"
done
exit $status
