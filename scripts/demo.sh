#!/usr/bin/env bash
# The demo: builds the test build, then drives the real tendril.exe under Wine with tendril-launch,
# as a launcher would: the handshake, a command that does nothing, one that ends a running
# program, the access grant, shortcuts created and removed again (with progress, and as JSON for
# scripts), the runtime update, and two refusals. After each run it prints Tendril's log.
#
# Runs on a fresh Debian 12 machine: scripts/setup.sh installs what is missing.
# TENDRIL_DEMO_BUILD_DIR=build/<dir> builds and runs in another build tree than the preset's.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

heading() { printf '\n==== %s ====\n' "$*"; }

heading "Setting up the Debian packages"
scripts/setup.sh
echo "all packages present"

heading "Building the test build (preset win64-test)"
# Only what the demo runs; scripts/test.sh builds and runs everything.
DEMO_TARGETS=(tendril tendril-launch e2e_sleeper e2e_update_package e2e_link_target)
if [ -n "${TENDRIL_DEMO_BUILD_DIR:-}" ]; then
  BUILD_DIR=$TENDRIL_DEMO_BUILD_DIR
  cmake --preset win64-test -B "$BUILD_DIR"
  cmake --build "$BUILD_DIR" --target "${DEMO_TARGETS[@]}"
else
  BUILD_DIR=build/win64
  cmake --preset win64-test
  cmake --build --preset win64-test --target "${DEMO_TARGETS[@]}"
fi

heading "Bringing up the Wine prefix"
export WINEPREFIX="$ROOT/$BUILD_DIR/wineprefix"
source scripts/wine-env.sh
OUTPUT=$(mktemp)
trap 'wine_prefix_down; rm -f "$OUTPUT"' EXIT
wine_prefix_up
echo "prefix: $WINEPREFIX (one wineserver kept running until the demo ends)"

# C:\TendrilDemo inside the prefix: tendril.exe, tendril-launch.exe beside it, and a program to end.
DEMO='C:\TendrilDemo'
DEMO_UNIX="$WINEPREFIX/drive_c/TendrilDemo"
rm -rf "$DEMO_UNIX"
mkdir -p "$DEMO_UNIX/Client/data"
cp "$BUILD_DIR/tendril.exe" "$BUILD_DIR/launcher/tool/tendril-launch.exe" "$DEMO_UNIX/"
cp "$BUILD_DIR/tests/e2e/e2e_sleeper.exe" "$DEMO_UNIX/sleeper.exe"
cp "$BUILD_DIR/tests/e2e/e2e_update_package.exe" "$DEMO_UNIX/update_package.exe"
cp "$BUILD_DIR/tests/e2e/e2e_link_target.exe" "$DEMO_UNIX/link-target.exe"
cp "$BUILD_DIR/tests/e2e/e2e_sleeper.exe" "$DEMO_UNIX/Client/client.exe"
echo "client file" >"$DEMO_UNIX/Client/data/settings.txt"
echo "copied tendril.exe, tendril-launch.exe, sleeper.exe, update_package.exe and link-target.exe to $DEMO"

# Runs tendril-launch under Wine and shows its output and exit status. Wine programs write into a
# file, never into a pipe that a background Wine service could inherit.
run_tool() {
  printf '$ tendril-launch %s\n' "$*"
  local status=0
  (cd "$DEMO_UNIX" && timeout 180 "$WINE64" "$DEMO\\tendril-launch.exe" "$@") \
    </dev/null >"$OUTPUT" 2>&1 || status=$?
  cat "$OUTPUT"
  echo "(tendril-launch exit status: $status)"
}

# The same, followed by the log of that run of Tendril.
launch() {
  rm -f "$DEMO_UNIX/tendril.exe.log"
  run_tool "$@"
  echo "--- $DEMO\\tendril.exe.log ---"
  if [ -f "$DEMO_UNIX/tendril.exe.log" ]; then
    sed 's/\r$//' "$DEMO_UNIX/tendril.exe.log"
  else
    echo "(no log: Tendril did not get that far)"
  fi
}

