#!/usr/bin/env bash
# One raw frame per chroma format for the colour-conversion tests.
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
raw() { # name, pixel format
  clip "$1" -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 1 -pix_fmt "$2" -f rawvideo
}
raw conv_64x48_yuv420p.yuv yuv420p
raw conv_64x48_yuv422p.yuv yuv422p
raw conv_64x48_yuv444p.yuv yuv444p
raw conv_64x48_yuv420p10le.yuv yuv420p10le
