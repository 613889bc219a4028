#!/usr/bin/env bash
# The shipped 32-bit build, run for real: the release (i686) tendril.exe driven by the 32-bit
# tendril-launch.exe through all eight commands on one installation (6, 4, 1, 5, 7, 8, 3, then 2),
# in a prefix of its own (build/win32/wineprefix), and compared with what the 64-bit build writes
# for the same requests. Not part of scripts/test.sh: it needs 32-bit Wine, which the default
# set-up does not install. On a kernel that runs 32-bit programs the whole run takes under a
# minute; on a 64-bit-only kernel every 32-bit process runs under qemu-i386 emulation and takes
# one to several minutes to start, and the run about an hour (the first run also creates the
# prefix).
#
# What it checks:
#   - every command succeeds (6 exits normally, the others report error 0);
#   - the 32-bit build's registry writes land in the 32-bit view: below SOFTWARE\WOW6432Node as
#     seen from 64-bit code, and nothing of them below SOFTWARE in the 64-bit view;
#   - the Uninstall entries, the install-directory records, the shortcuts and the installation's
#     files after commands 1, 5, 8 and 3 are the same as the 64-bit build's after the same
#     requests (run first, with the 64-bit view, as the reference);
#   - command 7 of the 32-bit Tendril ends a running 64-bit program (a 32-bit process cannot list
#     the modules of a 64-bit one), and so does command 3 with the running 64-bit client;
#   - command 2 gives the update package beside it to the system folder's wusa.exe (here a 64-bit
#     stand-in installer, in System32 for the 64-bit Tendril and in SysWOW64, the system folder a
#     32-bit process sees, for the 32-bit one), waits for it and deletes the package.
# Everything each step printed, and the comparisons, are kept in build/win32/test-win32/.
#
#   scripts/test-win32.sh --suite   also builds every test as the release is built (i686,
#                                   MinSizeRel: the win32-test preset) and runs them all under
#                                   32-bit Wine, with the tests' own side 32-bit too (a few minutes
#                                   more on a kernel that runs 32-bit programs; hours under qemu)
#
# Needs root or sudo once: scripts/setup-win32.sh installs wine32:i386 and, on a kernel that runs
# no 32-bit program, qemu-user-static, registered with binfmt_misc (it explains each step).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
suite=false
for option in "$@"; do
  case $option in
    --suite) suite=true ;;
    *) echo "usage: scripts/test-win32.sh [--suite]" >&2; exit 2 ;;
  esac
done
RUN_STARTED=$(date +%s)

heading() { printf '\n==== %s ====\n' "$*"; }
elapsed() { echo $(($(date +%s) - $1)); }

heading "Setting up 32-bit Wine"
scripts/setup-win32.sh

heading "Building the release build (win32-release) and the 64-bit reference programs"
cmake --preset win32-release >/dev/null
cmake --build --preset win32-release --target tendril tendril-launch
cmake --preset win64-test >/dev/null
cmake --build --preset win64-test --target tendril tendril-launch e2e_sleeper e2e_link_target \
  e2e_update_package

export WINEPREFIX="$ROOT/build/win32/wineprefix"
source scripts/wine-env.sh
WINE32=/usr/lib/wine/wine
OUT="$ROOT/build/win32/test-win32"
rm -rf "$OUT"
mkdir -p "$OUT"
trap wine_prefix_down EXIT

heading "Bringing up the prefix $WINEPREFIX"
step_started=$(date +%s)
wine_prefix_up
echo "prefix up after $(elapsed "$step_started") s"

