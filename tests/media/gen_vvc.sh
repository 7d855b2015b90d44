#!/usr/bin/env bash
# Streams of other formats that the VVC decoder must refuse (named .vvc to mislead it).
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
src=(-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 3)
clip vvcprobe_h264.vvc "${src[@]}" -pix_fmt yuv420p -c:v libx264 -preset ultrafast -f h264
clip vvcprobe_hevc.vvc "${src[@]}" -pix_fmt yuv420p -c:v libx265 -preset ultrafast -x265-params log-level=error -f hevc
clip vvcprobe_av1.vvc "${src[@]}" -pix_fmt yuv420p -c:v libaom-av1 -cpu-used 8 -f ivf
clip vvcprobe_av1_obu.vvc "${src[@]}" -pix_fmt yuv420p -c:v libaom-av1 -cpu-used 8 -f obu
clip vvcprobe_mjpeg.vvc "${src[@]}" -pix_fmt yuvj420p -c:v mjpeg -f mjpeg
clip vvcprobe_yuv.vvc "${src[@]}" -pix_fmt yuv420p -f rawvideo
