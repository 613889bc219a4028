#!/usr/bin/env bash
# The demo: builds the test build, then drives the real tendril.exe under Wine with tendril-launch,
# as a launcher would. After the handshake it follows one client installation through its life:
# registered (refresh), its access granted again, its running client ended, renamed to a new
# folder, long name and registry path (set-long-name) after a shortcut was removed (shortcuts, as
# JSON for scripts), and uninstalled while its client runs, with a progress bar; after each step
# it shows the Uninstall entry, the install-directory records, the shortcuts and their targets,
# and the files. Then the runtime update, Tendril without administrator rights, and what the tool
# refuses. After each run it prints Tendril's log.
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

# C:\TendrilDemo inside the prefix: tendril.exe and tendril-launch.exe beside it, the helper
# programs of the demo, and below Apps the client installations.
DEMO='C:\TendrilDemo'
DEMO_UNIX="$WINEPREFIX/drive_c/TendrilDemo"
rm -rf "$DEMO_UNIX"
mkdir -p "$DEMO_UNIX/Apps"
cp "$BUILD_DIR/tendril.exe" "$BUILD_DIR/launcher/tool/tendril-launch.exe" "$DEMO_UNIX/"
cp "$BUILD_DIR/tests/e2e/e2e_sleeper.exe" "$DEMO_UNIX/sleeper.exe"
cp "$BUILD_DIR/tests/e2e/e2e_update_package.exe" "$DEMO_UNIX/update_package.exe"
cp "$BUILD_DIR/tests/e2e/e2e_link_target.exe" "$DEMO_UNIX/link-target.exe"
echo "copied tendril.exe, tendril-launch.exe, sleeper.exe, update_package.exe and link-target.exe to $DEMO"

# Runs tendril-launch under Wine and shows its output and exit status. Wine programs write into a
# file, never into a pipe that a background Wine service could inherit. The tool redraws its
# progress bar in place (a carriage return before each bar); here every bar gets a line of its own.
run_tool() {
  local argument
  printf '$ tendril-launch'
  # Quoted as a shell would need it, backslashes as typed.
  for argument in "$@"; do
    if [[ $argument =~ ^[A-Za-z0-9_./:=\\-]+$ ]]; then
      printf ' %s' "$argument"
    else
      printf " '%s'" "${argument//\'/\'\\\'\'}"
    fi
  done
  printf '\n'
  local status=0
  (cd "$DEMO_UNIX" && timeout 180 "$WINE64" "$DEMO\\tendril-launch.exe" "$@") \
    </dev/null >"$OUTPUT" 2>&1 || status=$?
  sed -e 's/\r$//' -e 's/^\r//' -e 's/\r/\n/g' "$OUTPUT"
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

# A Windows program's output, read from a file.
wine_run() {
  (cd "$DEMO_UNIX" && "$WINE64" "$@") </dev/null >"$OUTPUT" 2>&1 || true
  sed 's/\r$//' "$OUTPUT"
}

heading "tendril-launch --help"
run_tool --help

heading "Handshake and a command that does nothing: noop (6)"
launch noop

# --- The main scenario: one client installation from its first registration to its removal. ---
APPS="$DEMO\\Apps"
APPS_UNIX="$DEMO_UNIX/Apps"
START_MENU='C:\ProgramData\Microsoft\Windows\Start Menu'
PROGRAMS="$START_MENU\\Programs"
PROGRAMS_UNIX="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
UNINSTALL='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'

# The registry key, or that it is gone.
show_key() {
  if "$WINE64" reg query "$1" </dev/null >"$OUTPUT" 2>&1; then
    sed -e 's/\r$//' -e '/^$/d' "$OUTPUT"
  else
    echo "$1: no such key"
  fi
}
# The installation's files, or that the folder is gone.
show_folder() {
  if [ -d "$APPS_UNIX/$1" ]; then
    echo "$APPS\\$1 holds: $(cd "$APPS_UNIX/$1" && find . -mindepth 1 | sort |
      sed -e 's|^\./||' -e 's|/|\\|g' | tr '\n' ' ')"
  else
    echo "$APPS\\$1 is gone"
  fi
}
# The shortcuts in the all-users Start menu and the program groups named, with their stored targets.
show_shortcuts() {
  local folders=("$START_MENU") group
  for group in "$@"; do
    if [ -d "$PROGRAMS_UNIX/$group" ]; then
      folders+=("$PROGRAMS\\$group")
    else
      echo "the program group $PROGRAMS\\$group is gone"
    fi
  done
  wine_run "$DEMO\\link-target.exe" "${folders[@]}"
}
# The install-directory records of a registry path: the slots in use, then the empty ones.
show_records() {
  if ! "$WINE64" reg query "HKLM\\$1\\Install" </dev/null >"$OUTPUT" 2>&1; then
    echo "HKLM\\$1\\Install: no such key"
    return
  fi
  sed 's/\r$//' "$OUTPUT" | awk '
    /^HKEY/ { print; next }
    /REG_SZ/ {
      at = index($0, "    REG_SZ")
      name = substr($0, 5, at - 5)
      value = substr($0, at + 14)
      if (value == "") empty = empty " " name; else print "    " name " = " value
    }
    END { if (empty != "") print "    empty:" empty }'
}
# What registers an installation: $1 long name, $2 slot, $3 registry path.
show_registration() {
  echo "--- the Uninstall entry \"$1 $2\" ---"
  show_key "$UNINSTALL\\$1 $2"
  echo "--- the install-directory records of $3 ---"
  show_records "$3"
}

