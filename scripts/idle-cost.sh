#!/usr/bin/env bash
# What a started library costs while its camera and probe device are both
# absent: the example C host runs the library, logged in to the store
# simulator and started, with both workers checking for devices that are not
# there at the shortest check period (1 s), and the CPU the host process uses
# is measured over a window; the same host without the library started is
# measured alongside.
#
#   scripts/idle-cost.sh [--seconds N] [--build-dir DIR] [--strace] [--callgrind]
#
#   --seconds N      length of each measuring window (default 30)
#   --build-dir DIR  the build tree (default build; needs nerova,
#                    nerova_c_host, nerova_store_sim and translations built)
#   --strace         also count the started host's system calls for 10 s
#   --callgrind      also count the instructions of both hosts per second
#                    of a window under valgrind's callgrind (a steadier
#                    measure than CPU time)
#
# Printed per run: CPU time of the host process per second of wall time, in
# percent of one core, from /proc/<pid>/stat (user + system, clock ticks) and
# from the threads' /proc/<pid>/task/*/schedstat (nanoseconds).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
. scripts/store-env.sh

WINDOW=30
BUILD_DIR=build
STRACE=0
CALLGRIND=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) WINDOW=$2; shift 2 ;;
    --build-dir) BUILD_DIR=$2; shift 2 ;;
    --strace) STRACE=1; shift ;;
    --callgrind) CALLGRIND=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "idle-cost: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$WINDOW" in ''|*[!0-9]*|0) echo "idle-cost: --seconds takes whole seconds above 0" >&2; exit 2 ;; esac
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac

HOST=$BUILD_DIR/tests/hosts/nerova_c_host
LIBRARY=$BUILD_DIR/sdk/libnerova.so
SIM=$BUILD_DIR/tools/nerova_store_sim
for file in "$HOST" "$LIBRARY" "$SIM" "$BUILD_DIR/lang/zh-CN.lng"; do
  [ -e "$file" ] || { echo "idle-cost: $file is missing; build nerova nerova_c_host nerova_store_sim translations" >&2; exit 1; }
done
if [ "$STRACE" = 1 ] && ! command -v strace > /dev/null; then
  echo "idle-cost: --strace needs strace (apt-get install strace)" >&2; exit 1
fi
if [ "$CALLGRIND" = 1 ] && ! command -v callgrind_control > /dev/null; then
  echo "idle-cost: --callgrind needs valgrind (apt-get install valgrind)" >&2; exit 1
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/nerova-idle.XXXXXX")
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# A minimal installation: configuration, translation, log/ and data/.
INSTALL=$WORK/nerova
mkdir -p "$INSTALL/conf" "$INSTALL/lang" "$INSTALL/log" "$INSTALL/data" "$INSTALL/debug"
cp conf/default.ini "$INSTALL/conf/"
cp "$BUILD_DIR/lang/zh-CN.lng" "$INSTALL/lang/"

"$SIM" --port 0 --port-file "$WORK/port" --data-dir "$WORK/store-data" > "$WORK/sim.log" 2>&1 &
PIDS+=($!)
wait_for_file "$WORK/port" || { cat "$WORK/sim.log"; echo "idle-cost: the simulator did not start" >&2; exit 1; }
INI=$INSTALL/conf/default.ini
ini_set "$INI" Server Server "http://127.0.0.1:$(tr -d '\n' < "$WORK/port")"
ini_set "$INI" Nerova DeviceId IDLE-STORE
ini_set "$INI" Nerova CheckDeviceInterval 0
ini_set "$INI" Face FaceDevice '"vid_fffe&pid_fffe&mi_00#absent"'
ini_set "$INI" Probe ProbeDevice 65534-65534
export NEROVA_HOME=$INSTALL
unset NEROVA_VIRTUAL_CAMERAS NEROVA_VIRTUAL_SERIAL

# Clock ticks (user + system) of the whole process, and nanoseconds on a CPU
# summed over its threads now alive.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
nanoseconds() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ sum += $1 } END { printf "%d\n", sum }'; }

