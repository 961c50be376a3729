#!/usr/bin/env bash
# A long run of the whole library in the example C host, to show that
# memory, descriptors and threads stay flat and that no probe record is lost.
#
#   scripts/soak.sh [minutes] [--build-dir DIR] [--no-setup] [--keep]
#
#   minutes          how long the store runs (default 10)
#   --build-dir DIR  the build tree (default build-asan, built with
#                    AddressSanitizer and UndefinedBehaviorSanitizer)
#   --no-setup       skip scripts/setup.sh (the build tree is already built)
#   --keep           keep the temporary installation and logs, and say where
#
# The host logs in to the store server and cloud face simulator and starts
# both workers. A virtual camera shows a face and then no face, in turns;
# a virtual probe device writes lines at a high rate; every minute the
# store server is dropped for a while (a relay in front of the simulator
# stops) and comes back on the same port. At the end the probe device
# stops, the server stays up until every record is in, and the host ends
# the library. Printed: resident memory, open
# descriptors and threads of the host (after the first minute, when the
# first visitor and uploads have been through, and at the end), callbacks
# received, probe lines written and accepted. Exits 0 when every written
# line was accepted, memory and descriptors grew by less than
# 5 % and nothing was reported by a sanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
. scripts/store-env.sh

MINUTES=10
BUILD_DIR=build-asan
SETUP=1
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) BUILD_DIR=$2; shift 2 ;;
    --no-setup) SETUP=0; shift ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    [0-9]*) MINUTES=$1; shift ;;
    *) echo "soak: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$MINUTES" in ''|*[!0-9]*|0) echo "soak: minutes must be a whole number above 0" >&2; exit 2 ;; esac
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac

PROBE_RATE=100        # lines a second
PROBE_INTERVAL=10     # seconds between uploads
CAMERA_TURN=15        # seconds with a face, then as long without
SERVER_DOWN=10        # seconds the simulator is away every minute
PROBE_ID=4660-22136

if [ "$SETUP" = 1 ]; then
  echo "soak: setting up and building $BUILD_DIR"
  scripts/setup.sh "$BUILD_DIR" -DNEROVA_SANITIZE=ON > "${TMPDIR:-/tmp}/nerova-soak-setup.log" 2>&1 || {
    tail -n 30 "${TMPDIR:-/tmp}/nerova-soak-setup.log"; echo "soak: the set-up failed" >&2; exit 1; }
