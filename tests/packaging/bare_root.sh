#!/usr/bin/env bash
# The packages in a bare Debian 12 root (the cached debootstrap base):
#   apt-get install --no-install-recommends ./*.deb (what the packages
#   depend on must be enough), then
#   - tarnelctl --version prints the project's version;
#   - man -w tarnelctl finds the page;
#   - bash completes "tarnelctl sw" to "tarnelctl sweep";
#   - board-emulator -- tarnelctl read reads 0 from the board it just started;
#   - Tarnel(version2) maps its window on the emulated board under Xvfb;
#   then apt-get purge removes every file the packages put there.
# A machine that gives no mount namespace (an unprivileged container) cannot
# run it: one line says so and the check ends with 77, which CTest counts as
# skipped.
# man-db, bash-completion, Xvfb and xdotool come into the root first, as the
# tools of the check; the file lists before the packages and after their
# purge must be the same.
# usage: bare_root.sh DEB_DIR CACHE_DIR VERSION
set -euo pipefail
deb_dir=$(cd "${1:?usage: bare_root.sh DEB_DIR CACHE_DIR VERSION}" && pwd)
cache=${2:?usage: bare_root.sh DEB_DIR CACHE_DIR VERSION} version=${3:?usage: bare_root.sh DEB_DIR CACHE_DIR VERSION}
here=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "the bare-root check needs root (chroot, mounts) — run the suite as root" >&2; exit 1; }
shopt -s nullglob
debs=("$deb_dir"/*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "no packages in $deb_dir — run make deb" >&2; exit 1; }
# The check needs a mount namespace of its own; a machine or container that
# gives none cannot run it at all, which is said in one line and skipped (77).
if ! refused=$(unshare --mount --propagation unchanged -- true 2>&1); then
  echo "bare_root: skipped: this machine gives no mount namespace (${refused:-unshare --mount failed}) — run the check where unshare --mount works as root"
  exit 77
fi
base=$("$here/debian_base.sh" "$cache")

work=$(mktemp -d "${TMPDIR:-/tmp}/bare-root.XXXXXX")
root=$work/root
cleanup() {
  # The mounts below the root live in a namespace of their own and are gone
  # with it; the root's own bind mount is taken off here. The root is only
  # removed when nothing is mounted on or below it any more.
  if mountpoint -q "$root"; then
    umount "$root" || true
  fi
  if grep -q " $root[/ ]" /proc/mounts; then
    echo "bare_root: $root still has mounts; left in place" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
mkdir "$root"
tar -C "$root" -xzf "$base"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/debs" "$cache/archives/partial"
cp "${debs[@]}" "$root/debs/"
# Downloaded packages are kept in the cache, so that a second run fetches nothing.
mkdir -p "$root/var/cache/apt/archives"

# The steps inside the root. Each check prints one line; the first failure ends it.
cat >"$root/check.sh" <<'CHECK'
#!/bin/bash
set -euo pipefail
# TMPDIR of the suite outside names a folder this root has not got.
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 HOME=/tmp/home TMPDIR=/tmp PATH=/usr/sbin:/usr/bin:/sbin:/bin
mkdir -p "$HOME"
fail() { echo "FAIL: $*" >&2; exit 1; }
apt_quiet() { "$@" >/tmp/apt.log 2>&1 || { tail -n 20 /tmp/apt.log >&2; fail "$* failed"; }; }
# Every file of the root but the ones apt, dpkg, the logs and the checks themselves change.
snapshot() {
  find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /run -o -path /debs \
       -o -path /var/cache/apt -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/log \
       -o -path /var/cache/debconf -o -path /var/cache/man -o -path /var/cache/ldconfig \
       -o -path /etc/ld.so.cache -o -path /check.sh \) -prune -o -print | sort
}

apt_quiet apt-get update
apt_quiet apt-get install -y --no-install-recommends man-db bash-completion xvfb xauth xdotool
snapshot >/tmp/before
echo "bare_root: apt-get install --no-install-recommends ./debs/*.deb"
apt_quiet apt-get install -y --no-install-recommends ./debs/*.deb
packages=$(for d in ./debs/*.deb; do dpkg-deb -f "$d" Package; done | tr '\n' ' ')

got=$(tarnelctl --version) || fail "tarnelctl --version failed"
[ "$got" = "tarnelctl $EXPECTED_VERSION" ] || fail "tarnelctl --version printed '$got', not 'tarnelctl $EXPECTED_VERSION'"
echo "ok: $got"

page=$(man -w tarnelctl) || fail "man -w tarnelctl found no page"
echo "ok: man -w tarnelctl: $page"

completed=$(bash -c 'source /usr/share/bash-completion/bash_completion
  _completion_loader tarnelctl
  COMP_LINE="tarnelctl sw"; COMP_POINT=${#COMP_LINE}; COMP_WORDS=(tarnelctl sw); COMP_CWORD=1
  _tarnelctl tarnelctl sw tarnelctl; echo "${COMPREPLY[*]}"') || fail "bash completion of 'tarnelctl sw' failed"
[ "$completed" = sweep ] || fail "bash completes 'tarnelctl sw' to '$completed', not 'sweep'"
echo "ok: tarnelctl sw<TAB> gives tarnelctl sweep"

read_line=$(board-emulator -- tarnelctl read) || fail "board-emulator -- tarnelctl read failed: $read_line"
[[ $read_line == "code 0 "* ]] || fail "board-emulator -- tarnelctl read printed '$read_line', not code 0"
echo "ok: board-emulator -- tarnelctl read: $read_line"

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>/tmp/display >/tmp/xvfb.log 2>&1 &
xvfb=$!
for _ in $(seq 200); do [ -s /tmp/display ] && break; sleep 0.1; done
[ -s /tmp/display ] || fail "Xvfb did not start: $(tail -n 1 /tmp/xvfb.log)"
export DISPLAY=:$(head -n 1 /tmp/display)
board-emulator -- 'Tarnel(version2)' >/tmp/program.log 2>&1 &
program=$!
if ! window=$(timeout 30 xdotool search --sync --onlyvisible --limit 1 --name '^Tarnel Evaluation Software$'); then
  kill "$program" "$xvfb" 2>/dev/null || true
  fail "Tarnel(version2) mapped no window within 30 s: $(tail -n 3 /tmp/program.log)"
fi
echo "ok: Tarnel(version2) on the emulated board mapped its window ($window)"
kill "$program"; wait "$program" 2>/dev/null || true
kill "$xvfb"; wait "$xvfb" 2>/dev/null || true

owned=$(dpkg -L $packages | sort -u)
echo "bare_root: apt-get purge $packages"
apt_quiet apt-get purge -y --autoremove $packages
left=$(while IFS= read -r f; do [ -e "$f" ] && [ ! -d "$f" ] && echo "$f"; done <<<"$owned" || true)
[ -z "$left" ] || fail "apt-get purge left files of the packages: $left"
snapshot >/tmp/after
changed=$(diff /tmp/before /tmp/after | grep '^[<>]' || true)
[ -z "$changed" ] || fail "the root differs after the purge: $changed"
echo "ok: apt-get purge removed every file the packages put there"
CHECK
chmod +x "$root/check.sh"

# A mount namespace of its own: /proc, /dev, /sys and the package cache for
# the root, all gone when the check ends. The root is bind-mounted onto itself
# first, so that it is a mount that the namespace can make private: mounts
# below it then reach no other namespace, even where "/" is no mount point
# (a chroot), whose propagation unshare --propagation private cannot change.
mount --bind "$root" "$root"
unshare --mount --propagation unchanged --fork -- env ROOT="$root" CACHE="$cache" EXPECTED_VERSION="$version" bash -c '
  set -e
  mount --make-rprivate "$ROOT"
  mount -t proc proc "$ROOT/proc"
  mount --rbind --make-rslave /dev "$ROOT/dev"
  mount --rbind --make-rslave /sys "$ROOT/sys"
  mount -t tmpfs tmpfs "$ROOT/tmp"
  mount --bind "$CACHE/archives" "$ROOT/var/cache/apt/archives"
  exec chroot "$ROOT" /check.sh'
