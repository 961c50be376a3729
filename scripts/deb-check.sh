#!/usr/bin/env bash
# The Debian package on a fresh Debian 12: builds the .deb (cpack -G DEB),
# makes a minimal Debian 12 root with debootstrap from Debian's mirror,
# installs the package there with apt (which brings its dependencies), adds
# an ordinary user to the package's group and runs the example host as that
# user with a virtual probe device and the store simulator of the package.
# Passes when the host wrote its log and kept its probe records in data/.
# Needs root (debootstrap, chroot, mounts) and debootstrap
# (apt-get install debootstrap); lintian, when installed, checks the .deb.
#
#   scripts/deb-check.sh [--build-dir DIR] [--root DIR] [--mirror URL] [--from DEB] [--no-setup] [--keep]
#
#   --build-dir DIR  the build tree that makes the package (default build)
#   --root DIR       the Debian root to use; one already made there is
#                    reused (default: a new one in $TMPDIR, removed after)
#   --mirror URL     Debian mirror (default http://deb.debian.org/debian)
#   --from DEB       an earlier nerova package: installed first, its
#                    configuration edited, then upgraded to the new one,
#                    which must keep the edit without asking
#   --no-setup       skip scripts/setup.sh (the build tree is already built)
#   --keep           keep the Debian root, and say where
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT_DIR=$PWD

BUILD_DIR=build
CHROOT=""
MIRROR=http://deb.debian.org/debian
FROM=""
SETUP=1
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) BUILD_DIR=$2; shift 2 ;;
    --root) CHROOT=$2; KEEP=1; shift 2 ;;
    --mirror) MIRROR=$2; shift 2 ;;
    --from) FROM=$(realpath "$2"); shift 2 ;;
    --no-setup) SETUP=0; shift ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "deb-check: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT_DIR/$BUILD_DIR ;; esac

say() { printf '\n== %s\n' "$*"; }
fail() { echo "deb-check: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot and mounts): run it with sudo"
command -v debootstrap > /dev/null || fail "needs debootstrap: apt-get install debootstrap"

if [ "$SETUP" = 1 ]; then
  say "Building (scripts/setup.sh $BUILD_DIR)"
  scripts/setup.sh "$BUILD_DIR" > "${TMPDIR:-/tmp}/nerova-deb-check-setup.log" 2>&1 || {
    tail -n 30 "${TMPDIR:-/tmp}/nerova-deb-check-setup.log"; fail "the build failed"; }
fi
say "The package (cpack -G DEB)"
rm -f "$BUILD_DIR"/nerova_*.deb
(cd "$BUILD_DIR" && cpack -G DEB > cpack.log 2>&1) || { tail -n 20 "$BUILD_DIR/cpack.log"; fail "cpack failed"; }
DEB=$(ls "$BUILD_DIR"/nerova_*.deb)
echo "$DEB"
if command -v lintian > /dev/null; then
  echo "lintian (errors and warnings; tags the package overrides are not shown):"
  status=0
  lintian --tag-display-limit 0 "$DEB" > "$BUILD_DIR/lintian.log" 2>&1 || status=$?
  grep -v '^running with root' "$BUILD_DIR/lintian.log" || echo "(nothing)"
  [ "$status" -eq 0 ] || fail "lintian found errors"
else
  echo "lintian is not installed: the package is not checked (apt-get install lintian)"
fi

if [ -z "$CHROOT" ]; then
  CHROOT=$(mktemp -d "${TMPDIR:-/tmp}/nerova-deb-root.XXXXXX")
fi
. scripts/debian-root.sh
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  if [ "$KEEP" = 1 ]; then
    debian_root_unmount "$CHROOT" || true
    echo "deb-check: kept the Debian root $CHROOT"
  else
    debian_root_remove "$CHROOT" || echo "deb-check: left $CHROOT in place" >&2
  fi
}
trap cleanup EXIT

