#!/usr/bin/env bash
# The reference clips of the VMAF golden values (tests/data/vmaf/golden) and the 1280x720 pair the
# metric benchmarks measure. lavfi sources, the noise filter with fixed seeds, bit-exact swscale and
# libx264 with one thread are deterministic, so every clip is checked against its known MD5: another
# ffmpeg or x264 build that makes different clips fails here instead of moving the golden values.
set -euo pipefail
out="$1"
FF="${FFMPEG:-ffmpeg -nostdin -hide_banner -loglevel error -y} -sws_flags bitexact+accurate_rnd"
cd "$out"

# Encodes $1 with libx264 at CRF $2 as pixel format $3 and decodes it back into $4;
# $5 is an optional filter before encoding, $6 one after decoding.
x264rt() {
  [ -s "$4" ] && return 0
  $FF -i "$1" ${5:+-vf "$5"} -c:v libx264 -preset medium -crf "$2" -threads 1 -pix_fmt "$3" -f h264 "$4.264"
  $FF -threads 1 -i "$4.264" ${6:+-vf "$6"} -pix_fmt "$3" -strict -1 -f yuv4mpegpipe "$4.tmp"
  mv "$4.tmp" "$4"
  rm -f "$4.264"
}
# Writes a source clip $1 from the lavfi graph $2 with $3 frames as pixel format $4 ($5: extra filters).
source_clip() {
  [ -s "$1" ] && return 0
  $FF -f lavfi -i "$2" -frames:v "$3" ${5:+-vf "$5"} -pix_fmt "$4" -strict -1 -f yuv4mpegpipe "$1.tmp"
  mv "$1.tmp" "$1"
}

source_clip A_176x144_420p_ref.y4m testsrc2=s=176x144:r=25 10 yuv420p
x264rt A_176x144_420p_ref.y4m 23 yuv420p A_176x144_420p_crf23.y4m
x264rt A_176x144_420p_ref.y4m 40 yuv420p A_176x144_420p_crf40.y4m
# Odd size: x264 needs an even one, so the picture is padded for encoding and cropped back.
source_clip B_177x99_420p_ref.y4m mandelbrot=s=177x99:r=25 5 yuv420p
x264rt B_177x99_420p_ref.y4m 30 yuv420p B_177x99_420p_crf30.y4m pad=178:100:0:0 crop=177:99:0:0:exact=1
# 10 bits with genuine low bits: 8-bit noise, then a 10-bit box blur.
source_clip C_352x288_420p10_ref.y4m testsrc2=s=352x288:r=25 5 yuv420p10le \
  noise=alls=10:allf=t:all_seed=7,format=yuv420p10le,boxblur=1:1
x264rt C_352x288_420p10_ref.y4m 30 yuv420p10le C_352x288_420p10_crf30.y4m
source_clip D_160x120_444p_ref.y4m smptehdbars=s=160x120:r=25 4 yuv444p format=yuv444p,noise=alls=12:allf=t:all_seed=11
x264rt D_160x120_444p_ref.y4m 28 yuv444p D_160x120_444p_crf28.y4m
source_clip E_160x90_422p_ref.y4m mandelbrot=s=160x90:r=25 4 yuv422p
x264rt E_160x90_422p_ref.y4m 30 yuv422p E_160x90_422p_crf30.y4m
source_clip F_128x72_420p_1f_ref.y4m smptehdbars=s=128x72:r=25 1 yuv420p format=yuv420p,noise=alls=20:all_seed=3
x264rt F_128x72_420p_1f_ref.y4m 35 yuv420p F_128x72_420p_1f_crf35.y4m
# testsrc2 drawn straight into YUV rounds odd sizes down, so it is drawn as RGB.
source_clip G_481x385_420p_ref.y4m testsrc2=s=481x385:r=25,format=rgb24 2 yuv420p
x264rt G_481x385_420p_ref.y4m 30 yuv420p G_481x385_420p_crf30.y4m pad=482:386:0:0 crop=481:385:0:0:exact=1
source_clip T_1280x720_420p_ref.y4m testsrc2=s=1280x720:r=25 30 yuv420p
x264rt T_1280x720_420p_ref.y4m 30 yuv420p T_1280x720_420p_crf30.y4m

failed=0
while read -r want name; do
  got=$(md5sum "$name" | cut -d' ' -f1)
  if [ "$got" != "$want" ]; then
    echo "VMAF reference clip $name: expected MD5 $want, found $got (another ffmpeg or libx264 build?)" >&2
    rm -f "$name"
    failed=1
  fi
done <<'SUMS'
0bbc40f19fb4440c9d42a60482461f26 A_176x144_420p_crf23.y4m
d3d38438a03b7ea8cbafd20e7b836913 A_176x144_420p_crf40.y4m
1be7b0359035ac3d2e2edf3c175c7711 A_176x144_420p_ref.y4m
816da563aff9a092d6da65988a2e38da B_177x99_420p_crf30.y4m
0ed4bd553eac1c321d0c2a913aea8e81 B_177x99_420p_ref.y4m
54c957b258e9b9d7a6b090daf91a6664 C_352x288_420p10_crf30.y4m
372bc062d75f838e581bcc6a01a5ef55 C_352x288_420p10_ref.y4m
71ce6e88144d69e91d6413ad0b8531de D_160x120_444p_crf28.y4m
c7becb842006de1c6cede1020c5f3e45 D_160x120_444p_ref.y4m
4ad13937ab08b7e0e5fb67ddf6f1ce7a E_160x90_422p_crf30.y4m
7f320af48340d762a2de500b525a0bb9 E_160x90_422p_ref.y4m
5c4ed58565176c7242bf84908f3e52ee F_128x72_420p_1f_crf35.y4m
f2941fe7843a1a7c6894e0f0fb7652ca F_128x72_420p_1f_ref.y4m
ee3fcf7ac28a58d2c29ad5294102331f G_481x385_420p_crf30.y4m
506ade2019da12b146b8ece07f6019e8 G_481x385_420p_ref.y4m
cdf9a5b4e5c2f67cbd60559adbdf77ae T_1280x720_420p_crf30.y4m
260cd7b05347c2bb91782a18ff57cf3d T_1280x720_420p_ref.y4m
SUMS
exit "$failed"
