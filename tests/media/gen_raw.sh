#!/usr/bin/env bash
# Y4M clips of several chroma formats, bit depths and odd sizes, each with the same frames as
# headerless raw planes beside it, and raw files in packed and semi-planar layouts.
# 10-bit clips have an even width: this ffmpeg writes odd-width high-bit-depth Y4M chroma rows
# half a sample short, a file that it cannot read back itself.
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
scaled() { # name, size, pix_fmt, then output options: 5 frames of the test pattern (scaled, as
          # the pattern itself has even sides)
  local name="$1" size="$2" fmt="$3"; shift 3
  clip "$name" -f lavfi -i "testsrc2=size=192x160:rate=25" -vf "scale=${size/x/:}" \
    -frames:v 5 -pix_fmt "$fmt" -strict -1 "$@"
}
for clipdef in 420p:175x143:yuv420p 420p:101x101:yuv420p 422p:175x143:yuv422p 444p:101x101:yuv444p \
            gray:101x101:gray gray10:101x101:gray10le 420p10:176x143:yuv420p10le 422p10:176x143:yuv422p10le \
            420p:176x144:yuv420p 422p:176x144:yuv422p 420p10:176x144:yuv420p10le; do
  IFS=: read -r tag size fmt <<<"$clipdef"
  scaled "raw_${tag}_${size}.y4m" "$size" "$fmt"
  scaled "raw_${tag}_${size}.yuv" "$size" "$fmt" -f rawvideo
done
repack() { # name, planar source, its pix_fmt, new pix_fmt: the same samples in another layout
  clip "$1" -f rawvideo -video_size 176x144 -pix_fmt "$3" -i "$out/$2" -pix_fmt "$4" -f rawvideo
}
repack raw_yuyv422_176x144.yuv raw_422p_176x144.yuv yuv422p yuyv422
repack raw_uyvy422_176x144.yuv raw_422p_176x144.yuv yuv422p uyvy422
repack raw_nv12_176x144.yuv raw_420p_176x144.yuv yuv420p nv12
repack raw_p010le_176x144.yuv raw_420p10_176x144.yuv yuv420p10le p010le
