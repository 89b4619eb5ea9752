#!/usr/bin/env bash
# piuparts on the set of packages in DEB_DIR, in a Debian 12 root made from
# this machine's own apt source: installed together with what they depend on,
# removed and purged, nothing may stay behind and no process may be left
# running. The root is unpacked from the cached base (debian_base.sh).
# usage: piuparts.sh DEB_DIR CACHE_DIR
set -euo pipefail
deb_dir=${1:?usage: piuparts.sh DEB_DIR CACHE_DIR} cache=${2:?usage: piuparts.sh DEB_DIR CACHE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
command -v piuparts >/dev/null || { echo "piuparts is not installed — run scripts/install-deps" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "piuparts needs root (it makes a chroot) — run the suite as root" >&2; exit 1; }
shopt -s nullglob
debs=("$deb_dir"/*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "no packages in $deb_dir — run make deb" >&2; exit 1; }
base=$("$here/debian_base.sh" "$cache")

work=$(mktemp -d "${TMPDIR:-/tmp}/piuparts.XXXXXX")
trap 'rm -rf "$work"' EXIT
log=$work/piuparts.log
# No upgrade test: no earlier version of these packages is in the archive.
# The base is a minimal debootstrap already: no need to minimize it again.
status=0
piuparts --distribution=bookworm --basetgz="$base" --keep-sources-list --no-upgrade-test --skip-minimize \
         --tmpdir="$work" --log-file="$log" "${debs[@]}" >"$work/piuparts.out" 2>&1 || status=$?
cp "$log" "$cache/piuparts-last.log"
if [ "$status" -ne 0 ]; then
  grep -E '(FAIL|ERROR|WARN)' "$log" | tail -n 30 >&2 || true
  tail -n 20 "$work/piuparts.out" >&2
  echo "piuparts failed with status $status (whole log: $cache/piuparts-last.log)" >&2
  exit 1
fi
grep -E 'PASS' "$log"
