#!/usr/bin/env bash
# Renders the set-up wizard's window to PNG files under
# <build dir>/screenshots/, on Qt's offscreen platform, each in a temporary
# installation with the Chinese font and translation: both pages with a
# virtual camera showing ../shared/data/images/astronaut.png (the test page
# after a test), a test on a fresh installation and a test against a server
# that refuses (see tests/tool/WizardScreenshots.cpp). docs/ holds the two
# the README shows, which contain no test image.
# Usage: scripts/wizard-screenshots.sh [build dir]
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
