#!/usr/bin/env bash
# The 1280x720 30-frame pair the metric benchmark measures (libx264 CRF 30, deterministic).
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
FF="$FFMPEG -sws_flags bitexact+accurate_rnd"
ref="$out/T_1280x720_420p_ref.y4m"
dis="$out/T_1280x720_420p_crf30.y4m"
if missing "$(basename "$ref")"; then
  $FF -f lavfi -i testsrc2=s=1280x720:r=25 -frames:v 30 -pix_fmt yuv420p -f yuv4mpegpipe "$ref"
fi
if missing "$(basename "$dis")"; then
  $FF -i "$ref" -c:v libx264 -preset medium -crf 30 -threads 1 -pix_fmt yuv420p -f h264 "$dis.264"
  $FF -threads 1 -i "$dis.264" -pix_fmt yuv420p -strict -1 -f yuv4mpegpipe "$dis"
  rm -f "$dis.264"
fi