heading "A client to install"
CLIENT='Tendril Demo'
CLIENT_UNIX="$APPS_UNIX/$CLIENT"
mkdir -p "$CLIENT_UNIX/tools" "$CLIENT_UNIX/data"
cp "$BUILD_DIR/tests/e2e/e2e_sleeper.exe" "$CLIENT_UNIX/Launcher.exe"
cp "$BUILD_DIR/tests/e2e/e2e_sleeper.exe" "$CLIENT_UNIX/tools/editor.exe"
echo "client settings" >"$CLIENT_UNIX/data/settings.txt"
echo "read me" >"$CLIENT_UNIX/readme.txt"
# What the launcher's download left behind: a fresh installation starts without it.
echo "package list" >"$CLIENT_UNIX/addpkg.dat"
show_folder "$CLIENT"
echo "(Launcher.exe and tools\\editor.exe are copies of sleeper.exe: they sleep for 120 s)"

heading "Registering it: refresh (1), two entries and all three shortcut flags"
launch refresh --install-folder "$APPS\\$CLIENT" --exe-name Launcher.exe \
  --reg-path 'SOFTWARE\TendrilDemo' --long-name "$CLIENT" --icon-name Demo \
  --help-link 'https://example.com/help' --url-info-about 'https://example.com' \
  --url-update-info 'https://example.com/updates' --shortcut-folder "$START_MENU" \
  --start-menu-shortcuts --programs-shortcuts --icon-shortcut \
  --entry 'Demo=Launcher.exe' --entry 'Demo Editor=tools\editor.exe'
show_registration "$CLIENT" 0 'SOFTWARE\TendrilDemo'
echo "--- the shortcuts and their stored targets ---"
show_shortcuts "$CLIENT"
if [ -f "$PROGRAMS_UNIX/$CLIENT/desktop.ini" ]; then
  echo "--- the group's desktop.ini (its folder icon: the Demo entry's target) ---"
  sed 's/\r$//' "$PROGRAMS_UNIX/$CLIENT/desktop.ini"
fi
echo "--- the folder ---"
show_folder "$CLIENT"

heading "Giving Users full control again: grant-access (4)"
echo "the grant that refresh made, on its own: how a launcher repairs the access rights later"
launch grant-access --install-folder "$APPS\\$CLIENT" --reg-path 'SOFTWARE\TendrilDemo'

