# A minimal Debian 12 root for the checks that need a machine fresh from the
# installer (scripts/deb-check.sh, scripts/fresh-root.sh). Sourced, not run;
# everything here needs root.
#
#   debian_root_make ROOT MIRROR [CACHE]  makes ROOT with debootstrap, or
#                                         reuses the one already there; with
#                                         CACHE, a directory, the root is kept
#                                         there as a tarball and made from it
#                                         next time, and apt's downloaded
#                                         packages are kept there too
#   debian_root_mount ROOT                /proc, /sys and /dev inside it
#   debian_root_unmount ROOT              ends what still runs inside, takes
#                                         every mount away and checks that
#                                         none is left; fails otherwise
#   debian_root_remove ROOT               unmounts, then deletes ROOT; never
#                                         while anything is still mounted in it
#
# A root must never be deleted while the machine's /dev is bound into it:
# rm -rf would empty the machine's /dev. debian_root_remove checks the
# mount table itself, and rm stays on the root's own file system.

DEBIAN_ROOT_MOUNTS=()

debian_root_fail() { echo "debian-root: $*" >&2; return 1; }

# The mount points at ROOT or below it, one a line, deepest last.
debian_root_mounts_below() {
  local root
  root=$(realpath -m "$1")
  findmnt -rn -o TARGET | awk -v root="$root" '$0 == root || index($0, root "/") == 1'
}

debian_root_make() {
  local root=$1 mirror=$2 cache=${3:-}
  local tarball=${cache:+$cache/bookworm-minbase.tar.gz}
  if [ -f "$root/etc/debian_version" ]; then
    echo "Reusing the Debian root $root ($(cat "$root/etc/debian_version"))"
    # A run killed before its clean-up leaves its mounts: they come off
    # (deepest first) before new ones are made, or these would stack on them.
    local m
    for m in $(debian_root_mounts_below "$root" | grep -vx "$(realpath -m "$root")" | sort -r); do
      umount -R "$m" 2> /dev/null || umount -R -l "$m" 2> /dev/null || true
    done
  elif [ -n "$tarball" ] && [ -f "$tarball" ]; then
    echo "A fresh Debian 12 root in $root (from $tarball)"
    mkdir -p "$root"
    tar -xzpf "$tarball" -C "$root" || debian_root_fail "could not unpack $tarball" || return 1
  else
    echo "A fresh Debian 12 root in $root (debootstrap from $mirror)"
    mkdir -p "$root"
    debootstrap --variant=minbase bookworm "$root" "$mirror" > "$root.debootstrap.log" 2>&1 || {
      tail -n 20 "$root.debootstrap.log"
      debian_root_fail "debootstrap could not make the root from $mirror (is the mirror reachable? see $root.debootstrap.log)"
      return 1; }
    rm -f "$root.debootstrap.log"
    # As the installer leaves it: the point release's updates and security.
    printf 'deb %s bookworm main\ndeb %s bookworm-updates main\ndeb %s bookworm-security main\n' \
      "$mirror" "$mirror" http://deb.debian.org/debian-security > "$root/etc/apt/sources.list"
    if [ -n "$tarball" ]; then
      mkdir -p "$cache"
      tar -czpf "$tarball.part" -C "$root" . && mv "$tarball.part" "$tarball"
    fi
  fi
  # Its "/": a 0700 directory (mktemp's) would shut out every user but root.
  chmod 755 "$root"
  if [ -n "$cache" ]; then
    mkdir -p "$cache/apt-archives/partial"
    mount --bind "$cache/apt-archives" "$root/var/cache/apt/archives" \
      && DEBIAN_ROOT_MOUNTS+=("$root/var/cache/apt/archives")
  fi
}

debian_root_mount() {
  local root=$1
  mount -t proc proc "$root/proc" && DEBIAN_ROOT_MOUNTS+=("$root/proc") || return 1
  mount -t sysfs -o ro sysfs "$root/sys" && DEBIAN_ROOT_MOUNTS+=("$root/sys") || return 1
  # rslave: what is unmounted inside never reaches the machine's /dev.
  mount --rbind /dev "$root/dev" && DEBIAN_ROOT_MOUNTS+=("$root/dev") || return 1
  mount --make-rslave "$root/dev"
}

# Processes whose "/" is the root: what the checks started in it.
debian_root_processes() {
  local root pid
  root=$(realpath -m "$1")
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2> /dev/null)" = "$root" ] && echo "${pid#/proc/}"
  done
  return 0
}

debian_root_unmount() {
  local root=$1 pids i m
  pids=$(debian_root_processes "$root")
  if [ -n "$pids" ]; then
    kill $pids 2> /dev/null || true
    sleep 1
    pids=$(debian_root_processes "$root")
    [ -z "$pids" ] || kill -KILL $pids 2> /dev/null || true
    sleep 0.5
  fi
  for ((i = ${#DEBIAN_ROOT_MOUNTS[@]} - 1; i >= 0; i--)); do
    m=${DEBIAN_ROOT_MOUNTS[i]}
    umount -R "$m" 2> /dev/null || umount -R -l "$m" 2> /dev/null || true
  done
  DEBIAN_ROOT_MOUNTS=()
  local left
  left=$(debian_root_mounts_below "$root")
  [ -z "$left" ] || { debian_root_fail "still mounted in $root:"$'\n'"$left"; return 1; }
}

debian_root_remove() {
  local root=$1
  [ -n "$root" ] && [ "$(realpath -m "$root")" != / ] || { debian_root_fail "refusing to remove '$root'"; return 1; }
  debian_root_unmount "$root" || { debian_root_fail "not removing $root: unmount it first"; return 1; }
  # Checked again right before: nothing of the machine's may be below it.
  [ -z "$(debian_root_mounts_below "$root")" ] || return 1
  rm -rf --one-file-system "$root"
}
