#!/usr/bin/env bash
# Builds the Debian package orvandel_<version>_amd64.deb with CPack from the install rules, and
# checks it with lintian (errors fail; warnings are printed). usage: tools/package.sh [BUILD_DIR]
# Without BUILD_DIR a release tree of its own (build-package, without the tests) is made; CI hands
# it the tree it has built already. The package lands in BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

dir=${1:-build-package}
if [ -f "$dir/CMakeCache.txt" ]; then
    bash tools/build.sh "$dir" -DORV_BUILD_GUI=ON -DORV_MAN_PAGES=ON
else
    bash tools/build.sh "$dir" -DORV_BUILD_GUI=ON -DORV_MAN_PAGES=ON -DORV_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
fi

rm -f "$dir"/orvandel_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/orvandel_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends

lintian --fail-on error --tag-display-limit 0 "$deb"
echo "lintian: no errors"
