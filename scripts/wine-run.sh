#!/usr/bin/env bash
# Runs a Windows program of the test build under Wine: wine-run.sh <prefix> <program> [args...]
# This is the test build's CMAKE_CROSSCOMPILING_EMULATOR, so ctest runs every test through it.
set -euo pipefail
export WINEPREFIX="$1"; shift
source "$(dirname "$0")/wine-env.sh"
wine_prefix_up
exec "$WINE64" "$@"
