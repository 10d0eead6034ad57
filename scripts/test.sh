#!/usr/bin/env bash
# Installs what is missing, checks that every include of src/ goes down the
# order of its folders, builds every flavour (warnings as errors) and runs every
# test: the Linux tests under ASan+UBSan and again under TSan, the Windows
# unit tests under Wine, the release packages' checks, and each fuzz target
# for 10 seconds. Exits non-zero when any build or test fails.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test || exit 1
source scripts/wine-env.sh
export PALISARD_WERROR=ON

passed=0
failed=0
failures=()

build_flavour() {
  echo "=== $1: build"
  scripts/build.sh "$1" && return 0
  failed=$((failed + 1)); failures+=("$1 build"); return 1
}

run_flavour() {
  local flavour=$1
  if [ "$flavour" != windows ]; then build_flavour "$flavour" || return; fi
  echo "=== $flavour: tests"
  if (cd "build/$flavour" && timeout 900 ctest --output-on-failure --timeout 600); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); failures+=("$flavour tests")
  fi
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

echo "=== layers"
if scripts/check-layers.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("layers"); fi

# The Windows build first: the Linux system tests run its programs under Wine.
windows_built=1
build_flavour windows || windows_built=0
# Every test runs under ASan+UBSan and under TSan; the plain build is the
# release packages' (warnings as errors too), and `scripts/build.sh linux`
# builds the plain tests and benchmarks for a developer.
for flavour in asan tsan; do
  run_flavour "$flavour"
done
((windows_built)) && run_flavour windows

echo "=== packages: build and check"
if scripts/package.sh && tests/packages_test.sh; then
  passed=$((passed + 1))
else
  failed=$((failed + 1)); failures+=("packages")
fi

echo "=== fuzz: 10 s a target"
if scripts/fuzz.sh 10; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("fuzz"); fi

echo
if ((failed > 0)); then
  printf 'failed: %s\n' "${failures[@]}"
fi
echo "suites: $passed passed, $failed failed"
((failed == 0))
