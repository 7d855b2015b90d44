#!/usr/bin/env bash
# Raw YUV and Y4M clips for the raw YUV decoder tests, each with the per-frame md5 of ffmpeg's own
# reading of it (NAME.framemd5). 10 frames each.
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
cropped() { # name, size, then ffmpeg arguments
  local name="$1" size="$2"; shift 2
  # The source is made at 176x144 and cropped: testsrc2 itself rounds odd sizes down to even ones.
  clip "$name" -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 10 -vf "crop=${size/x/:}:0:0:exact=1" "$@"
}
rawmd5() { # name, pixel format, size, [output name, extra ffmpeg arguments]
  local name="$1" fmt="$2" size="$3" md5="${4:-$1.framemd5}"; shift 3; shift $(( $# > 0 ? 1 : 0 ))
  clip "$md5" -f rawvideo -pix_fmt "$fmt" -s "$size" -i "$out/$name" "$@" -f framemd5
}
y4mmd5() {
  clip "$1.framemd5" -i "$out/$1" -f framemd5
}
for fmt in yuv420p yuv420p10le yuv422p yuv422p10le yuv444p yuv444p10le nv12 p010le; do
  cropped "yd_${fmt}_176x144.yuv" 176x144 -pix_fmt "$fmt" -f rawvideo
  rawmd5 "yd_${fmt}_176x144.yuv" "$fmt" 176x144
done
for fmt in yuv420p yuv422p yuv444p10le nv12; do
  cropped "yd_${fmt}_175x143.yuv" 175x143 -pix_fmt "$fmt" -f rawvideo
  rawmd5 "yd_${fmt}_175x143.yuv" "$fmt" 175x143
done
# Crops of 8 on every side, and the packed 4:2:2 form of the 4:2:2 clip.
rawmd5 yd_yuv420p_176x144.yuv yuv420p 176x144 yd_yuv420p_176x144_crop8.framemd5 -vf crop=160:128:8:8:exact=1
rawmd5 yd_yuv420p_175x143.yuv yuv420p 175x143 yd_yuv420p_175x143_crop8.framemd5 -vf crop=159:127:8:8:exact=1
rawmd5 yd_yuv422p_176x144.yuv yuv422p 176x144 yd_yuv422p_176x144_yuyv.framemd5 -pix_fmt yuyv422

cropped yd_420p_176x144.y4m 176x144 -pix_fmt yuv420p
cropped yd_420p10_176x144.y4m 176x144 -pix_fmt yuv420p10le -strict -1
cropped yd_422p10_176x144.y4m 176x144 -pix_fmt yuv422p10le -strict -1
cropped yd_444p_176x144.y4m 176x144 -pix_fmt yuv444p
cropped yd_444p10_176x144.y4m 176x144 -pix_fmt yuv444p10le -strict -1
cropped yd_420p_175x143.y4m 175x143 -pix_fmt yuv420p
cropped yd_422p_175x143.y4m 175x143 -pix_fmt yuv422p
for f in yd_420p_176x144.y4m yd_420p10_176x144.y4m yd_422p10_176x144.y4m yd_444p_176x144.y4m \
         yd_444p10_176x144.y4m yd_420p_175x143.y4m yd_422p_175x143.y4m; do
  y4mmd5 "$f"
done
# A Y4M file under a raw suffix.
if missing yd_y4m_named.yuv; then cp "$out/yd_420p_176x144.y4m" "$out/yd_y4m_named.yuv"; fi
