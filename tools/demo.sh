#!/usr/bin/env bash
# Sets up, builds, and runs Orvandel's scan on the bundled demo volume: the volume's geometry,
# then the deleted files it finds, with their folders, sizes and dates.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target orvandel-cli --parallel "$(nproc)"

image=build/demo.img
if [ ! -f "$image" ] || [ tests/fixtures/demo.img.xz -nt "$image" ]; then
    xz -dc tests/fixtures/demo.img.xz >"$image.part"
    mv "$image.part" "$image"
fi

cli=build/cli/orvandel-cli
echo "== The demo volume ($image)"
"$cli" info "$image"
echo
echo "== Deleted files (Normal scan)"
"$cli" scan "$image"