heading "The client is running: terminate (7) ends it before its folder moves"
# Started in its own folder, as a launcher starts it: a running program's current folder cannot
# be renamed.
(cd "$CLIENT_UNIX" && exec "$WINE64" "$APPS\\$CLIENT\\Launcher.exe") </dev/null >/dev/null 2>&1 &
CLIENT_PID=$!
# Waits until the client started in the background has ended, and says how.
wait_client() {
  for _ in $(seq 50); do kill -0 "$CLIENT_PID" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$CLIENT_PID" 2>/dev/null; then
    echo "Launcher.exe is STILL RUNNING: it was not ended; stopping it now"
    kill "$CLIENT_PID" 2>/dev/null || true
  fi
  local status=0
  wait "$CLIENT_PID" || status=$?
  echo "Launcher.exe is gone: exit code $status (0: ended by Tendril's TerminateProcess; 3: it ran to its end)"
}
sleep 1
kill -0 "$CLIENT_PID" 2>/dev/null && echo "$APPS\\$CLIENT\\Launcher.exe is running (Unix pid $CLIENT_PID)"
launch terminate --argument "$APPS\\$CLIENT\\Launcher.exe"
wait_client

heading "A shortcut removed, for scripts: shortcuts (5) with --json"
echo "The launcher drops the editor's shortcut from the program group (a delete entry). Tendril"
echo "deletes an existing shortcut only when it leads into the installation's folder."
launch shortcuts --install-folder "$APPS\\$CLIENT" --reg-path 'SOFTWARE\TendrilDemo' \
  --long-name "$CLIENT" --programs-shortcuts --delete-entry 'Demo Editor=tools\editor.exe' --json
echo "--- the shortcuts ---"
show_shortcuts "$CLIENT"

heading "Renaming it: set-long-name (8) to a new folder, a new long name and a new registry path"
RENAMED='Tendril Studio'
RENAMED_UNIX="$APPS_UNIX/$RENAMED"
echo "from 'tendril-launch set-long-name --help':"
(cd "$DEMO_UNIX" && "$WINE64" "$DEMO\\tendril-launch.exe" set-long-name --help) \
  </dev/null >"$OUTPUT" 2>&1 || true
sed -e 's/\r$//' -e '/^Rename:/,/^$/!d' "$OUTPUT"
launch set-long-name --install-folder "$APPS\\$CLIENT" --new-install-folder "$APPS\\$RENAMED" \
  --short-name studio --old-short-name demo \
  --long-name "$RENAMED" --old-long-name "$CLIENT" \
  --reg-path 'SOFTWARE\TendrilStudio' --old-reg-path 'SOFTWARE\TendrilDemo' \
  --icon-name Demo --exe-name Launcher.exe \
  --help-link 'https://example.com/help' --url-info-about 'https://example.com' \
  --url-update-info 'https://example.com/updates' --shortcut-folder "$START_MENU" \
  --start-menu-shortcuts --programs-shortcuts --icon-shortcut \
  --entry 'Demo=Launcher.exe' --entry 'Demo Editor=tools\editor.exe'
echo "(Under a new registry path the re-registration is a fresh one: after the rename's 10 to 90"
echo "it sends its own 10 to 95, so the bar may step back before it reaches 100.)"
show_registration "$CLIENT" 0 'SOFTWARE\TendrilDemo'
show_registration "$RENAMED" 0 'SOFTWARE\TendrilStudio'
echo "--- the shortcuts, in the old and the new group ---"
show_shortcuts "$CLIENT" "$RENAMED"
echo "--- the folders ---"
show_folder "$CLIENT"
show_folder "$RENAMED"

