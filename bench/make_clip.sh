#!/usr/bin/env bash
# Makes the benchmark's programme clip from the demo's spoken clips: all of them back to
# back, as one 44.1 kHz mono MP3 at 64 kbit/s (the shape of a spoken programme), a few
# minutes long so that no measured run reaches its end. Beside it, for the memory measure,
# OUTPUT-long.mp3 (the programme fourteen times over, just over an hour, the size of a
# real programme) and OUTPUT-short.mp3 (its first 30 seconds).
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
# Without the tag that states the frame count, so copies joined end to end read as one
# stream of their whole length.
lame --quiet -t -b 64 -m m "$work/programme.wav" "$work/untagged.mp3"
for _ in $(seq 14); do cat "$work/untagged.mp3"; done > "$work/long.mp3"
sox "$work/programme.wav" "$work/short.wav" trim 0 30
lame --quiet -b 64 -m m "$work/short.wav" "$work/short.mp3"
mv "$work/long.mp3" "${out%.mp3}-long.mp3"
mv "$work/short.mp3" "${out%.mp3}-short.mp3"
mv "$work/programme.mp3" "$out"
