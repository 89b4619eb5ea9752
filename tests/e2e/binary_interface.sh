#!/usr/bin/env bash
# What the delivered files promise the outside world:
#   - each board-access library exports exactly its entry points;
#   - each program (tarnelctl too) searches libraries beside itself and nowhere
#     else it chose;
#   - an installation carries programs, libraries, the udev rule, the SCPI
#     service, the manual pages and the completion; the programs and
#     libToveri.so share one private folder, linked from bin; the emulated
#     board's test firmware is only in board-emulator's own folder, never
#     where the programs look for the board's firmware;
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
if grep -q '^TARNEL_MAN_PAGES:BOOL=ON' "$build_dir/CMakeCache.txt"; then
  for page in Tarnel.1 "Tarnel(version2).1" tarnelctl.1; do
    [ -n "$(find "$stage" -path "*/man1/$page" -print -quit)" ] || fail "installation lacks the page $page"
  done
fi
[ -n "$(find "$stage" -path '*/bash-completion/completions/tarnelctl' -print -quit)" ] ||
  fail "installation lacks tarnelctl's bash completion"
for program in "Tarnel(version2)" Tarnel tarnelctl; do
  link=$(find "$stage" -path "*/bin/$program" -print -quit)
  if [ -z "$link" ] || [ ! -L "$link" ]; then fail "bin/$program is not a link"; continue; fi
  target=$(readlink -f "$link")
  [ -f "$(dirname "$target")/libToveri.so" ] || fail "bin/$program leads to $target, which has no libToveri.so beside it"
done
strays=$(find "$stage" -iname 'Brisan.hex' -not -path '*/share/board-emulator/*')
[ -z "$strays" ] || fail "installation carries the test firmware where the programs look for theirs: $strays"
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
