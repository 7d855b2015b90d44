#!/usr/bin/env bash
# Tiny seed clips for the broken-file tests: few small frames of each kind, so that many damaged
# copies can be opened and walked quickly.
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
src=(-f lavfi -i testsrc2=size=64x48:rate=25)
clip fz_avc.h264     "${src[@]}" -frames:v 6 -pix_fmt yuv420p -c:v libx264 -x264-params bframes=2:ref=2:log-level=error -f h264
clip fz_hevc.h265    "${src[@]}" -frames:v 6 -pix_fmt yuv420p -c:v libx265 -x265-params bframes=2:log-level=error -f hevc
clip fz_mjpeg.mjpeg  "${src[@]}" -frames:v 4 -pix_fmt yuvj420p -c:v mjpeg -q:v 8 -f mjpeg
clip fz_av1.ivf      "${src[@]}" -frames:v 4 -pix_fmt yuv420p -c:v libaom-av1 -cpu-used 8 -threads 1 -g 10 -f ivf
clip fz_av1.obu -i "$out/fz_av1.ivf" -c copy -f obu
clip fz_420p_33x17.y4m "${src[@]}" -frames:v 4 -vf scale=33:17 -pix_fmt yuv420p
clip fz_422p10_16x8.y4m "${src[@]}" -frames:v 3 -vf scale=16:8 -pix_fmt yuv422p10le -strict -1
clip fz_420p_33x17.yuv "${src[@]}" -frames:v 4 -vf scale=33:17 -pix_fmt yuv420p -f rawvideo
