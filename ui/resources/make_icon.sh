#!/usr/bin/env bash
# Draws the program's 32 x 32, 256-colour icon: a white "T" over the staircase
# of a DAC's output steps on the main window's blue. Run once; the PNG is kept
# in the source tree.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 32x32 xc:'rgb(0,0,255)' \
  -fill none -stroke white -strokewidth 1 -draw "rectangle 1,1 30,30" \
  -fill 'rgb(255,255,255)' -stroke none -draw "rectangle 4,4 27,8" -draw "rectangle 13,4 18,16" \
  -stroke 'rgb(255,64,64)' -strokewidth 2 -fill none \
  -draw "polyline 3,27 8,27 8,23 13,23 13,19 18,19 18,23 23,23 23,27 28,27" \
  -colors 256 PNG8:tarnel.png
