#!/usr/bin/env bash
# Generates the test clips into the folder given as the first argument.
# Every media/gen_*.sh beside this script is run with that folder as its argument;
# each writes its clips only when they are missing, so a second run is quick.
set -euo pipefail
out="$1"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$out"
export FFMPEG="ffmpeg -nostdin -hide_banner -loglevel error -y"
for gen in "$here"/gen_*.sh; do
  [ -e "$gen" ] || continue
  bash "$gen" "$out"
done
