#!/usr/bin/env bash
# Clips of one size and different lengths for the playback area tests: a Y4M reference of the
# test pattern and H.264 encodes of it, so that the differences are small but not zero.
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
src=(-f lavfi -i testsrc2=size=176x144:rate=25)
x264=(-c:v libx264 -x264-params bframes=2:log-level=error -crf 35 -f h264)
clip pb_ref_10f.y4m "${src[@]}" -frames:v 10 -pix_fmt yuv420p
clip pb_ref_5f.y4m  "${src[@]}" -frames:v 5 -pix_fmt yuv420p
clip pb_avc_10f.h264 "${src[@]}" -frames:v 10 -pix_fmt yuv420p "${x264[@]}"
clip pb_avc_5f.h264  "${src[@]}" -frames:v 5 -pix_fmt yuv420p "${x264[@]}"
# Another size, for a change of decoder in one place.
clip pb_avc_64x48_10f.h264 -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 10 -pix_fmt yuv420p "${x264[@]}"
