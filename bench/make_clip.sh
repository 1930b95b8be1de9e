#!/usr/bin/env bash
# Makes the benchmark's programme clip from the demo's spoken clips: all of them back to
# back, as one 44.1 kHz mono MP3 at 64 kbit/s (the shape of a spoken programme), a few
# minutes long so that no measured run reaches its end.
#
#   make_clip.sh OUTPUT.mp3 CLIP.mp3...
#
# Needs lame and sox.
set -euo pipefail
out=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

parts=()
n=0
for clip in "$@"; do
  part=$(printf '%s/%03d.wav' "$work" "$n")
  lame --quiet --decode "$clip" "$part"
  parts+=("$part")
  n=$((n + 1))
done
sox "${parts[@]}" -r 44100 -c 1 "$work/programme.wav"
lame --quiet -b 64 -m m "$work/programme.wav" "$work/programme.mp3"
mv "$work/programme.mp3" "$out"