heading "Uninstalling it: uninstall (3), with the client running"
# The launcher's list of the applications it installed there: 652-byte records of a UTF-16 name
# (65 units) and a path (261 units), NUL-filled. The uninstall removes their shortcuts too.
applist_record() {
  printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE
  head -c $((130 - 2 * ${#1})) /dev/zero
  printf '%s' "$2" | iconv -f UTF-8 -t UTF-16LE
  head -c $((522 - 2 * ${#2})) /dev/zero
}
applist_record 'Demo Editor' 'tools\editor.exe' >"$RENAMED_UNIX/applist.dat"
echo "the launcher lists its application \"Demo Editor\" (tools\\editor.exe) in applist.dat"
# Enough files for the walks to take a moment, so that the progress bar moves.
mkdir -p "$RENAMED_UNIX/data/cache"
for i in $(seq -w 1 400); do echo "cached $i" >"$RENAMED_UNIX/data/cache/item$i.bin"; done
echo "the client has filled data\\cache with 400 files"
(cd "$RENAMED_UNIX" && exec "$WINE64" "$APPS\\$RENAMED\\Launcher.exe") </dev/null >/dev/null 2>&1 &
CLIENT_PID=$!
sleep 1
kill -0 "$CLIENT_PID" 2>/dev/null && echo "$APPS\\$RENAMED\\Launcher.exe is running (Unix pid $CLIENT_PID)"
launch uninstall --install-folder "$APPS\\$RENAMED" --exe-name Launcher.exe \
  --reg-path 'SOFTWARE\TendrilStudio' --long-name "$RENAMED" --icon-name Demo \
  --argument "$APPS\\$RENAMED\\Launcher.exe"
wait_client
show_registration "$RENAMED" 0 'SOFTWARE\TendrilStudio'
echo "--- the shortcuts ---"
show_shortcuts "$CLIENT" "$RENAMED"
echo "--- the folder ---"
show_folder "$RENAMED"

heading "Installing the system runtime update: runtime-update (2)"
# Tendril gives the package to the system folder's wusa.exe, by its full path; it never asks a
# file association for ".msu". First Wine's own wusa.exe, with a file that is no update package.
PACKAGE_UNIX="$DEMO_UNIX/KB2999226.msu"
package_state() {
  if [ -e "$PACKAGE_UNIX" ]; then echo "KB2999226.msu is still beside tendril.exe"
  else echo "KB2999226.msu is gone"; fi
}
printf 'not an update package\r\n' >"$PACKAGE_UNIX"
echo "package: a text file; Wine's wusa.exe refuses it with exit code 1"
launch runtime-update
package_state

# For the rest of this section update_package.exe stands in for wusa.exe: an installer that runs
# for "sleep=" ms and exits with the "exit=" code written in the package, and leaves
# <package>.started (the program that ran and its argument) and <package>.done beside it. Wine
# runs its own built-in wusa.exe in place of any file of that name unless told otherwise.
WUSA_UNIX="$WINEPREFIX/drive_c/windows/system32/wusa.exe"
WUSA_SAVED="$WUSA_UNIX.tendril-demo-saved"
wusa_restore() {
  if [ -e "$WUSA_SAVED" ]; then mv -f "$WUSA_SAVED" "$WUSA_UNIX"; fi
  "$WINE64" reg delete 'HKCU\Software\Wine\DllOverrides' /v wusa.exe /f </dev/null >/dev/null 2>&1 || true
}
trap 'wusa_restore; wine_prefix_down; rm -f "$OUTPUT"' EXIT
wusa_restore
cp "$WUSA_UNIX" "$WUSA_SAVED"
cp "$DEMO_UNIX/update_package.exe" "$WUSA_UNIX"
"$WINE64" reg add 'HKCU\Software\Wine\DllOverrides' /v wusa.exe /d native /f </dev/null >/dev/null 2>&1
echo "C:\\windows\\system32\\wusa.exe is update_package.exe for now"

printf 'exit=0\r\nsleep=500\r\n' >"$PACKAGE_UNIX"
echo "package: exit code 0 after 500 ms"
launch runtime-update
package_state
echo "the installer that ran, and its argument:"
sed 's/\r$//' "$PACKAGE_UNIX.started"; echo

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
wusa_restore
trap 'wine_prefix_down; rm -f "$OUTPUT"' EXIT
if cmp -s "$WUSA_UNIX" "$DEMO_UNIX/update_package.exe"; then
  echo "wusa.exe is STILL the stand-in"
else
  echo "wusa.exe is Wine's own again"
fi

heading "Tendril without administrator rights: --start restricted"
launch noop --start restricted

heading "What the tool refuses before anything starts"
run_tool noop --long-name "A long name of seventy characters, six more than its field holds......"
run_tool set-long-name --install-folder "$APPS\\$RENAMED" --old-long-name 'Tendril "Demo"'
run_tool set-long-name --install-folder "$APPS\\$RENAMED" --old-long-name "$CLIENT" \
  --argument '"C:\Apps\New" "" "Old" "SOFTWARE\Old" "Old"'

heading "Demo finished"
echo "stopping the wineserver"
