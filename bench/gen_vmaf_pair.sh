#!/usr/bin/env bash
# A reference/distorted pair for the metric benchmarks: testsrc2 of the given size and frame
# count, and its libx264 CRF 30 encode decoded back (deterministic, 4:2:0 8-bit Y4M).
# usage: gen_vmaf_pair.sh OUT_DIR WIDTH HEIGHT FRAMES
set -euo pipefail
out="$1"; w="$2"; h="$3"; n="$4"
FF="${FFMPEG:-ffmpeg -nostdin -hide_banner -loglevel error -y} -sws_flags bitexact+accurate_rnd"
ref="$out/B_${w}x${h}_${n}f_420p_ref.y4m"
dis="$out/B_${w}x${h}_${n}f_420p_crf30.y4m"
mkdir -p "$out"
if [ ! -s "$ref" ]; then
  $FF -f lavfi -i "testsrc2=s=${w}x${h}:r=25" -frames:v "$n" -pix_fmt yuv420p -f yuv4mpegpipe "$ref.part"
  mv "$ref.part" "$ref"
fi
if [ ! -s "$dis" ]; then
  $FF -i "$ref" -c:v libx264 -preset veryfast -crf 30 -threads 4 -pix_fmt yuv420p -f h264 "$dis.264"
  $FF -threads 1 -i "$dis.264" -pix_fmt yuv420p -strict -1 -f yuv4mpegpipe "$dis.part"
  rm -f "$dis.264"
  mv "$dis.part" "$dis"
fi
