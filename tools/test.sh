#!/usr/bin/env bash
# Sets up, builds and runs every test: the main build (tests, fuzz corpus replay, CLI contract,
# comparisons with The Sleuth Kit, the desktop program's windows without a display) and the core
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

jobs=$(nproc)
# Each phase's header says how long the run has taken so far, so a slow phase shows in the log.
phase() { echo "== $1 (at ${SECONDS} s)"; }

phase "House format (.clang-format)"
# Every tracked C++ file as clang-format writes it; a file that differs fails here, before the
# long builds. `git ls-files '*.cpp' '*.h' | xargs clang-format -i` mends them.
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

phase "Main build"
bash tools/build.sh build -DORV_BUILD_TESTS=ON -DORV_WERROR=ON -DORV_BUILD_GUI=ON
ctest --test-dir build --output-on-failure --parallel "$jobs"

phase "Debian package"
# Made from the main build's install rules and checked by lintian; on a CI machine (root, CI=true)
# it is also installed, run from the installed files and removed, so a broken install rule fails.
bash tools/package.sh build
if [ "$(id -u)" -eq 0 ] && [ "${CI:-}" = true ]; then
    bash tools/check-package.sh build/orvandel_*.deb
else
    echo "(installing the package is checked as root with CI=true only)"
fi

phase "Sanitizer build (address, undefined)"
bash tools/build.sh build-sanitize -DORV_BUILD_TESTS=ON -DORV_BUILD_GUI=ON -DORV_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
asan=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp"
ASAN_OPTIONS=$asan \
    ctest --test-dir build-sanitize --output-on-failure --parallel "$jobs" --label-regex 'core|fuzz|gui' \
    --exclude-regex 'ui_main_window_tests'
# The main window plays the scanning clip through Qt Multimedia; what its media stack keeps past
# exit is suppressed by library name, which only the slow unwinder finds in the stack.
ASAN_OPTIONS=$asan:fast_unwind_on_malloc=0 \
    ctest --test-dir build-sanitize --output-on-failure --tests-regex 'ui_main_window_tests'
phase "Done"
