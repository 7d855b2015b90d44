#!/bin/bash
# Runs the VVC conformance check over a folder of bitstreams:
#   bench/vvc_conformance.sh <streams folder> [md5 list] [build folder = build]
# Prints one line per stream and a summary (see bench/vvc_conformance.cpp).
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 <streams folder> [md5 list] [build folder]" >&2
  exit 2
fi
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${3:-$here/build}"
tool="$build/bench/vvc_conformance"
if [ ! -x "$tool" ]; then
  cmake --build "$build" --target vvc_conformance >&2
fi
if [ -n "${2:-}" ]; then
  exec "$tool" "$1" "$2"
else
  exec "$tool" "$1"
fi
