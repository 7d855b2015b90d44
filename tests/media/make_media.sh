#!/usr/bin/env bash
# Generates the test clips into the folder given as the first argument: every gen_*.sh beside
# this script but gen_common.sh (the helpers they source) is run with a folder as its argument.
#
# A generator's clips are stamped (.stamps/NAME in the folder) with a hash of the generator, the
# helpers and the ffmpeg command line. While the stamp matches, the generator runs in place and
# makes only the clips that are missing, so a second run is quick. When it does not (the
# generator was edited, or it never ran here), all its clips are made again in a fresh folder and
# moved in, and clips it made before but no longer makes are removed. A generator that fails
# leaves no stamp, so the next run starts it afresh.
set -euo pipefail
out="$1"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$out/.stamps"
export FFMPEG="ffmpeg -nostdin -hide_banner -loglevel error -y"
for gen in "$here"/gen_*.sh; do
  [ -e "$gen" ] || continue
  name="$(basename "$gen" .sh)"
  [ "$name" != gen_common ] || continue
  stamp="$out/.stamps/$name"
  hash="$({ cat "$gen" "$here/gen_common.sh"; echo "$FFMPEG"; } | sha256sum | cut -d' ' -f1)"
  if [ -s "$stamp" ] && [ "$(head -n 1 "$stamp")" = "$hash" ]; then
    bash "$gen" "$out"
    continue
  fi
  fresh="$out/.fresh.$name"
  rm -rf "$fresh"
  mkdir "$fresh"
  bash "$gen" "$fresh"
  made="$(cd "$fresh" && find . -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort)"
  if [ -s "$stamp" ]; then
    tail -n +2 "$stamp" | while IFS= read -r old; do
      [ -n "$old" ] && [ ! -e "$fresh/$old" ] && rm -f "$out/$old" || true
    done
  fi
  find "$fresh" -maxdepth 1 -type f -exec mv -f -t "$out" {} +
  rm -rf "$fresh"
  printf '%s\n%s\n' "$hash" "$made" > "$stamp.tmp"
  mv -f "$stamp.tmp" "$stamp"
done
