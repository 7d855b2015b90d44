#!/usr/bin/env bash
# The streams of the random-access benchmark: 1,500 frames of 1080p testsrc2 with a random-access
# point every 250 frames, as H.264 (IDR), HEVC (open GOP: CRA with RASL pictures) and AV1 (key
# frames in IVF). Deterministic, 4:2:0 8-bit.
# usage: gen_random_access_streams.sh OUT_DIR [FRAMES]
set -euo pipefail
out="$1"; n="${2:-1500}"
FF="${FFMPEG:-ffmpeg -nostdin -hide_banner -loglevel error -y}"
src=(-f lavfi -i "testsrc2=s=1920x1080:r=25" -frames:v "$n" -pix_fmt yuv420p)
mkdir -p "$out"
make() { # name, encoder arguments...
  local name="$out/$1"; shift
  [ -s "$name" ] && return 0
  $FF "${src[@]}" "$@" "$name.part"
  mv "$name.part" "$name"
}
make "ra_1080p_${n}f.h264" -c:v libx264 -preset veryfast -crf 23 -threads 4 \
  -x264-params keyint=250:min-keyint=250:scenecut=0:log-level=error -f h264
make "ra_1080p_${n}f.h265" -c:v libx265 -preset veryfast -crf 26 \
  -x265-params keyint=250:min-keyint=250:scenecut=0:open-gop=1:pools=4:log-level=error -f hevc
make "ra_1080p_${n}f.ivf" -c:v libaom-av1 -cpu-used 8 -row-mt 1 -threads 4 -crf 35 -b:v 0 -g 250 -keyint_min 250 -f ivf
