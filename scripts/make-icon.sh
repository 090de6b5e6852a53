#!/usr/bin/env bash
# Draws the program's icon (a hard disk with an update arrow) with ImageMagick and assembles the
# twelve images with icotool: 16 at 4, 8, 24 bits; 24 at 24; 32 at 1, 4, 8; 48 at 4, 8, 24; 64 and
# 128 at 24. Run it when the artwork changes; the result is resources/Tarnwick.ico.
set -euo pipefail
out=${1:-$(dirname "$0")/../resources/Tarnwick.ico}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The master drawing at 256 px: a grey drive body, a silver platter with a hub, a head arm, and a
# green badge with an upward arrow for "update".
convert -size 256x256 xc:none \
  -fill '#3b4250' -stroke '#1e2229' -strokewidth 6 -draw 'roundrectangle 20,12 212,236 22,22' \
  -fill '#c9ced6' -stroke '#8a919c' -strokewidth 4 -draw 'circle 116,104 116,28' \
  -fill '#5d6470' -stroke none -draw 'circle 116,104 116,86' \
  -stroke '#e8b64a' -strokewidth 12 -draw 'line 176,196 136,124' \
  -fill '#2fa84f' -stroke '#1d6e33' -strokewidth 6 -draw 'circle 190,190 190,130' \
  -fill white -stroke none -draw 'polygon 190,146 226,188 204,188 204,226 176,226 176,188 154,188' \
  "$work/master.png"

args=()
add() { # size bits
  local png="$work/$1-$2.png"
  case $2 in
    1) convert "$work/master.png" -resize "$1x$1" -colors 2 -type bilevel "PNG8:$png" ;;
    4) convert "$work/master.png" -resize "$1x$1" -colors 16 "PNG8:$png" ;;
    8) convert "$work/master.png" -resize "$1x$1" -colors 256 "PNG8:$png" ;;
    24) convert "$work/master.png" -resize "$1x$1" "PNG24:$png" ;;
  esac
  args+=(-b "$2" "$png")
}
add 16 4; add 16 8; add 16 24; add 24 24; add 32 1; add 32 4; add 32 8
add 48 4; add 48 8; add 48 24; add 64 24; add 128 24
icotool -c -o "$out" "${args[@]}"
icotool -l "$out"