# measure NAME SETTLE COMMANDS...: runs the host with the commands, waits
# SETTLE seconds, then measures for WINDOW seconds; the host's loop runs on
# until then, and the library is stopped and ended after it.
measure() {
  local name=$1 settle=$2
  shift 2
  local fifo=$WORK/$name.in
  mkfifo "$fifo"
  "$HOST" "$LIBRARY" < "$fifo" > "$WORK/$name.out" 2> "$WORK/$name.err" &
  local pid=$!
  PIDS+=($pid)
  exec 3> "$fifo"
  local rest=$((settle + WINDOW + 2 + 12 * STRACE))
  printf '%s\n' "$@" "loop $((rest * 1000))" stop uninit quit >&3
  sleep "$settle"
  local hz ticks0 ns0 start ticks1 ns1 end
  hz=$(getconf CLK_TCK)
  ticks0=$(ticks $pid); ns0=$(nanoseconds $pid); start=$(date +%s%N)
  sleep "$WINDOW"
  ticks1=$(ticks $pid); ns1=$(nanoseconds $pid); end=$(date +%s%N)
  awk -v name="$name" -v t=$((ticks1 - ticks0)) -v hz="$hz" -v ns=$((ns1 - ns0)) -v wall=$((end - start)) 'BEGIN {
    printf "%-22s %6.3f %% of a core (stat: %d ticks in %.1f s)   %6.3f %% (schedstat)\n",
      name, 100 * t / hz / (wall / 1e9), t, wall / 1e9, 100 * ns / wall }'
  if [ "$STRACE" = 1 ] && [ "$name" = started ]; then
    timeout -s INT 10 strace -f -c -p "$pid" -o "$WORK/strace.txt" 2> /dev/null || true
    echo "system calls of the started host in 10 s (strace -c):"
    head -n 14 "$WORK/strace.txt"
  fi
  exec 3>&-
  wait "$pid" || true
}

echo "idle-cost: $WINDOW s windows, device checks every 1 s, camera and probe device absent"
measure loaded 2
measure started 5 init "login demo demo" "loop 2000" start
grep -q '"cmd":"start","result":0' "$WORK/started.out" || {
  cat "$WORK/started.out" "$WORK/started.err"; echo "idle-cost: the library did not start" >&2; exit 1; }
# The checks' log lines end with the configured identifiers (their texts
# may be translated).
checks=$(grep -c '#absent$' "$INSTALL"/log/*.log || true)
probe=$(grep -c ' 65534-65534$' "$INSTALL"/log/*.log || true)
echo "log of the started host: $checks face and $probe probe device checks that found nothing"

# measure_instructions NAME READY COMMANDS...: runs the host under callgrind
# with the commands, waits until its output holds READY (valgrind is slow
# to start), zeroes the counts, and dumps them after WINDOW seconds.
measure_instructions() {
  local name=$1 ready=$2
  shift 2
  local fifo=$WORK/$name.cg.in out=$WORK/$name.cg.out
  mkfifo "$fifo"
  valgrind --tool=callgrind --callgrind-out-file="$WORK/$name.callgrind" "$HOST" "$LIBRARY" \
    < "$fifo" > "$out" 2> "$WORK/$name.cg.err" &
  local pid=$!
  PIDS+=($pid)
  exec 3> "$fifo"
  printf '%s\n' "$@" "loop 3600000" >&3
  local _
  for _ in $(seq 300); do grep -q "$ready" "$out" 2> /dev/null && break; sleep 1; done
  grep -q "$ready" "$out" || { cat "$out" "$WORK/$name.cg.err"; echo "idle-cost: $name did not come up under valgrind" >&2; exit 1; }
  sleep 5
  callgrind_control -z $pid > /dev/null 2>&1
  sleep "$WINDOW"
  callgrind_control -d $pid > /dev/null 2>&1
  sleep 1
  kill -KILL $pid 2> /dev/null || true
  exec 3>&-
  wait "$pid" 2> /dev/null || true
  # The first dump holds what ran between zeroing and dumping.
  local instructions
  instructions=$(sed -n 's/^\(summary\|totals\): \([0-9]*\).*/\2/p' "$WORK/$name.callgrind.1" 2> /dev/null | tail -n 1)
  [ -n "$instructions" ] || { echo "idle-cost: callgrind wrote no counts for $name" >&2; exit 1; }
  awk -v name="$name" -v ir="$instructions" -v w="$WINDOW" 'BEGIN {
    printf "%-22s %12.0f instructions a second (callgrind, %d s)\n", name, ir / w, w }'
}

if [ "$CALLGRIND" = 1 ]; then
  measure_instructions loaded '"cmd":"load"'
  measure_instructions started '"cmd":"start","result":0' init "login demo demo" "loop 2000" start
fi
