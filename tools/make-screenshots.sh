#!/usr/bin/env bash
# Draws the screenshots that the software centre shows (the main window and the results window
# over the demo volume, in English) with the program's own window painter, tests/ui/screens, into
# resources/screenshots/. Rerun it whenever the windows change; `cmake --build build --target
# screenshots` runs it too. usage: tools/make-screenshots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-resources/screenshots}
screens=${ORV_SCREENS:-$build/tests/ui/screens}
if [ -z "${ORV_SCREENS:-}" ]; then
    cmake --build "$build" --target screens >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
xz -dc tests/fixtures/demo.img.xz >"$work/demo.img"
mkdir "$work/shots"
# A home and configuration of their own: the user's settings and drive map play no part.
HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen \
    "$screens" "$work/shots" 1 "$work/demo.img" >/dev/null 2>&1
mkdir -p "$out"
for pair in main-idle:main results:results; do
    shot="$work/shots/${pair%%:*}.png"
    if [ ! -s "$shot" ]; then
        echo "make-screenshots: the window painter drew no ${pair%%:*} window" >&2
        exit 1
    fi
    cp "$shot" "$out/${pair#*:}.png"
    echo "$out/${pair#*:}.png"
done
