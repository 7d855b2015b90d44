#!/usr/bin/env bash
# Streams with random-access points every few pictures, for walking them forwards, backwards and
# by jumps: H.264 with IDRs, HEVC with open GOPs (CRA pictures with RASL leading pictures) and
# closed ones (IDR with RADL), MJPEG, AV1 with key frames. The reference of each is the
# decoder's own decode from the start, so no MD5 lists are made here.
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
src=(-f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 48 -pix_fmt yuv420p)
clip ra_avc.h264 "${src[@]}" -c:v libx264 \
  -x264-params keyint=10:min-keyint=10:scenecut=0:bframes=3:b-pyramid=normal:ref=3:log-level=error -f h264
clip ra_hevc_open.h265 "${src[@]}" -c:v libx265 \
  -x265-params keyint=10:min-keyint=10:scenecut=0:open-gop=1:bframes=4:b-pyramid=1:log-level=error -f hevc
clip ra_hevc_closed.h265 "${src[@]}" -c:v libx265 \
  -x265-params keyint=10:min-keyint=10:scenecut=0:open-gop=0:bframes=4:b-pyramid=1:radl=2:log-level=error -f hevc
clip ra_mjpeg.mjpeg "${src[@]}" -c:v mjpeg -q:v 5 -f mjpeg
clip ra_av1.ivf "${src[@]}" -c:v libaom-av1 -cpu-used 8 -row-mt 1 -threads 2 -g 10 -keyint_min 10 -f ivf
clip ra_av1.obu -i "$out/ra_av1.ivf" -c copy -f obu
