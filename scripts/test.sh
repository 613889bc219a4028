#!/usr/bin/env bash
# Builds everything and runs every test: the test build under Wine, the release build compiled.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --preset win32-release >/dev/null
cmake --build --preset win32-release

cmake --preset win64-test >/dev/null
cmake --build --preset win64-test

export WINEPREFIX="$PWD/build/win64/wineprefix"
source scripts/wine-env.sh
trap wine_prefix_down EXIT
wine_prefix_up
ctest --preset win64-test "$@"
