#!/usr/bin/env bash
# Makes the bare Debian 12 root the packaging checks start from, once: a
# minimal debootstrap from this machine's own apt source, kept as a tarball in
# CACHE_DIR so that later runs only unpack it. eatmydata is the one addition:
# piuparts runs dpkg under it, which spares the checks a sync per file.
# usage: debian_base.sh CACHE_DIR   (prints the tarball's path)
set -euo pipefail
cache=${1:?usage: debian_base.sh CACHE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/apt_sources.sh"
mkdir -p "$cache"
base=$cache/bookworm-base.tar.gz

exec 9>"$cache/base.lock"
flock 9   # a second suite running at the same time waits for the first one's base
if [ -s "$base" ]; then
  echo "$base"
  exit 0
fi
for tool in debootstrap tar; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed — run scripts/install-deps" >&2; exit 1; }
done
read -r mirror _ < <(debian_sources)
root=$(mktemp -d "$cache/root.XXXXXX")
trap 'rm -rf "$root"' EXIT
echo "debian_base: debootstrap bookworm from $mirror (once; later runs reuse $base)" >&2
if ! debootstrap --variant=minbase --include=eatmydata bookworm "$root" "$mirror" >"$cache/debootstrap.log" 2>&1; then
  tail -n 5 "$cache/debootstrap.log" >&2
  echo "debootstrap failed (log: $cache/debootstrap.log) — check the network and the apt source" >&2
  exit 1
fi
write_sources_list "$root"
rm -rf "$root"/var/cache/apt/archives/*.deb "$root"/var/lib/apt/lists/*_Packages
tar -C "$root" -czf "$base.part" .
mv "$base.part" "$base"
echo "$base"
