#!/usr/bin/env bash
# Copies the $MFT off fixture volumes as a collection tool copies it off a live Windows volume (its
# $DATA, record 0's content, read with The Sleuth Kit's icat), into tests/fixtures/<image>.mft.xz:
# a source of records without a volume. ntfs-recycle has 1,024-byte records, ntfs-s4096 4,096-byte
# ones. usage: tools/make-mft-fixtures.sh [BUILD_DIR]  (the fixtures unpacked by ctest live there)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$repo/build}
command -v icat >/dev/null || { echo "make-mft-fixtures: icat is missing (run tools/setup.sh)" >&2; exit 1; }
for name in ntfs-recycle ntfs-s4096; do
    img=$build/fixtures/$name.img
    [ -f "$img" ] || xz -dc "$repo/tests/fixtures/$name.img.xz" >"$img"
    icat "$img" 0 | xz -9e -T1 >"$repo/tests/fixtures/$name.mft.xz"
    echo "make-mft-fixtures: wrote tests/fixtures/$name.mft.xz"
done
