#!/usr/bin/env bash
# Elementary streams for the FFmpeg decoder tests: 30 frames each, with the per-frame md5 of
# ffmpeg's own decoding beside every stream that must decode (NAME.framemd5).
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
src=(-f lavfi -i testsrc2=size=200x120:rate=25)
md5() { # decoded reference of a stream
  clip "$1.framemd5" -i "$out/$1" -fps_mode passthrough -f framemd5
}
# 200x120 is not a multiple of 16: the decoders crop the coded picture.
x264=(-c:v libx264 -x264-params bframes=3:b-pyramid=normal:ref=4:log-level=error -f h264)
x265=(-c:v libx265 -x265-params bframes=4:b-pyramid=1:log-level=error -f hevc)
clip ff_avc8.h264    "${src[@]}" -frames:v 30 -pix_fmt yuv420p "${x264[@]}"
clip ff_avc10.264    "${src[@]}" -frames:v 30 -pix_fmt yuv420p10le "${x264[@]}"
clip ff_hevc8.h265   "${src[@]}" -frames:v 30 -pix_fmt yuv420p "${x265[@]}"
clip ff_hevc10.hevc  "${src[@]}" -frames:v 30 -pix_fmt yuv420p10le "${x265[@]}"
clip ff_hevc12.h265  "${src[@]}" -frames:v 30 -pix_fmt yuv420p12le "${x265[@]}"
clip ff_mjpeg420.mjpeg "${src[@]}" -frames:v 30 -pix_fmt yuvj420p -c:v mjpeg -q:v 4 -f mjpeg
clip ff_mjpeg422.mjpeg "${src[@]}" -frames:v 30 -pix_fmt yuvj422p -c:v mjpeg -q:v 4 -f mjpeg
clip ff_mjpeg444.mjpeg "${src[@]}" -frames:v 30 -pix_fmt yuvj444p -c:v mjpeg -q:v 4 -f mjpeg
for f in ff_avc8.h264 ff_avc10.264 ff_hevc8.h265 ff_hevc10.hevc ff_mjpeg420.mjpeg; do md5 "$f"; done

# HEVC under an H.264 suffix.
if missing ff_hevc_named_avc.h264; then cp "$out/ff_hevc8.h265" "$out/ff_hevc_named_avc.h264"; fi

# Damaged input.
if missing ff_avc_cut.h264; then
  size=$(stat -c %s "$out/ff_avc8.h264")
  head -c $((size * 60 / 100)) "$out/ff_avc8.h264" > "$out/ff_avc_cut.h264"
fi
if missing ff_avc_zeroed.h264; then
  size=$(stat -c %s "$out/ff_avc8.h264")
  cp "$out/ff_avc8.h264" "$out/ff_avc_zeroed.h264.tmp"
  dd if=/dev/zero of="$out/ff_avc_zeroed.h264.tmp" bs=1 seek=$((size / 2)) count=64 conv=notrunc status=none
  mv "$out/ff_avc_zeroed.h264.tmp" "$out/ff_avc_zeroed.h264"
fi
# Seeded white noise as bytes: the same "random" file on every run.
clip ff_random.h264 -f lavfi -i anoisesrc=d=1:r=48000:seed=7:a=1 -ac 1 -f u8
[ -e "$out/ff_empty.h264" ] || : > "$out/ff_empty.h264"
# Two streams of different sizes, one after the other.
if missing ff_size_change.h264; then
  $FFMPEG -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 10 -pix_fmt yuv420p "${x264[@]}" "$out/ff_part1.tmp"
  $FFMPEG -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 10 -pix_fmt yuv420p "${x264[@]}" "$out/ff_part2.tmp"
  cat "$out/ff_part1.tmp" "$out/ff_part2.tmp" > "$out/ff_size_change.h264"
  rm -f "$out/ff_part1.tmp" "$out/ff_part2.tmp"
fi
# For the decoding benchmark.
clip ff_avc_1280x720.h264 -f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v 100 -pix_fmt yuv420p "${x264[@]}"