# C:\TendrilWin32: bin32 holds the shipped pair, bin64 the 64-bit pair and the helpers; Client is
# the installation that both builds register and uninstall in turn.
BASE='C:\TendrilWin32'
BASE_UNIX="$WINEPREFIX/drive_c/TendrilWin32"
CLIENT="$BASE\\Client"
CLIENT_UNIX="$BASE_UNIX/Client"
rm -rf "$BASE_UNIX"
mkdir -p "$BASE_UNIX/bin32" "$BASE_UNIX/bin64"
cp build/win32/tendril.exe build/win32/launcher/tool/tendril-launch.exe "$BASE_UNIX/bin32/"
cp build/win64/tendril.exe build/win64/launcher/tool/tendril-launch.exe "$BASE_UNIX/bin64/"
cp build/win64/tests/e2e/e2e_sleeper.exe "$BASE_UNIX/bin64/sleeper.exe"
cp build/win64/tests/e2e/e2e_link_target.exe "$BASE_UNIX/bin64/link-target.exe"
cp build/win64/tests/e2e/e2e_update_package.exe "$BASE_UNIX/bin64/update-package.exe"
command -v file >/dev/null && file "$BASE_UNIX"/bin32/*.exe "$BASE_UNIX"/bin64/tendril*.exe | sed "s|$BASE_UNIX/||"

make_client() {
  rm -rf "$CLIENT_UNIX" "$RENAMED_UNIX"
  mkdir -p "$CLIENT_UNIX/data"
  cp build/win64/tests/e2e/e2e_sleeper.exe "$CLIENT_UNIX/client.exe"  # a 64-bit client
  echo "client file" >"$CLIENT_UNIX/data/settings.txt"
}

# The installation before and after command 8 renames it: folder, long name (the Uninstall
# entry's and program group's name) and short name; the registry path stays, so the record is
# renamed in place.
RENAMED="$BASE\\Renamed"
RENAMED_UNIX="$BASE_UNIX/Renamed"
REG_PATH='SOFTWARE\TendrilWin32\Client'
LONG_NAME='Tendril Win32'
NEW_LONG_NAME='Tendril Renamed'
UNINSTALL='Microsoft\Windows\CurrentVersion\Uninstall'
START_MENU='C:\ProgramData\Microsoft\Windows\Start Menu'
SLEEPER="$BASE\\bin64\\sleeper.exe"
REQUEST=(--reg-path "$REG_PATH" --icon-name 'Win32 Client' --exe-name client.exe
         --shortcut-folder "$START_MENU")
FLAGS=(--start-menu-shortcuts --programs-shortcuts --icon-shortcut)
SHORTCUTS=("${FLAGS[@]}" --entry 'Win32 Client=client.exe' --entry 'Win32 Settings=data\settings.txt')
# Command 5: one shortcut goes, another comes.
APPLY=("${FLAGS[@]}" --delete-entry 'Win32 Settings=data\settings.txt'
       --entry 'Win32 Notes=data\settings.txt')
RENAME=(--install-folder "$CLIENT" --new-install-folder "$RENAMED" --short-name win32
        --long-name "$NEW_LONG_NAME" --old-long-name "$LONG_NAME" "${REQUEST[@]}"
        "${FLAGS[@]}" --entry 'Win32 Client=client.exe' --entry 'Win32 Notes=data\settings.txt')

wine64_quiet() { "$WINE64" "$@" </dev/null >/dev/null 2>&1 || true; }
remove_keys() {
  local view name
  for view in '' 'WOW6432Node\'; do
    wine64_quiet reg delete "HKLM\\SOFTWARE\\${view}TendrilWin32" /f
    for name in "$LONG_NAME" "$NEW_LONG_NAME"; do
      wine64_quiet reg delete "HKLM\\SOFTWARE\\${view}$UNINSTALL\\$name 0" /f
    done
  done
}

# What the installation left in one registry view (view: '' or 'WOW6432Node\'), the shortcuts
# and the installation's folders, under both names, with the view's name taken out so that both
# builds compare equal.
READER_FAILED="(the shortcut reader failed: exit status"
snapshot() {
  local view=$1 file=$2 tmp="$OUT/.query" key folder
  : >"$file"
  for key in TendrilWin32 "$UNINSTALL\\$LONG_NAME 0" "$UNINSTALL\\$NEW_LONG_NAME 0"; do
    echo "--- reg query HKLM\\SOFTWARE\\(view)$key /s" >>"$file"
    "$WINE64" reg query "HKLM\\SOFTWARE\\$view$key" /s </dev/null >"$tmp" 2>&1 || echo "(no such key)" >>"$file"
    sed 's/\r$//' "$tmp" | sed 's/\\WOW6432Node\\/\\/' | grep -v '^$' >>"$file" || true
  done
  echo "--- shortcuts" >>"$file"
  # A reader that failed leaves a line that fails the comparison, even when both builds' did.
  local status=0
  (cd "$BASE_UNIX/bin64" && "$WINE64" "$BASE\\bin64\\link-target.exe" "$START_MENU" \
     "$START_MENU\\Programs\\$LONG_NAME" "$START_MENU\\Programs\\$NEW_LONG_NAME") \
    </dev/null >"$tmp" 2>&1 || status=$?
  [ "$status" -eq 0 ] || echo "$READER_FAILED $status)" >>"$file"
  sed 's/\r$//' "$tmp" | grep -F -e "Win32" -e "Renamed" >>"$file" || true
  for folder in Client Renamed; do
    echo "--- files of $BASE\\$folder" >>"$file"
    if [ -d "$BASE_UNIX/$folder" ]; then
      (cd "$BASE_UNIX/$folder" && find . | sort) >>"$file"
    else
      echo "(none)" >>"$file"
    fi
  done
  rm -f "$tmp"
}

# Whether a key exists in the 64-bit view, as 64-bit code sees it.
key_exists() { "$WINE64" reg query "HKLM\\$1" </dev/null >/dev/null 2>&1; }

FAILURES=()
check() {  # check <description> <command...>: records a failure instead of stopping the run
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; FAILURES+=("$what"); fi
}
same_files() {
  if grep -H -F "$READER_FAILED" "$1" "$2"; then return 1; fi
  if diff -u "$1" "$2" >"$OUT/.diff"; then return 0; fi
  cat "$OUT/.diff"
  return 1
}

# run_launch <bits> <label> <tendril-launch arguments...>: runs that build's tendril-launch beside
# its tendril.exe, keeps its output in $OUT/<label>.out and its exit status in LAUNCH_STATUS.
TIMINGS=()
run_launch() {
  local bits=$1 label=$2 loader=$WINE64
  shift 2
  [ "$bits" = 32 ] && loader=$WINE32
  local started
  started=$(date +%s)
  LAUNCH_STATUS=0
  (cd "$BASE_UNIX/bin$bits" &&
    timeout 2400 "$loader" "$BASE\\bin$bits\\tendril-launch.exe" "$@" --json --timeout 2000000) \
    </dev/null >"$OUT/$label.out" 2>&1 || LAUNCH_STATUS=$?
  local took
  took=$(elapsed "$started")
  TIMINGS+=("$label: $took s")
  printf '$ tendril-launch %s\n' "$*"
  cat "$OUT/$label.out"
  [ -f "$BASE_UNIX/bin$bits/tendril.exe.log" ] &&
    sed 's/\r$//' "$BASE_UNIX/bin$bits/tendril.exe.log" >"$OUT/$label.log"
  echo "(exit status $LAUNCH_STATUS after $took s)"
}

# Starts a 64-bit program that sleeps for 40 minutes unless it is ended; its Unix pid in STARTED.
start_sleeper() {
  (cd "$BASE_UNIX/bin64" && exec "$WINE64" "$1" 2400000) </dev/null >/dev/null 2>&1 &
  STARTED=$!
  sleep 2
}
# Waits for it (it must already be ending) and tells whether it was ended with exit code 0.
ended_by_tendril() {
  local pid=$1 status=0
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "  still running: stopping it"
    kill "$pid" 2>/dev/null || true
  fi
  wait "$pid" || status=$?
  echo "  the 64-bit program exited with $status (0: ended by TerminateProcess; 3: slept through)"
  [ "$status" -eq 0 ]
}

# The system folder's wusa.exe is the stand-in installer in both system folders (the 32-bit
# Tendril's System32 is SysWOW64); it writes "<package>.done" before it exits. Wine runs its own
# built-in wusa.exe in place of any file of that name unless told to run the file as it is.
stand_in_installer() {  # stand_in_installer add|delete
  local folder
  for folder in system32 syswow64; do
    local wusa="$WINEPREFIX/drive_c/windows/$folder/wusa.exe"
    [ -d "$(dirname "$wusa")" ] || continue
    if [ "$1" = add ]; then
      [ -e "$wusa.tendril-win32-saved" ] || cp "$wusa" "$wusa.tendril-win32-saved"
      cp "$BASE_UNIX/bin64/update-package.exe" "$wusa"
    elif [ -e "$wusa.tendril-win32-saved" ]; then
      mv -f "$wusa.tendril-win32-saved" "$wusa"
    fi
  done
  if [ "$1" = add ]; then
    wine64_quiet reg add 'HKCU\Software\Wine\DllOverrides' /v wusa.exe /d native /f
  else
    wine64_quiet reg delete 'HKCU\Software\Wine\DllOverrides' /v wusa.exe /f
  fi
}
package_handled() {  # the package is gone and the installer ran to its end
  local package="$BASE_UNIX/bin$1/KB2999226.msu"
  [ ! -e "$package" ] && [ -e "$package.done" ]
}

# What the uninstall leaves (the shortcuts of entries that are not its main one) goes too, so
# that each build starts from nothing.
remove_shortcuts() {
  local menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu"
  rm -rf "$menu"/Win32*.lnk "$menu/Programs/$LONG_NAME" "$menu/Programs/$NEW_LONG_NAME"
}

# sequence <bits> <label prefix> <view>: the whole run with one build; every step is checked.
sequence() {
  local bits=$1 tag=$2 view=$3
  remove_keys
  remove_shortcuts
  make_client

  heading "$bits-bit: noop (6)"
  run_launch "$bits" "$tag-noop" noop
  check "$tag noop: Tendril connected and exited normally" [ "$LAUNCH_STATUS" -eq 0 ]

  heading "$bits-bit: grant-access (4)"
  run_launch "$bits" "$tag-grant-access" grant-access --install-folder "$CLIENT" --reg-path "$REG_PATH"
  check "$tag grant-access: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
  check "$tag grant-access: the key is in its view (SOFTWARE\\${view}TendrilWin32\\Client)" \
    key_exists "SOFTWARE\\${view}TendrilWin32\\Client"

  heading "$bits-bit: refresh (1)"
  run_launch "$bits" "$tag-refresh" refresh --install-folder "$CLIENT" --long-name "$LONG_NAME" \
    "${REQUEST[@]}" "${SHORTCUTS[@]}"
  check "$tag refresh: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
  check "$tag refresh: the Uninstall entry is in its view" \
    key_exists "SOFTWARE\\${view}$UNINSTALL\\$LONG_NAME 0"
  if [ -n "$view" ]; then
    check "$tag refresh: nothing in the 64-bit view (SOFTWARE\\TendrilWin32, the Uninstall entry)" \
      eval '! key_exists "SOFTWARE\\TendrilWin32" && ! key_exists "SOFTWARE\\$UNINSTALL\\$LONG_NAME 0"'
  fi
  snapshot "$view" "$OUT/$tag-after-refresh.txt"

  heading "$bits-bit: shortcuts (5)"
  run_launch "$bits" "$tag-shortcuts" shortcuts --install-folder "$CLIENT" --long-name "$LONG_NAME" \
    "${REQUEST[@]}" "${APPLY[@]}"
  check "$tag shortcuts: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
  snapshot "$view" "$OUT/$tag-after-shortcuts.txt"

  heading "$bits-bit: terminate (7) a running 64-bit program"
  start_sleeper "$SLEEPER"
  run_launch "$bits" "$tag-terminate" terminate --argument "$SLEEPER"
  check "$tag terminate: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
  check "$tag terminate: the 64-bit program was ended" ended_by_tendril "$STARTED"

  heading "$bits-bit: set-long-name (8)"
  run_launch "$bits" "$tag-set-long-name" set-long-name "${RENAME[@]}"
  check "$tag set-long-name: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
  snapshot "$view" "$OUT/$tag-after-set-long-name.txt"

  heading "$bits-bit: uninstall (3) while the 64-bit client runs"
  start_sleeper "$RENAMED\\client.exe"
  local client=$STARTED
  run_launch "$bits" "$tag-uninstall" uninstall --install-folder "$RENAMED" \
    --long-name "$NEW_LONG_NAME" "${REQUEST[@]}" --argument "$RENAMED\\client.exe"
  check "$tag uninstall: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
  check "$tag uninstall: the running 64-bit client was ended" ended_by_tendril "$client"
  snapshot "$view" "$OUT/$tag-after-uninstall.txt"

  heading "$bits-bit: runtime-update (2)"
  echo "exit=0" >"$BASE_UNIX/bin$bits/KB2999226.msu"
  run_launch "$bits" "$tag-runtime-update" runtime-update
  check "$tag runtime-update: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
  check "$tag runtime-update: the installer ran to its end and the package is gone" \
    package_handled "$bits"
}

stand_in_installer add
trap 'stand_in_installer delete; wine_prefix_down' EXIT

# --- the reference: the 64-bit build, 64-bit registry view -------------------------------------
heading "Reference: the 64-bit build"
sequence 64 ref ''

# --- the shipped build: everything again with the 32-bit pair ----------------------------------
SHIPPED_STARTED=$(date +%s)
sequence 32 shipped 'WOW6432Node\'
SHIPPED_TOOK=$(elapsed "$SHIPPED_STARTED")

heading "The shipped build against the reference"
check "the 32-bit build wrote nothing in the 64-bit view (no SOFTWARE\\TendrilWin32)" \
  eval '! key_exists "SOFTWARE\\TendrilWin32"'
for step in refresh shortcuts set-long-name uninstall; do
  check "after $step: Uninstall entries, records, shortcuts and files as the 64-bit build's" \
    same_files "$OUT/ref-after-$step.txt" "$OUT/shipped-after-$step.txt"
done

stand_in_installer delete
trap wine_prefix_down EXIT
remove_keys
remove_shortcuts
rm -rf "$BASE_UNIX"

SUITE_RESULT=""
if $suite; then
  heading "Every test, built as the release is, under 32-bit Wine (win32-test)"
  wine_prefix_down
  suite_started=$(date +%s)
  cmake --preset win32-test >/dev/null
  cmake --build --preset win32-test
  suite_status=0
  (
    export WINEPREFIX="$ROOT/build/win32-test/wineprefix"
    source scripts/wine-env.sh
    trap wine_prefix_down EXIT
    wine_prefix_up
    ctest --preset win32-test
  ) || suite_status=$?
  SUITE_RESULT="the 32-bit test suite took $(elapsed "$suite_started") s"
  check "every test of the win32-test build passed" [ "$suite_status" -eq 0 ]
fi

heading "Summary"
printf '%s\n' "${TIMINGS[@]}"
[ -n "$SUITE_RESULT" ] && echo "$SUITE_RESULT"
echo "the eight 32-bit commands took $SHIPPED_TOOK s; the whole run $(elapsed "$RUN_STARTED") s"
echo "outputs, logs and snapshots: $OUT"
if [ ${#FAILURES[@]} -gt 0 ]; then
  echo "${#FAILURES[@]} check(s) FAILED:"
  printf '  %s\n' "${FAILURES[@]}"
  exit 1
fi
echo "every check passed"
