#!/usr/bin/env bash
# Helpers of the clip generators, sourced by each with the output folder as its argument:
#   source "$(dirname "$0")/gen_common.sh" "$1"
# Not a generator itself: make_media.sh runs every other gen_*.sh.
out="$1"

# True when a clip is not there yet (an empty file counts as missing).
missing() { [ ! -s "$out/$1" ]; }

# clip NAME ARGS...: ffmpeg with ARGS writes NAME into the output folder, unless it is there.
clip() {
  local name="$1"; shift
  missing "$name" || return 0
  $FFMPEG "$@" "$out/$name"
}