heading "tendril-launch --help"
run_tool --help

heading "Handshake and a command that does nothing: noop (6)"
launch noop

heading "Ending a running program: terminate (7)"
(cd "$DEMO_UNIX" && exec "$WINE64" "$DEMO\\sleeper.exe") </dev/null >/dev/null 2>&1 &
SLEEPER=$!
sleep 1
if kill -0 "$SLEEPER" 2>/dev/null; then
  echo "$DEMO\\sleeper.exe is running (Unix pid $SLEEPER); it would sleep for 120 s and exit with 3"
else
  echo "sleeper.exe did not start"
fi
launch terminate --argument "$DEMO\\sleeper.exe"
for _ in $(seq 50); do kill -0 "$SLEEPER" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$SLEEPER" 2>/dev/null; then
  echo "sleeper.exe is STILL RUNNING: it was not ended; stopping it now"
  kill "$SLEEPER" 2>/dev/null || true
fi
sleeper_status=0
wait "$SLEEPER" || sleeper_status=$?
echo "sleeper.exe is gone: exit code $sleeper_status (0: ended by Tendril's TerminateProcess)"

heading "Giving Users full control: grant-access (4)"
"$WINE64" reg add 'HKLM\SOFTWARE\TendrilDemo\Client' /v DisplayName /d 'Tendril demo client' /f \
  </dev/null >/dev/null 2>&1 || true
echo "folder $DEMO\\Client (with data\\settings.txt) and key HKLM\\SOFTWARE\\TendrilDemo\\Client"
launch grant-access --install-folder "$DEMO\\Client" --reg-path 'SOFTWARE\TendrilDemo\Client'

# The all-users Start menu and the demo's program group below its Programs folder.
START_MENU='C:\ProgramData\Microsoft\Windows\Start Menu'
GROUP="$START_MENU\\Programs\\Tendril Demo"
GROUP_UNIX="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tendril Demo"
list_shortcuts() {
  (cd "$DEMO_UNIX" && "$WINE64" "$DEMO\\link-target.exe" "$START_MENU" "$GROUP") \
    </dev/null >"$OUTPUT" 2>&1 || true
  sed 's/\r$//' "$OUTPUT"
  if [ -d "$GROUP_UNIX" ]; then
    echo "the group folder holds: $(cd "$GROUP_UNIX" && ls -A | tr '\n' ' ')"
  else
    echo "the group folder is gone"
  fi
}

heading "Shortcuts with progress messages: shortcuts (5) creates them"
# Command 5 acts only for a recorded installation: record the client folder in slot 1 of its
# install-directory records, as client installation would. Slot 1 numbers the shortcuts " (2)".
"$WINE64" reg add 'HKLM\SOFTWARE\TendrilDemo\Client\Install' /v Directory1 /d "$DEMO\\Client" /f \
  </dev/null >/dev/null 2>&1 || true
echo "recorded $DEMO\\Client as Directory1 in HKLM\\SOFTWARE\\TendrilDemo\\Client\\Install"
rm -rf "$GROUP_UNIX"
launch shortcuts --install-folder "$DEMO\\Client" --reg-path 'SOFTWARE\TendrilDemo\Client' \
  --long-name 'Tendril Demo' --icon-name Demo --start-menu-shortcuts --programs-shortcuts \
  --icon-shortcut --entry 'Demo=client.exe' --entry 'Demo Settings=data\settings.txt'
echo "--- the shortcuts and their stored targets ---"
list_shortcuts
if [ -f "$GROUP_UNIX/desktop.ini" ]; then
  echo "--- the group's desktop.ini (its folder icon) ---"
  sed 's/\r$//' "$GROUP_UNIX/desktop.ini"
fi

