#!/usr/bin/env bash
# lintian on every package in DEB_DIR: no error and no warning. An override
# lives in debian/<package>.lintian-overrides with a comment saying why.
# usage: lintian.sh DEB_DIR
set -euo pipefail
deb_dir=${1:?usage: lintian.sh DEB_DIR}
command -v lintian >/dev/null || { echo "lintian is not installed — run scripts/install-deps" >&2; exit 1; }
shopt -s nullglob
debs=("$deb_dir"/*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "no packages in $deb_dir — run make deb" >&2; exit 1; }
# --fail-on error,warning: a warning fails the check as an error does; the
# informational tags are shown, not counted.
status=0
lintian --fail-on error,warning --display-info --tag-display-limit 0 "${debs[@]}" || status=$?
[ "$status" -eq 0 ] && echo "lintian: ${#debs[@]} packages, no error, no warning"
exit "$status"
