#!/bin/sh
# Redraws everything under assets/ (button pictures, window icon, loading animation).
# Run once after changing make_assets.cpp; the output is committed, not built.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

g++ -std=c++20 -O1 -fPIC -Wall -Wextra -Werror "$here/make_assets.cpp" -o "$work/make_assets" \
  $(pkg-config --cflags --libs Qt6Gui)
mkdir -p "$root/assets/icons" "$work/frames"
QT_QPA_PLATFORM=offscreen "$work/make_assets" "$root/assets/icons" "$work/frames"

# 7 frames, 120 ms each, looping forever; transparent where no dot is.
convert -dispose background -delay 12 -loop 0 "$work"/frames/frame[0-6].png \
  -strip "$root/assets/loading.gif"
