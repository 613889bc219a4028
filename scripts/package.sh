#!/usr/bin/env bash
# Builds both release builds and packs them:
#   build/win32/tendril-<version>-win32.zip          (win32-release, i686)
#   build/win64-release/tendril-<version>-win64.zip  (win64-release, x86_64)
# each with tendril.exe (the 32-bit one, which ships, in both), tendril-launch.exe and
# tendril_launcher.dll of its architecture with the DLL's import library, the headers, the CMake
# package of the launcher library, docs/integrating.md and the third-party notices, copied from the
# Debian packages installed here. The x86 build comes first: the x64 package takes its tendril.exe.
# CPack's ZIP generator writes the archives itself (through the libarchive that cmake links): no
# zip program is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset win32-release >/dev/null
cmake --build --preset win32-release
cpack --preset win32-release
cmake --preset win64-release >/dev/null
cmake --build --preset win64-release
cpack --preset win64-release
