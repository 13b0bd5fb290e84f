#!/usr/bin/env bash
# Configures and builds one build tree. usage: tools/build.sh DIR [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
launcher=()
if command -v ccache >/dev/null 2>&1; then
    # The cache lives outside the clone (ccache's own folder, or CCACHE_DIR), so a fresh clone on
    # the same machine compiles only what changed; paths are taken relative to the clone.
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=true
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
