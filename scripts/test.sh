#!/usr/bin/env bash
# Builds everything and runs every test: both release builds compiled and packed
# (scripts/package.sh), the test build's tests under Wine, among them test_package, which checks
# both packages, and consumer_build_*/consumer_run_*, which build a C program against each package's
# CMake package and run it (the x86 one only where 32-bit Wine is installed; skipped otherwise).
# The 32-bit build is run for real only by scripts/test-win32.sh, which needs 32-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

scripts/package.sh

cmake --preset win64-test >/dev/null
cmake --build --preset win64-test

export WINEPREFIX="$PWD/build/win64/wineprefix"
source scripts/wine-env.sh
trap wine_prefix_down EXIT
wine_prefix_up
ctest --preset win64-test "$@"
