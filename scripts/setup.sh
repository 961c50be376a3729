#!/usr/bin/env bash
# Installs every Debian package the project needs (idempotent), then
# configures and builds. Usage: scripts/setup.sh [build-dir] [extra cmake args...]
#   scripts/setup.sh --packages-only    installs the packages and stops
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES_ONLY=0
if [ "${1:-}" = "--packages-only" ]; then
  PACKAGES_ONLY=1
  shift
fi

PACKAGES=(
  build-essential cmake pkg-config git openssl ca-certificates
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev qtmultimedia5-dev
  libqt5multimedia5-plugins qttools5-dev qttools5-dev-tools
  libopencv-dev opencv-data libavutil-dev  # libavutil: the video decoder's log callback
  liblog4cxx-dev zlib1g-dev fonts-wqy-microhei libglib2.0-dev
  libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev libbenchmark-dev
  socat  # the soak run's store server relay
  python3-skimage  # the demo's face picture where ../shared/data is absent
  clang libclang-rt-14-dev  # libFuzzer, for scripts/fuzz.sh
  xvfb xdotool openbox  # the wizard driven under a real X server with key and mouse events
  libgstrtspserver-1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-ugly  # a real RTSP camera (H.264) for the stream tests
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "setup: these Debian packages are missing, and installing them needs root or sudo:" >&2
      echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
      echo "Ask an administrator to run that, then run this script again." >&2
      exit 1
    fi
    SUDO="sudo"
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$PACKAGES_ONLY" -eq 1 ]; then
  exit 0
fi

BUILD_DIR="${1:-build}"
shift || true
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
# NEROVA_BUILD_TARGETS (space-separated) builds only those targets.
cmake --build "$BUILD_DIR" -j2 ${NEROVA_BUILD_TARGETS:+--target $NEROVA_BUILD_TARGETS}
