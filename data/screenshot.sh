#!/usr/bin/env bash
# Makes data/screenshot.png, the AppStream record's screenshot, from the real window on a
# virtual display: the bundled sample picture with a selection and the context menu open,
# cropped to the window and reduced to 256 colours.
#   data/screenshot.sh [BUILD]     (default build; nolvi2 must be built there)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

scripts/install-deps.sh display

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Settings of its own, already placed in the key store, so that no first-start question shows.
mkdir -p "$work/config/Tamberlo/nolvi2" "$work/runtime"
chmod 700 "$work/runtime"
# The window opens at (128, 128) with the picture at 100 %, 640 × 480.
XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" \
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    "$1" samples/sample.jpg & viewer=$!
    sleep 4
    xdotool mousemove 180 190 mousedown 1
    for p in "300 300" "420 400"; do sleep 0.3; xdotool mousemove $p; done
    sleep 0.3; xdotool mouseup 1
    sleep 1; xdotool mousemove 470 170 click 3
    sleep 1.5
    import -window root -crop 640x480+128+128 +repage "$2"
    kill $viewer' _ "$build/nolvi2" "$work/shot.png"
convert "$work/shot.png" -strip -dither FloydSteinberg -colors 256 -define png:compression-level=9 \
  data/screenshot.png
echo "data/screenshot.png"
