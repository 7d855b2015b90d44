#!/usr/bin/env bash
# A long small pair for stopping a measurement mid-run, and a pair of another size for the
# mismatch check.
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
clip calc_300f_64x48_ref.y4m -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 300 -pix_fmt yuv420p
clip calc_300f_64x48_dis.y4m -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 300 \
  -vf noise=alls=20:allf=t+u:all_seed=7 -pix_fmt yuv420p
clip calc_5f_80x48.y4m -f lavfi -i testsrc2=size=80x48:rate=25 -frames:v 5 -pix_fmt yuv420p
clip calc_5f_64x48_444.y4m -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 5 -pix_fmt yuv444p
