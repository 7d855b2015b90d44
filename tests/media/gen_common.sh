#!/usr/bin/env bash
# Small raw and Y4M clips shared by several tests.
set -euo pipefail
out="$1"
clip() { # name, then ffmpeg arguments
  local name="$1"; shift
  [ -s "$out/$name" ] || $FFMPEG "$@" "$out/$name"
}
clip src_176x144_420p.y4m -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 10 -pix_fmt yuv420p
