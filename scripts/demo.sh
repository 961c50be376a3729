#!/usr/bin/env bash
# A working store in one command, on this machine alone: no camera, no probe
# device, no network. Sets up and builds what is missing, lays out a
# temporary installation, starts the store server and cloud face simulator,
# a virtual camera showing a face and a virtual probe device, loads
# libnerova.so into the example C host, logs in, starts, reports a trade,
# shows every notice and visitor as it arrives, and ends with a summary.
#
#   scripts/demo.sh [--seconds N] [--build-dir DIR] [--no-setup] [--keep]
#
#   --seconds N      how long the store runs after the start (default 30)
#   --build-dir DIR  the build tree to use (default build)
#   --no-setup       skip scripts/setup.sh (the build tree is already built)
#   --keep           keep the temporary installation and logs, and say where
#
# Exits 0 when the login, the trade, at least one visitor recognised again
# and accepted probe lines all happened; otherwise says what was missing.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
. scripts/store-env.sh

SECONDS_TO_RUN=30
BUILD_DIR=build
SETUP=1
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) SECONDS_TO_RUN=$2; shift 2 ;;
    --build-dir) BUILD_DIR=$2; shift 2 ;;
    --no-setup) SETUP=0; shift ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$SECONDS_TO_RUN" in ''|*[!0-9]*) echo "demo: --seconds takes whole seconds" >&2; exit 2 ;; esac
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac

say() { printf '\n== %s\n' "$*"; }

if [ "$SETUP" = 1 ]; then
  say "Setting up and building (scripts/setup.sh; quick when nothing changed)"
  scripts/setup.sh "$BUILD_DIR" > "${TMPDIR:-/tmp}/nerova-demo-setup.log" 2>&1 || {
    tail -n 30 "${TMPDIR:-/tmp}/nerova-demo-setup.log"
    echo "demo: the set-up failed (whole log: ${TMPDIR:-/tmp}/nerova-demo-setup.log)" >&2
    exit 1
  }
fi
for program in tools/nerova_store_sim tools/nerova_virtual_probe tools/nerova_demo_view tests/hosts/nerova_c_host; do
  [ -x "$BUILD_DIR/$program" ] || { echo "demo: $BUILD_DIR/$program is missing; build first" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/nerova-demo.XXXXXX")
INSTALL=$WORK/nerova
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ "$KEEP" = 1 ]; then echo "demo: kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

say "Temporary installation in $INSTALL"
cmake --install "$BUILD_DIR" --prefix "$INSTALL" > "$WORK/install.log"
echo "libnerova.so $(ls "$INSTALL"/libnerova.so* | wc -l) file(s), conf/default.ini, data/, lang/, log/"

FACE_IMAGE=$(store_face_image "$ROOT")
if [ -z "$FACE_IMAGE" ]; then
  echo "demo: no face image: install python3-skimage (scripts/setup.sh does) or supply ../shared/data/images/astronaut.png" >&2
  exit 1
fi
echo "virtual camera shows $FACE_IMAGE"

FEATURES=$(store_feature_cascades "$ROOT" "$INSTALL")
if [ "$FEATURES" = true ]; then
  echo "feature cascades (haarcascade_mcs_*) copied from $ROOT/../shared/data/haarcascades"
else
  echo "the licensed feature cascades (haarcascade_mcs_*.xml) are absent:"
  echo "running with Face/FaceLeftEye, FaceRightEye, FaceNose and FaceMouth off"
fi

say "Store server and cloud face simulator"
# Its exchange lines (those starting with the time) show below, marked "server".
"$BUILD_DIR/tools/nerova_store_sim" --port 0 --port-file "$WORK/port" --summary-file "$WORK/sim-summary.json" \
  --data-dir "$WORK/store-data" \
  > >(tee "$WORK/sim.log" | sed -u -n 's/^\([0-9][0-9]:[0-9][0-9]:[0-9][0-9]\) /\1 server   /p') 2>&1 &
