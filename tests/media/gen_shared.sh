#!/usr/bin/env bash
# Small raw and Y4M clips shared by several tests.
set -euo pipefail
source "$(dirname "$0")/gen_common.sh" "$1"
clip src_176x144_420p.y4m -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 10 -pix_fmt yuv420p