fi
for program in tools/nerova_store_sim tools/nerova_virtual_probe tests/hosts/nerova_c_host; do
  [ -x "$BUILD_DIR/$program" ] || { echo "soak: $BUILD_DIR/$program is missing; build first" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/nerova-soak.XXXXXX")
INSTALL=$WORK/nerova
SIM_PID=""; PROBE_PID=""; HOST_PID=""; RELAY_PID=""
cleanup() {
  [ -z "$RELAY_PID" ] || kill -- "-$RELAY_PID" 2>/dev/null || true
  for pid in $SIM_PID $PROBE_PID $HOST_PID; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ "$KEEP" = 1 ]; then echo "soak: kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

cmake --install "$BUILD_DIR" --prefix "$INSTALL" > "$WORK/install.log"
FACE_IMAGE=$(store_face_image "$ROOT")
[ -n "$FACE_IMAGE" ] || { echo "soak: no face image (scripts/setup.sh installs python3-skimage)" >&2; exit 1; }
FEATURES=$(store_feature_cascades "$ROOT" "$INSTALL")
# No face: a plain grey picture.
{ printf 'P5\n320 240\n255\n'; head -c $((320 * 240)) /dev/zero | tr '\0' '\200'; } > "$WORK/empty.pgm"
CAMERA=$WORK/camera.png
show() { cp "$1" "$CAMERA.tmp" && mv "$CAMERA.tmp" "$CAMERA"; }
show "$FACE_IMAGE"

"$BUILD_DIR/tools/nerova_store_sim" --port 0 --port-file "$WORK/sim-port" --data-dir "$WORK/store-data" \
  > "$WORK/sim.log" 2>&1 &
SIM_PID=$!
wait_for_file "$WORK/sim-port" || { cat "$WORK/sim.log"; echo "soak: the simulator did not start" >&2; exit 1; }
SIM_PORT=$(tr -d '\n' < "$WORK/sim-port")
# The library reaches the simulator through a relay on a port of its own;
# dropping the relay drops the store server for the library (open
# connections cut, new ones refused) while the simulator keeps its sessions.
PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
RELAY_PID=""
start_relay() {
  setsid socat "TCP-LISTEN:$PORT,bind=127.0.0.1,reuseaddr,fork" "TCP:127.0.0.1:$SIM_PORT" 2>> "$WORK/relay.log" &
  RELAY_PID=$!
}
stop_relay() { kill -- "-$RELAY_PID" 2>/dev/null || true; wait "$RELAY_PID" 2>/dev/null || true; RELAY_PID=""; }
start_relay

"$BUILD_DIR/tools/nerova_virtual_probe" --link "$WORK/probe-tty" --rate $PROBE_RATE > "$WORK/probe.log" 2>&1 &
PROBE_PID=$!
wait_for_probe "$WORK/probe-tty" "$WORK/probe.log" || { cat "$WORK/probe.log"; echo "soak: no virtual probe" >&2; exit 1; }

INI=$INSTALL/conf/default.ini
store_configure "$INI" "http://127.0.0.1:$PORT" "$PROBE_ID" "$FEATURES"
ini_set "$INI" Nerova DeviceId SOAK-STORE-1
ini_set "$INI" Nerova CheckDeviceInterval 2
ini_set "$INI" Face FaceInterval 2
ini_set "$INI" Probe ProbeInterval $PROBE_INTERVAL
ini_set "$INI" Baidu BaiduGroup soak

export NEROVA_HOME=$INSTALL
export NEROVA_VIRTUAL_CAMERAS="Soak camera=$CAMERA"
export NEROVA_VIRTUAL_SERIAL="$WORK/probe-tty@$PROBE_ID@Soak probe"
# A small quarantine, so that AddressSanitizer's own holding of freed memory
# does not read as growth; dynamic TLS unscanned as in scripts/test.sh.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16:new_delete_type_mismatch=0:intercept_tls_get_addr=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$ROOT/tests/lsan.supp:print_suppressions=0}"

# The host reads its commands from a pipe that stays open for the whole run;
# its loop runs between commands.
mkfifo "$WORK/host-in"
"$INSTALL/nerova_c_host" "$INSTALL/libnerova.so" < "$WORK/host-in" > "$WORK/host.out" 2> "$WORK/host.err" &
HOST_PID=$!
exec 3> "$WORK/host-in"
printf 'init\nlogin demo demo\nloop 2000\nstart\n' >&3

sample() { # LABEL
  local status=/proc/$HOST_PID/status
  [ -r "$status" ] || { echo "soak: the host is gone" >&2; return 1; }
  local rss threads fds
  rss=$(awk '/^VmRSS:/ { print $2 }' "$status")
  threads=$(awk '/^Threads:/ { print $2 }' "$status")
  # A request in flight holds a socket for a moment: the fewest of three looks.
  fds=$(for _ in 1 2 3; do ls "/proc/$HOST_PID/fd" | wc -l; sleep 0.3; done | sort -n | head -n 1)
  printf '%-8s rss %7s KiB  fds %4s  threads %3s  callbacks %s  probe lines accepted %s\n' \
    "$1" "$rss" "$fds" "$threads" "$(callbacks)" "$(accepted)"
  echo "$rss $fds $threads"  > "$WORK/sample-$1"
}
count_callbacks() { grep -c "\"callback\":\"$1\"" "$WORK/host.out" || true; }
callbacks() { echo "session $(count_callbacks session) face $(count_callbacks face) notify $(count_callbacks notify)"; }
accepted() { find "$WORK/store-data" -name '*.csv' -exec cat {} + 2>/dev/null | grep -c $'\r$' || true; }
# A batch whose answer the dropped relay cut off after the server took it is
# sent again (the protocol has no batch identity): the server then holds the
# same file twice. Lines accepted once: those of the distinct files.
accepted_once() {
  find "$WORK/store-data" -name '*.csv' -exec md5sum {} + 2>/dev/null | sort | uniq -w32 | cut -c35- \
    | while read -r file; do cat "$file"; done | grep -c $'\r$' || true
}

echo "soak: $MINUTES minute(s); store server on port $PORT, away ${SERVER_DOWN} s every minute;" \
  "camera turns every ${CAMERA_TURN} s; probe at $PROBE_RATE lines/s; work in $WORK"
sleep 5
sample start
START=$SECONDS
face=1
sampled_minutes=0
while [ $((SECONDS - START)) -lt $((MINUTES * 60)) ]; do
  elapsed=$((SECONDS - START))
  if [ $((elapsed / CAMERA_TURN % 2)) -ne $((1 - face)) ]; then
    face=$((1 - face))
    if [ $face = 1 ]; then show "$FACE_IMAGE"; else show "$WORK/empty.pgm"; fi
  fi
  minute_second=$((elapsed % 60))
  if [ -n "$RELAY_PID" ] && [ $minute_second -ge 30 ] && [ $minute_second -lt $((30 + SERVER_DOWN)) ]; then
    stop_relay
  elif [ -z "$RELAY_PID" ] && [ $minute_second -ge $((30 + SERVER_DOWN)) ]; then
    start_relay
  fi
  if [ $((elapsed / 60)) -gt $sampled_minutes ]; then
    sampled_minutes=$((elapsed / 60))
    sample "min $sampled_minutes"
    [ -e "$WORK/sample-warm" ] || cp "$WORK/sample-min 1" "$WORK/sample-warm"
  fi
  kill -0 "$HOST_PID" 2>/dev/null || { echo "soak: the host ended early" >&2; tail "$WORK/host.err" >&2; exit 1; }
  sleep 1
done
[ -n "$RELAY_PID" ] || start_relay
sample end
# The device stops writing but stays, so the last records go out.
kill -USR1 "$PROBE_PID"
for _ in $(seq 50); do grep -q 'lines written' "$WORK/probe.log" && break; sleep 0.1; done
WRITTEN=$(sed -n 's/.*: \([0-9]*\) lines written.*/\1/p' "$WORK/probe.log")
for _ in $(seq $((PROBE_INTERVAL * 6))); do
  [ "$(accepted_once)" -ge "${WRITTEN:-0}" ] && break
  sleep 1
done
kill "$PROBE_PID"; wait "$PROBE_PID" 2>/dev/null || true; PROBE_PID=""
printf 'stop\nuninit\nquit\n' >&3
exec 3>&-
wait "$HOST_PID" && HOST_STATUS=0 || HOST_STATUS=$?
HOST_PID=""
stop_relay

ACCEPTED=$(accepted); ONCE=$(accepted_once)
[ -e "$WORK/sample-warm" ] || cp "$WORK/sample-start" "$WORK/sample-warm"
read -r RSS0 FDS0 THREADS0 < "$WORK/sample-warm"
read -r RSS1 FDS1 THREADS1 < "$WORK/sample-end"
growth() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) * 100 / a }'; }
echo
echo "resident memory: $RSS0 KiB after the first minute, $RSS1 KiB at the end ($(growth "$RSS0" "$RSS1") %)"
echo "open descriptors: $FDS0 -> $FDS1 ($(growth "$FDS0" "$FDS1") %); threads: $THREADS0 -> $THREADS1"
echo "callbacks: $(callbacks)"
echo "probe lines written $WRITTEN, accepted $ONCE (and $((ACCEPTED - ONCE)) again, in batches sent again after a cut-off answer)"
REPORTS=$(grep -c -E 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|WARNING: ThreadSanitizer' "$WORK/host.err" || true)
echo "sanitizer reports: $REPORTS; host exit status $HOST_STATUS"

failed=()
[ "$HOST_STATUS" = 0 ] || failed+=("the host's exit status")
[ "$REPORTS" = 0 ] || failed+=("sanitizer reports (see $WORK/host.err)")
[ "${WRITTEN:-0}" -gt 0 ] && [ "$ONCE" = "$WRITTEN" ] || failed+=("probe lines")
awk -v a="$RSS0" -v b="$RSS1" 'BEGIN { exit !(b < a * 1.05) }' || failed+=("memory growth")
awk -v a="$FDS0" -v b="$FDS1" 'BEGIN { exit !(b < a * 1.05) }' || failed+=("descriptor growth")
if [ ${#failed[@]} -gt 0 ]; then
  KEEP=1
  (IFS=","; echo "soak: failed: ${failed[*]}" | sed "s/,/, /g" >&2)
  exit 1
fi
echo "soak: passed"
