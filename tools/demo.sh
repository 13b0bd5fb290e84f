#!/usr/bin/env bash
# Sets up, builds, and shows Orvandel on the bundled demo volume. With a display, the desktop
# program starts with the demo volume as drive C:, so Find can be pressed at once; without one,
# orvandel-cli prints the volume's geometry and the deleted files it finds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target orvandel-cli orvandel --parallel "$(nproc)"

image=build/demo.img
if [ ! -f "$image" ] || [ tests/fixtures/demo.img.xz -nt "$image" ]; then
    xz -dc tests/fixtures/demo.img.xz >"$image.part"
    mv "$image.part" "$image"
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    # A configuration folder of the demo's own: its drive map names the demo volume, and the
    # user's own settings and drive map stay untouched.
    config=$(mktemp -d)
    trap 'rm -rf "$config"' EXIT
    mkdir -p "$config/Orvandel"
    echo "C: $PWD/$image" >"$config/Orvandel/drives"
    echo "== The desktop program, with the demo volume as drive C: (close its window to end)"
    status=0
    XDG_CONFIG_HOME="$config" build/shell/ui/orvandel || status=$?
    [ "$status" -eq 0 ] && exit 0
    echo "The desktop program could not start; the command-line scan follows."
fi

cli=build/cli/orvandel-cli
echo "== The demo volume ($image)"
"$cli" info "$image"
echo
echo "== Deleted files (Normal scan)"
"$cli" scan "$image"
