#!/usr/bin/env bash
# AV1 clips in IVF and low-overhead OBU framing, with the per-frame MD5s of ffmpeg's own decode.
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
aom="-c:v libaom-av1 -cpu-used 8 -row-mt 1 -threads 2 -g 10"
enc() { # name, size, frames, pix_fmt (the source is scaled, as testsrc2 makes even sizes only)
  clip "$1" -f lavfi -i "testsrc2=size=176x144:rate=25" -frames:v "$3" -vf "scale=$2" -pix_fmt "$4" $aom -f ivf
}
obu() { # ivf name, obu name: the same stream re-muxed
  clip "$2" -i "$out/$1" -c copy -f obu
}
md5() { # clip name: frame MD5s of the packed planes as ffmpeg decodes them with dav1d
  clip "$1.framemd5" -c:v libdav1d -i "$out/$1" -f framemd5
}
enc av1_420p.ivf 176:144 30 yuv420p
enc av1_420p10.ivf 99:51 30 yuv420p10le
enc av1_gray.ivf 65:49 5 gray
enc av1_444p.ivf 63:47 5 yuv444p
enc av1_422p10.ivf 65:48 3 yuv422p10le
enc av1_420p12.ivf 64:48 3 yuv420p12le
enc av1_small_420p.ivf 64:48 5 yuv420p
obu av1_420p.ivf av1_420p.obu
obu av1_420p10.ivf av1_420p10.obu
obu av1_small_420p.ivf av1_small_420p.obu
for c in av1_420p.ivf av1_420p10.ivf av1_gray.ivf av1_444p.ivf av1_422p10.ivf; do md5 "$c"; done
# Five 64x48 pictures, then the 176x144 stream: the size changes in the middle.
if missing av1_size_change.obu; then cat "$out/av1_small_420p.obu" "$out/av1_420p.obu" > "$out/av1_size_change.obu"; fi
