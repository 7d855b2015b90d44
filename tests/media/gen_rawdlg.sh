#!/usr/bin/env bash
# Raw clips described in the raw-parameters dialog: one clip per layout with ffmpeg's planar
# reading of the same bytes beside it (NAME.ref: yuv420p or yuv420p10le), and clips without a
# size in their names for the size guess.
set -euo pipefail
out="$1"
src() { # name, size, frames, then output options
  local name="$1" size="$2" frames="$3"; shift 3
  [ -s "$out/$name" ] || $FFMPEG -f lavfi -i "testsrc2=size=192x160:rate=25" -vf "scale=${size/x/:}" \
    -frames:v "$frames" "$@" -f rawvideo "$out/$name"
}
ref() { # name, size, its pix_fmt, planar pix_fmt, then filter options
  local name="$1" size="$2" fmt="$3" planar="$4"; shift 4
  [ -s "$out/$name.ref" ] || $FFMPEG -f rawvideo -pix_fmt "$fmt" -video_size "$size" -i "$out/$name" "$@" \
    -pix_fmt "$planar" -f rawvideo "$out/$name.ref"
}
for def in yuv420p:yuv420p yuv420p10le:yuv420p10le nv12:yuv420p nv21:yuv420p p010le:yuv420p10le; do
  IFS=: read -r fmt planar <<<"$def"
  src "rd_${fmt}.yuv" 176x144 3 -pix_fmt "$fmt"
  ref "rd_${fmt}.yuv" 176x144 "$fmt" "$planar"
done
# YV12: planar 4:2:0 with V before U.
src rd_yv12.yuv 176x144 3 -pix_fmt yuv420p -vf "scale=176:144,shuffleplanes=0:2:1"
ref rd_yv12.yuv 176x144 yuv420p yuv420p -vf shuffleplanes=0:2:1
src rd_odd.yuv 175x143 3 -pix_fmt yuv420p
ref rd_odd.yuv 175x143 yuv420p yuv420p
# Size guesses: 60 frames of 720p, CIF, QCIF, QCIF at 10 bits.
src rd_guess_a.yuv 1280x720 60 -pix_fmt yuv420p
src rd_guess_b.yuv 352x288 10 -pix_fmt yuv420p
src rd_guess_c.yuv 176x144 10 -pix_fmt yuv420p
src rd_guess_d.yuv 176x144 10 -pix_fmt yuv420p10le