PIDS+=($!)
wait_for_file "$WORK/port" || { cat "$WORK/sim.log"; echo "demo: the simulator did not start" >&2; exit 1; }
PORT=$(tr -d '\n' < "$WORK/port")
BASE=http://127.0.0.1:$PORT
echo "listening on $BASE"

say "Virtual probe device"
PROBE_LINK=$WORK/probe-tty
PROBE_ID=4660-22136
"$BUILD_DIR/tools/nerova_virtual_probe" --link "$PROBE_LINK" --rate 5 > "$WORK/probe.log" 2>&1 &
PIDS+=($!)
wait_for_probe "$PROBE_LINK" "$WORK/probe.log" || { cat "$WORK/probe.log"; echo "demo: the virtual probe did not start" >&2; exit 1; }
cat "$WORK/probe.log"

INI=$INSTALL/conf/default.ini
store_configure "$INI" "$BASE" "$PROBE_ID" "$FEATURES"
ini_set "$INI" Nerova DeviceId DEMO-STORE-1
ini_set "$INI" Nerova CheckDeviceInterval 2
ini_set "$INI" Face FaceInterval 3
ini_set "$INI" Probe ProbeInterval 8
ini_set "$INI" Baidu BaiduGroup demo

say "Running the store for $SECONDS_TO_RUN s: the example C host with libnerova.so"
export NEROVA_HOME=$INSTALL
export NEROVA_VIRTUAL_CAMERAS="Demo camera=$FACE_IMAGE"
export NEROVA_VIRTUAL_SERIAL="$PROBE_LINK@$PROBE_ID@Virtual probe"
{
  echo init
  echo "login demo demo"
  echo "loop 2000"
  echo start
  echo 'report {"orderNo":"DEMO-0001","amount":128.50,"mobilePhone":"13800138000"}'
  echo "loop $((SECONDS_TO_RUN * 1000))"
  echo stop
  echo uninit
  echo quit
} | "$INSTALL/nerova_c_host" "$INSTALL/libnerova.so" 2> "$WORK/host-errors.log" \
  | "$BUILD_DIR/tools/nerova_demo_view" --counts "$WORK/host-counts"

# The simulator writes its summary when it ends.
kill "${PIDS[@]}" 2>/dev/null || true
wait 2>/dev/null || true
PIDS=()

count() { sed -n "s/^ *\"$1\": \([0-9]*\).*/\1/p" "$WORK/sim-summary.json"; }
host() { sed -n "s/^$1=//p" "$WORK/host-counts"; }
VISITORS=$(host visitors); DISTINCT=$(host distinctVisitors); AGAIN=$(host recognisedAgain)
TRADES=$(count tradesAccepted); PROBE_LINES=$(count probeLines); UPLOADS=$(count probeUploads)

say "Summary"
echo "visitors delivered to the host: ${VISITORS:-0} records of ${DISTINCT:-0} visitor(s), ${AGAIN:-0} of them recognised again"
echo "probe lines uploaded and accepted: ${PROBE_LINES:-0} in ${UPLOADS:-0} upload(s), kept as CSV by the simulator"
echo "trades accepted: ${TRADES:-0}"
echo "notices: $(sed -n 's/^notice\([0-9]*\)=\(.*\)/\1 x\2/p' "$WORK/host-counts" | paste -sd' ' -)"

missing=()
[ "$(host loggedIn)" -ge 1 ] 2>/dev/null || missing+=("login")
[ "${TRADES:-0}" -ge 1 ] || missing+=("an accepted trade")
[ "${AGAIN:-0}" -ge 1 ] || missing+=("a visitor recognised again")
[ "${PROBE_LINES:-0}" -ge 1 ] || missing+=("accepted probe lines")
if [ ${#missing[@]} -gt 0 ]; then
  echo
  (IFS=","; echo "demo: missing: ${missing[*]}" | sed "s/,/, /g" >&2)
  [ -s "$WORK/host-errors.log" ] && { echo "host's error output:" >&2; tail -n 20 "$WORK/host-errors.log" >&2; }
  echo "the library's log: run with --keep and read $WORK/nerova/log/" >&2
  exit 1
fi
echo
echo "demo: done"
