#!/usr/bin/env bash
# The README's two commands on a fresh Debian 12, as a newcomer runs them:
# makes a minimal Debian 12 root with debootstrap, clones the committed tree
# (HEAD of this repository) into it, with ../shared/data beside it when that
# is here, and runs scripts/setup.sh, then scripts/test.sh, as root. Prints
# each command's exit status and time; fails when one of them failed.
# Uncommitted changes are not in the clone. Takes a quarter of an hour or
# more; needs root (debootstrap, chroot and mounts) and debootstrap
# (apt-get install debootstrap).
#
#   scripts/fresh-root.sh [--root DIR] [--mirror URL] [--cache DIR | --no-cache]
#                         [--test-runs N] [--user] [--keep]
#
#   --root DIR     the Debian root to use; one already made there is reused,
#                  and kept (default: a new one in /var/tmp, removed after)
#   --mirror URL   Debian mirror (default http://deb.debian.org/debian)
#   --cache DIR    keeps the debootstrapped root and apt's downloaded packages
#                  there for the next run (default /var/tmp/nerova-fresh-cache)
#   --no-cache     everything from the mirror, nothing kept
#   --test-runs N  runs scripts/test.sh N times in a row (default 1)
#   --user         then, as an ordinary user without sudo, in a clone of that
#                  user's own, runs scripts/test.sh once more (the packages
#                  are those root's set-up installed)
#   --keep         keeps the Debian root, and says where
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT_DIR=$PWD

CHROOT=""
MIRROR=http://deb.debian.org/debian
CACHE=/var/tmp/nerova-fresh-cache
TEST_RUNS=1
AS_USER=0
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --root) CHROOT=$(realpath -m "$2"); KEEP=1; shift 2 ;;
    --mirror) MIRROR=$2; shift 2 ;;
    --cache) CACHE=$(realpath -m "$2"); shift 2 ;;
    --no-cache) CACHE=""; shift ;;
    --test-runs) TEST_RUNS=$2; shift 2 ;;
    --user) AS_USER=1; shift ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "fresh-root: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
[[ "$TEST_RUNS" =~ ^[1-9][0-9]*$ ]] || { echo "fresh-root: --test-runs takes a count" >&2; exit 2; }

say() { printf '\n== %s\n' "$*"; }
fail() { echo "fresh-root: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot and mounts): run it with sudo"
command -v debootstrap > /dev/null || fail "needs debootstrap: apt-get install debootstrap"
COMMIT=$(git rev-parse HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] \
  || echo "fresh-root: uncommitted changes are not checked, only commit $COMMIT"

[ -n "$CHROOT" ] || CHROOT=$(mktemp -d /var/tmp/nerova-fresh-root.XXXXXX)
LOGS=$CHROOT.logs
mkdir -p "$LOGS"
. scripts/debian-root.sh
cleanup() {
  if [ "$KEEP" = 1 ]; then
    debian_root_unmount "$CHROOT" || true
    echo "fresh-root: kept the Debian root $CHROOT"
  else
    debian_root_remove "$CHROOT" || echo "fresh-root: left $CHROOT in place" >&2
  fi
  echo "fresh-root: the commands' output is in $LOGS"
}
trap cleanup EXIT

say "The Debian root"
debian_root_make "$CHROOT" "$MIRROR" "$CACHE" || fail "no Debian root"
debian_root_mount "$CHROOT" || fail "could not mount /proc, /sys and /dev in $CHROOT"

# The tree as a newcomer gets it: committed files only, in a home
# directory, with the test data beside it as in this checkout.
place_tree() {
  local home=$1
  rm -rf --one-file-system "$CHROOT$home/nerova" "$CHROOT$home/shared"
  git clone --quiet --no-hardlinks "$ROOT_DIR" "$CHROOT$home/nerova"
  git -C "$CHROOT$home/nerova" checkout --quiet --detach "$COMMIT"
  if [ -d "$ROOT_DIR/../shared/data" ]; then
    mkdir -p "$CHROOT$home/shared"
    cp -a "$(realpath "$ROOT_DIR/../shared/data")" "$CHROOT$home/shared/data"
  fi
}

FAILED=0
SUMMARY=()
# Runs one command in the tree of a user of the root, in a login's bare
# environment, into a log of its own; says its exit status and time.
run_in_root() {
  local user=$1 home=$2 log=$LOGS/$3.log command=$4 status=0 start seconds
  start=$(date +%s)
  chroot "$CHROOT" runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" SHELL=/bin/bash \
    PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin bash -c "cd ~/nerova && $command" \
    < /dev/null > "$log" 2>&1 || status=$?
  seconds=$(($(date +%s) - start))
  local line
  line=$(printf '%-8s %-22s exit %d in %d min %02d s' "$user" "$command" "$status" $((seconds / 60)) $((seconds % 60)))
  case "$command" in
    scripts/test.sh*) line+=" ($(grep -Eo '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1))" ;;
  esac
  echo "$line"
  SUMMARY+=("$line")
  if [ "$status" -ne 0 ]; then
    FAILED=1
    grep -A 40 -E 'tests failed out of|The following tests FAILED' "$log" | tail -n 40 || tail -n 40 "$log"
  fi
}

say "Commit $COMMIT cloned into $CHROOT/root/nerova"
place_tree /root
say "scripts/setup.sh, then scripts/test.sh, as root"
run_in_root root /root setup scripts/setup.sh
for run in $(seq "$TEST_RUNS"); do
  run_in_root root /root "test-$run" scripts/test.sh
done

if [ "$AS_USER" = 1 ]; then
  say "scripts/test.sh as an ordinary user, in a clone of the user's own"
  chroot "$CHROOT" id newcomer > /dev/null 2>&1 || chroot "$CHROOT" useradd --create-home --shell /bin/bash newcomer
  place_tree /home/newcomer
  chroot "$CHROOT" chown -R newcomer:newcomer /home/newcomer/nerova /home/newcomer/shared 2> /dev/null \
    || chroot "$CHROOT" chown -R newcomer:newcomer /home/newcomer/nerova
  run_in_root newcomer /home/newcomer test-user scripts/test.sh
fi

say "Summary (commit $COMMIT, Debian $(cat "$CHROOT/etc/debian_version"))"
printf '%s\n' "${SUMMARY[@]}"
[ "$FAILED" = 0 ] || fail "a command failed (its output: $LOGS)"
say "fresh-root: passed"
