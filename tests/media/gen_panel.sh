#!/usr/bin/env bash
# Small Y4M clips for the project panel tests: two of one size, one of another, one long one.
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
pattern() { # name, size, frames
  clip "$1" -f lavfi -i "testsrc2=size=$2:rate=25" -frames:v "$3" -pix_fmt yuv420p
}
pattern panel_a_64x48.y4m 64x48 12
pattern panel_b_64x48.y4m 64x48 12
pattern panel_c_80x48.y4m 80x48 5
pattern panel_120f_64x48.y4m 64x48 120
