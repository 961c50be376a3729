#!/usr/bin/env bash
# Builds with ThreadSanitizer into build-tsan/ and runs the tests whose
# library code runs on several threads (ctest label "threads").
# Usage: scripts/tsan.sh [ctest args...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${NEROVA_TSAN_BUILD_DIR:-build-tsan}"
# Only the library and the tests that run threads are built.
NEROVA_BUILD_TARGETS=nerova scripts/setup.sh "$BUILD_DIR" -DNEROVA_SANITIZE=thread -DNEROVA_BUILD_BENCH=OFF
mapfile -t TESTS < <(cd "$BUILD_DIR" && ctest -N -L threads | sed -n 's/^ *Test *#[0-9]*: //p')
cmake --build "$BUILD_DIR" -j2 --target "${TESTS[@]}"
# Qt, GLib and log4cxx are not built with ThreadSanitizer: their own
# synchronisation is invisible to it (Qt's network manager starts a D-Bus
# thread whose hand-over through GLib looks like a race), so only accesses
# from our instrumented code are checked.
export TSAN_OPTIONS="${TSAN_OPTIONS:-ignore_noninstrumented_modules=1 halt_on_error=0 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp}"
cd "$BUILD_DIR"
ctest --output-on-failure -j2 -L threads "$@"