heading "The same command removes them, for scripts: --json"
launch shortcuts --install-folder "$DEMO\\Client" --reg-path 'SOFTWARE\TendrilDemo\Client' \
  --long-name 'Tendril Demo' --start-menu-shortcuts --programs-shortcuts \
  --delete-entry 'Demo=client.exe' --delete-entry 'Demo Settings=data\settings.txt' --json
echo "--- the shortcuts left ---"
list_shortcuts

heading "Installing the system runtime update: runtime-update (2)"
# Wine has no program for .msu files. For this section update_package.exe is registered as the
# one: a stand-in installer that runs for "sleep=" ms and exits with the "exit=" code written in
# the package, and leaves <package>.started and <package>.done beside it.
MSU_PROGID='TendrilDemo.UpdatePackage'
msu_unregister() {
  "$WINE64" reg delete 'HKLM\SOFTWARE\Classes\.msu' /f </dev/null >/dev/null 2>&1 || true
  "$WINE64" reg delete "HKLM\\SOFTWARE\\Classes\\$MSU_PROGID" /f </dev/null >/dev/null 2>&1 || true
}
trap 'msu_unregister; wine_prefix_down; rm -f "$OUTPUT"' EXIT
"$WINE64" reg add "HKLM\\SOFTWARE\\Classes\\$MSU_PROGID\\shell\\open\\command" /ve \
  /d "\"$DEMO\\update_package.exe\" \"%1\"" /f </dev/null >/dev/null 2>&1
"$WINE64" reg add 'HKLM\SOFTWARE\Classes\.msu' /ve /d "$MSU_PROGID" /f </dev/null >/dev/null 2>&1
"$WINE64" reg query "HKLM\\SOFTWARE\\Classes\\$MSU_PROGID\\shell\\open\\command" /ve \
  </dev/null >"$OUTPUT" 2>&1 || true
echo "registered .msu -> $MSU_PROGID, whose open command is:"
sed -n 's/\r$//; s/^ *(Default) *REG_SZ *//p' "$OUTPUT"
PACKAGE_UNIX="$DEMO_UNIX/KB2999226.msu"
package_state() {
  if [ -e "$PACKAGE_UNIX" ]; then echo "KB2999226.msu is still beside tendril.exe"
  else echo "KB2999226.msu is gone"; fi
}

printf 'exit=0\r\nsleep=500\r\n' >"$PACKAGE_UNIX"
echo "package: exit code 0 after 500 ms"
launch runtime-update
package_state

printf 'exit=3\r\n' >"$PACKAGE_UNIX"
echo "package: exit code 3"
launch runtime-update
package_state

echo "no package"
launch runtime-update

rm -f "$PACKAGE_UNIX".started "$PACKAGE_UNIX".done
printf 'exit=0\r\nsleep=3000\r\n' >"$PACKAGE_UNIX"
echo "package: runs for 3 s; Cancel is written right after the code, before Tendril waits"
launch runtime-update --cancel-after 0
package_state
for _ in $(seq 100); do [ -e "$PACKAGE_UNIX.done" ] && break; sleep 0.1; done
[ -e "$PACKAGE_UNIX.done" ] && echo "the update went on to its end on its own after Tendril had gone"
package_state
rm -f "$PACKAGE_UNIX" "$PACKAGE_UNIX".started "$PACKAGE_UNIX".done
msu_unregister
trap 'wine_prefix_down; rm -f "$OUTPUT"' EXIT
if "$WINE64" reg query 'HKLM\SOFTWARE\Classes\.msu' </dev/null >/dev/null 2>&1; then
  echo ".msu is STILL registered"
else
  echo ".msu is unregistered again"
fi

heading "Tendril without administrator rights: --start restricted"
launch noop --start restricted

heading "Text too long for its field is refused before anything starts"
launch noop --long-name "A long name of seventy characters, six more than its field holds......"

heading "Demo finished"
echo "stopping the wineserver"
