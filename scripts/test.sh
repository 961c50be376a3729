#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs the whole test suite. Usage: scripts/test.sh [ctest args...]
#   scripts/test.sh -L unit     only the quick tests
#   scripts/test.sh -L slow     only the slow ones
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${NEROVA_TEST_BUILD_DIR:-build-asan}"
scripts/setup.sh "$BUILD_DIR" -DNEROVA_SANITIZE=ON
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}"
cd "$BUILD_DIR"
ctest --output-on-failure -j2 "$@"