say "The Debian root"
debian_root_make "$CHROOT" "$MIRROR" || fail "no Debian root"
debian_root_mount "$CHROOT" || fail "could not mount /proc, /sys and /dev in $CHROOT"
in_root() { chroot "$CHROOT" "$@"; }

. scripts/store-env.sh
INI=$CHROOT/opt/nerova/conf/default.ini
in_root apt-get update -qq
# Installs a package file of the host with its dependencies, asking nothing.
install_package() {
  cp "$1" "$CHROOT/tmp/package.deb"
  DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -qq --no-install-recommends /tmp/package.deb \
    < /dev/null > "$CHROOT/tmp/apt.log" 2>&1 || { tail -n 30 "$CHROOT/tmp/apt.log"; fail "$1 did not install"; }
}
if [ -n "$FROM" ]; then
  say "The earlier package $(basename "$FROM"), its configuration edited by the installer"
  in_root dpkg --purge nerova > /dev/null 2>&1 || true
  install_package "$FROM"
  ini_set "$INI" Nerova DeviceId STORE-KEPT
fi

say "Installing the package with its dependencies (apt-get install ./$(basename "$DEB"))"
install_package "$DEB"
echo "installed: $(in_root dpkg-query -W -f='${Package} ${Version} ${Status}' nerova)"
if [ -n "$FROM" ]; then
  grep -q '^DeviceId=STORE-KEPT$' "$INI" || fail "the upgrade replaced the edited conf/default.ini"
  echo "the upgrade kept the edited conf/default.ini"
fi
echo "group: $(in_root getent group nerova)"
for dir in log data debug; do
  echo "/opt/nerova/$dir: $(in_root stat -c '%U:%G %a' "/opt/nerova/$dir")"
  [ "$(in_root stat -c '%U:%G %a' "/opt/nerova/$dir")" = "root:nerova 2775" ] || fail "/opt/nerova/$dir is not root:nerova 2775"
  in_root getfacl -cp --default "/opt/nerova/$dir" 2> /dev/null | grep -qx 'group::rwx' \
    || fail "/opt/nerova/$dir has no default ACL making new files group-writable"
  in_root getfacl -cp --default "/opt/nerova/$dir" 2> /dev/null | grep -qx 'other::---' \
    || fail "/opt/nerova/$dir has no default ACL keeping new files from others"
done
echo "default ACL of each: $(in_root getfacl -cp --default /opt/nerova/log | paste -sd' ')"
for dir in haarcascades lbpcascades; do
  [ -z "$(in_root find "/opt/nerova/data/$dir" \( ! -user root -o -perm /022 \) -print -quit)" ] \
    || fail "/opt/nerova/data/$dir holds a cascade that is not root's and read-only for the group"
done
echo "the cascades are root's and read-only for the group"

say "An ordinary user in the group runs the example host"
in_root id clerk > /dev/null 2>&1 || in_root useradd --create-home --groups nerova clerk
echo "$(in_root id clerk)"
WORK=/home/clerk/check
in_root runuser -u clerk -- mkdir -p "$WORK"
# The store simulator and the virtual probe device come with the package.
in_root runuser -u clerk -- /opt/nerova/tools/nerova_store_sim --port 0 --port-file "$WORK/port" \
  --data-dir "$WORK/store" > "$CHROOT$WORK/sim.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$CHROOT$WORK/port" ] && break; sleep 0.1; done
[ -s "$CHROOT$WORK/port" ] || { cat "$CHROOT$WORK/sim.log"; fail "the store simulator did not start"; }
in_root runuser -u clerk -- /opt/nerova/tools/nerova_virtual_probe --link "$WORK/probe-tty" --rate 20 \
  > "$CHROOT$WORK/probe.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -L "$CHROOT$WORK/probe-tty" ] && break; sleep 0.1; done
[ -L "$CHROOT$WORK/probe-tty" ] || { cat "$CHROOT$WORK/probe.log"; fail "the virtual probe device did not start"; }

