#!/usr/bin/env bash
# Builds the release (i686, 32-bit) build and packs it: build/win32/tendril-<version>-win32.zip
# with tendril.exe, tendril-launch.exe, the protocol and launcher headers, the launcher library
# and docs/integrating.md. CPack's ZIP generator writes the archive itself (through the libarchive
# that cmake links): no zip program is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset win32-release >/dev/null
cmake --build --preset win32-release
cpack --preset win32-release
