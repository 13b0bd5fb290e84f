#!/usr/bin/env bash
# Sets up, builds, and shows what Orvandel reads from the bundled demo volume.
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
echo "== A deleted photo's record (107)"
"$cli" record "$image" 107