# The installer's part: the configuration names the server and the probe.
ini_set "$INI" Server Server "http://127.0.0.1:$(tr -d '\n' < "$CHROOT$WORK/port")"
ini_set "$INI" Nerova DeviceId DEB-CHECK
ini_set "$INI" Nerova CheckDeviceInterval 1
ini_set "$INI" Face FaceEnabled false
ini_set "$INI" Probe ProbeDevice 4660-22136

# A reused root may hold what an earlier run wrote. Then the installer
# begins the log as the wizard run with sudo does: a file of root's, made
# with root's umask, that the host must still be able to write.
in_root sh -c 'rm -rf /opt/nerova/log/*.log* /opt/nerova/data/*.csv /opt/nerova/data/*.gz /opt/nerova/data/*.journal /opt/nerova/data/*.batch /opt/nerova/data/refused /opt/nerova/data/oversized'
in_root sh -c 'umask 022; echo "the installer was here" > /opt/nerova/log/nerova.log'

# Uploads come every 300 s: the records read in these seconds are still
# the host's when it ends, and NV_Uninit keeps them in data/.
printf 'init\nlogin demo demo\nloop 2000\nstart\nloop 8000\nstop\nuninit\nquit\n' |
  in_root runuser -u clerk -- env NEROVA_VIRTUAL_SERIAL="$WORK/probe-tty@4660-22136@Virtual probe" \
    /opt/nerova/nerova_c_host > "$CHROOT$WORK/host.out" 2> "$CHROOT$WORK/host.err" || true
grep -E '"cmd":"(init|login|start|uninit)"|"code":(0|6203)[,}]' "$CHROOT$WORK/host.out" | sort | uniq -c
[ -s "$CHROOT$WORK/host.err" ] && { echo "host stderr:"; cat "$CHROOT$WORK/host.err"; }

say "What the host wrote"
in_root ls -l /opt/nerova/log /opt/nerova/data | grep -v '^total'
log=/opt/nerova/log/nerova.log
grep -q 'Login url' "$CHROOT$log" || fail "the host wrote no log lines into $log"
echo "$log: $(wc -l < "$CHROOT$log") lines, the last:"
tail -n 3 "$CHROOT$log"
records=$(in_root sh -c 'cat /opt/nerova/data/*.journal /opt/nerova/data/*.batch /opt/nerova/data/*.csv 2> /dev/null' | grep -c . || true)
[ "$records" -gt 0 ] || fail "no probe records kept in /opt/nerova/data"
echo "probe records kept in /opt/nerova/data: $records"

say "A second user in the group runs the host on the same installation"
# The first user's files (the lock file, the journal) must stay the group's:
# a host run later by another user takes the lock and keeps the records.
in_root id clerk2 > /dev/null 2>&1 || in_root useradd --create-home --groups nerova clerk2
printf 'init\nstart\nloop 3000\nstop\nuninit\nquit\n' |
  in_root runuser -u clerk2 -- /opt/nerova/nerova_c_host > "$CHROOT$WORK/host2.out" 2> "$CHROOT$WORK/host2.err" || true
grep -E '"cmd":"(init|start|uninit)"' "$CHROOT$WORK/host2.out" | sort | uniq -c
if grep -q 'data' "$CHROOT$WORK/host2.err"; then
  cat "$CHROOT$WORK/host2.err"; fail "the second user could not take over /opt/nerova/data"
fi
in_root ls -l /opt/nerova/data | grep -v '^total' | grep -v cascades
later=$(in_root sh -c 'cat /opt/nerova/data/*.journal /opt/nerova/data/*.batch /opt/nerova/data/*.csv 2> /dev/null' | grep -c . || true)
[ "$later" -ge "$records" ] || fail "records were lost when the second user ran the host ($later of $records)"
echo "probe records kept after the second user's host: $later"
say "deb-check: passed"
