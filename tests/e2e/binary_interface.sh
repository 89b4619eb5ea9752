#!/usr/bin/env bash
# What the delivered files promise the outside world:
#   - each board-access library exports exactly its entry points;
#   - each program (tarnelctl too) searches libraries beside itself and nowhere
#     else it chose;
#   - an installation carries programs, libraries, the udev rule and the SCPI
#     service, but never the emulated board's test firmware;
#   - the service starts the installed tarnelctl, unprivileged, in the group
#     the udev rule gives the board to.
# usage: binary_interface.sh BUILD_DIR NEWER_LIBRARY OLDER_LIBRARY PROGRAM...
set -euo pipefail
build_dir=$1 newer=$2 older=$3
shift 3
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

exports() { nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' '; }
expected_newer="Connect Download_Firmware Search_For_Boards Vendor_Request "
expected_older="_Z12LoadFirmWarePc _Z15VendorIORequestsiissPc "
[ "$(exports "$newer")" = "$expected_newer" ] || fail "$newer exports: $(exports "$newer")"
[ "$(exports "$older")" = "$expected_older" ] || fail "$older exports: $(exports "$older")"

for program in "$@"; do
  runpath=$(readelf -d "$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [ "$runpath" = '$ORIGIN' ] || fail "$program has RUNPATH '$runpath', not exactly \$ORIGIN"
done

stage=$(mktemp -d "${TMPDIR:-/tmp}/install.XXXXXX")
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build_dir" >/dev/null
for wanted in "Tarnel(version2)" Tarnel tarnelctl libToveri.so libKTV_CYUSB_USB4.so 60-tarnel-board.rules \
              tarnel-version2.desktop tarnel.png tarnel-scpi.service; do
  [ -n "$(find "$stage" -name "$wanted" -print -quit)" ] || fail "installation lacks $wanted"
done
[ -z "$(find "$stage" -iname 'Brisan.hex' -print -quit)" ] || fail "installation carries the test firmware"
if grep -rq 'MODE="0666"' "$stage"; then fail "the udev rule makes the board world-writable"; fi

unit=$(find "$stage" -name tarnel-scpi.service -print -quit)
rule=$(find "$stage" -name 60-tarnel-board.rules -print -quit)
if [ -n "$unit" ] && [ -n "$rule" ]; then
  program=$(sed -n 's/^ExecStart=\([^ ]*\) serve.*/\1/p' "$unit")
  [ -x "$stage$program" ] || fail "tarnel-scpi.service starts '$program', which the installation lacks"
  grep -q '^DynamicUser=yes' "$unit" || fail "tarnel-scpi.service does not run as a user of its own"
  { grep -q '^Type=notify$' "$unit" && grep -q '^WatchdogSec=[1-9]' "$unit"; } ||
    fail "tarnel-scpi.service does not have systemd wait for the server's ready signal and watch its pings"
  group=$(sed -n 's/^SupplementaryGroups=//p' "$unit")
  grep -q "GROUP=\"$group\"" "$rule" || fail "the udev rule does not give the board to the service's group '$group'"
  if command -v systemd-analyze >/dev/null; then
    # Checked where the staged program is, so that systemd finds it.
    sed "s|^ExecStart=$program|ExecStart=$stage$program|" "$unit" >"$stage/tarnel-scpi.service"
    complaints=$(systemd-analyze verify "$stage/tarnel-scpi.service" 2>&1) || true
    [ -z "$complaints" ] || fail "systemd-analyze verify: $complaints"
  fi
fi

[ "$failures" -eq 0 ] && echo "binary interface: ok"
exit "$failures"
