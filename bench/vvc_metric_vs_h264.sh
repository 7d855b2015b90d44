#!/bin/bash
# Times a whole metric run (PSNR, SSIM and VMAF on Y, U and V, as the application measures) over a
# VVC stream against its raw reference, and over an H.264 encode of the same pictures at about the
# same bit rate, with the same thread count. With several runs, each pair is measured that many
# times, alternating, and the fastest run of each is given (on a loaded machine single runs scatter).
#   bench/vvc_metric_vs_h264.sh STREAM.bit [threads] [build dir] [runs]
set -euo pipefail
stream=$1
threads=${2:-8}
build=${3:-build}
runs=${4:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=$("$build/bench/decode_to_y4m" "$stream" "$work/ref.y4m" 2>/dev/null | awk '{print $1}')
bytes=$(stat -c %s "$stream")
kbps=$(( bytes * 8 * 25 / frames / 1000 ))
pixfmt=$(head -c 100 "$work/ref.y4m" | grep -q 'C420p10' && echo yuv420p10le || echo yuv420p)
ffmpeg -nostdin -hide_banner -loglevel error -y -i "$work/ref.y4m" -c:v libx264 -preset veryfast \
    -b:v "${kbps}k" -pix_fmt "$pixfmt" "$work/enc.h264"
echo "pictures: $frames, VVC stream ${kbps} kbit/s at 25 fps, H.264 at the same rate, $threads threads"
# Prints the fastest of the runs' lines ("N frames, T s, F fps").
fastest() { sort -t, -k3 -g -r | sed -n 1p; }
for ((i = 0; i < runs; ++i)); do
    "$build/bench/measure_pair" "$work/ref.y4m" "$stream" "$threads" 2>/dev/null >>"$work/vvc.txt" || true
    "$build/bench/measure_pair" "$work/ref.y4m" "$work/enc.h264" "$threads" 2>/dev/null >>"$work/h264.txt" || true
done
echo "VVC:   $(fastest <"$work/vvc.txt")"
echo "H.264: $(fastest <"$work/h264.txt")"
