#!/usr/bin/env bash
# Small Y4M clips for the project panel tests: two of one size, one of another, one long one.
set -euo pipefail
out="$1"
clip() { # name, size, frames
  [ -s "$out/$1" ] || $FFMPEG -f lavfi -i "testsrc2=size=$2:rate=25" -frames:v "$3" -pix_fmt yuv420p "$out/$1"
}
clip panel_a_64x48.y4m 64x48 12
clip panel_b_64x48.y4m 64x48 12
clip panel_c_80x48.y4m 80x48 5
clip panel_120f_64x48.y4m 64x48 120
