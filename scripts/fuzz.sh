#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang into build-fuzz/ and
# runs each for the given seconds (default 60) on a copy of its seed corpus,
# so the committed corpus never changes. Stops with a non-zero exit at the
# first crash, hang, leak or sanitizer report; the input that caused it is
# kept in build-fuzz/fuzz-artifacts/.
# Usage: scripts/fuzz.sh [seconds] [target...]
#   NEROVA_FUZZ_ARGS="-runs=1000000" scripts/fuzz.sh 600 trade
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-60}"
shift || true

scripts/setup.sh --packages-only
BUILD_DIR=build-fuzz
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNEROVA_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$BUILD_DIR" -j2 --target nerova_fuzzers

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in tests/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
artifacts="$PWD/$BUILD_DIR/fuzz-artifacts"
mkdir -p "$artifacts"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}"

for target in "${targets[@]}"; do
  cp -r "tests/fuzz/corpus/$target" "$work/$target"
  options=(-max_total_time="$SECONDS_EACH" -timeout=10 -print_final_stats=1 -artifact_prefix="$artifacts/$target-")
  if [ -f "tests/fuzz/$target.dict" ]; then options+=(-dict="tests/fuzz/$target.dict"); fi
  # shellcheck disable=SC2206 # extra libFuzzer flags, split on spaces
  options+=(${NEROVA_FUZZ_ARGS:-})
  log="$work/$target.log"
  start=$(date +%s)
  status=0
  "$BUILD_DIR/tests/fuzz/fuzz_$target" "${options[@]}" "$work/$target" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $target: ${executions:-?} executions in $(( $(date +%s) - start )) s"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz: $target FAILED (exit $status); the input is in $artifacts/" >&2
    exit 1
  fi
done
