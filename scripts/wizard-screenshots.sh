#!/usr/bin/env bash
# Renders both pages of the set-up wizard's window to PNG files under
# <build dir>/screenshots/, on Qt's offscreen platform: a temporary
# installation with the Chinese font and translation, the cascades and a
# virtual camera showing ../shared/data/images/astronaut.png; the test page
# is taken after a test has run. Usage: scripts/wizard-screenshots.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build}"
IMAGE=../shared/data/images/astronaut.png
if [ ! -f "$IMAGE" ]; then
  echo "missing $IMAGE" >&2
  exit 1
fi
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$BUILD_DIR" -j2 --target wizard_screenshots translations
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/tests/tool/wizard_screenshots" \
  "$BUILD_DIR/screenshots" "$(realpath "$IMAGE")" "$BUILD_DIR/lang/zh-CN.lng"
