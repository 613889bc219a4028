#!/usr/bin/env bash
# The shipped 32-bit build, run for real: the release (i686) tendril.exe driven by the 32-bit
# tendril-launch.exe through commands 6, 4, 1, 7 and 3 on one installation, in a prefix of its
# own (build/win32/wineprefix), and compared with what the 64-bit build writes for the same
# requests. Not part of scripts/test.sh: it needs 32-bit Wine, which the default set-up does not
# install. On a kernel that runs 32-bit programs the whole run takes about half a minute; on a
# 64-bit-only kernel every 32-bit process runs under qemu-i386 emulation and takes one to several
# minutes to start, and the run about half an hour (the first run also creates the prefix).
#
# What it checks:
#   - every command succeeds (6 exits normally, 4, 1, 7 and 3 report error 0);
#   - the 32-bit build's registry writes land in the 32-bit view: below SOFTWARE\WOW6432Node as
#     seen from 64-bit code, and nothing of them below SOFTWARE in the 64-bit view;
#   - the Uninstall entry, the install-directory records and the shortcuts after command 1, and
#     what is left of them after command 3, are the same as the 64-bit build's for the same
#     requests (run first, with the 64-bit view, as the reference);
#   - command 7 of the 32-bit Tendril ends a running 64-bit program (a 32-bit process cannot list
#     the modules of a 64-bit one), and so does command 3 with the running 64-bit client.
# Everything each step printed, and the comparisons, are kept in build/win32/test-win32/.
#
# Needs root or sudo once: scripts/setup-win32.sh installs wine32:i386 and qemu-user-static and
# registers qemu-i386-static with binfmt_misc (it explains each step).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
RUN_STARTED=$(date +%s)

heading() { printf '\n==== %s ====\n' "$*"; }
elapsed() { echo $(($(date +%s) - $1)); }

heading "Setting up 32-bit Wine"
scripts/setup-win32.sh

heading "Building the release build (win32-release) and the 64-bit reference programs"
cmake --preset win32-release >/dev/null
cmake --build --preset win32-release --target tendril tendril-launch
cmake --preset win64-test >/dev/null
cmake --build --preset win64-test --target tendril tendril-launch e2e_sleeper e2e_link_target

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
command -v file >/dev/null && file "$BASE_UNIX"/bin32/*.exe "$BASE_UNIX"/bin64/tendril*.exe | sed "s|$BASE_UNIX/||"

make_client() {
  rm -rf "$CLIENT_UNIX"
  mkdir -p "$CLIENT_UNIX/data"
  cp build/win64/tests/e2e/e2e_sleeper.exe "$CLIENT_UNIX/client.exe"  # a 64-bit client
  echo "client file" >"$CLIENT_UNIX/data/settings.txt"
}

REG_PATH='SOFTWARE\TendrilWin32\Client'
LONG_NAME='Tendril Win32'
UNINSTALL_KEY="Microsoft\\Windows\\CurrentVersion\\Uninstall\\$LONG_NAME 0"
START_MENU='C:\ProgramData\Microsoft\Windows\Start Menu'
GROUP="$START_MENU\\Programs\\$LONG_NAME"
SLEEPER="$BASE\\bin64\\sleeper.exe"
REQUEST=(--install-folder "$CLIENT" --reg-path "$REG_PATH" --long-name "$LONG_NAME"
         --icon-name 'Win32 Client' --exe-name client.exe --shortcut-folder "$START_MENU")
SHORTCUTS=(--start-menu-shortcuts --programs-shortcuts --icon-shortcut
           --entry 'Win32 Client=client.exe' --entry 'Win32 Settings=data\settings.txt')

wine64_quiet() { "$WINE64" "$@" </dev/null >/dev/null 2>&1 || true; }
remove_keys() {
  for view in '' 'WOW6432Node\'; do
    wine64_quiet reg delete "HKLM\\SOFTWARE\\${view}TendrilWin32" /f
    wine64_quiet reg delete "HKLM\\SOFTWARE\\${view}$UNINSTALL_KEY" /f
  done
}

# What an installation left in one registry view (view: '' or 'WOW6432Node\'), the shortcuts
# and the client folder, with the view's name taken out so that both builds compare equal.
snapshot() {
  local view=$1 file=$2 tmp="$OUT/.query"
  : >"$file"
  for key in TendrilWin32 "$UNINSTALL_KEY"; do
    echo "--- reg query HKLM\\SOFTWARE\\(view)$key /s" >>"$file"
    "$WINE64" reg query "HKLM\\SOFTWARE\\$view$key" /s </dev/null >"$tmp" 2>&1 || echo "(no such key)" >>"$file"
    sed 's/\r$//' "$tmp" | sed 's/\\WOW6432Node\\/\\/' | grep -v '^$' >>"$file" || true
  done
  echo "--- shortcuts" >>"$file"
  (cd "$BASE_UNIX/bin64" && "$WINE64" "$BASE\\bin64\\link-target.exe" "$START_MENU" "$GROUP") \
    </dev/null >"$tmp" 2>&1 || true
  sed 's/\r$//' "$tmp" | grep -F "Win32" >>"$file" || true
  echo "--- files of $CLIENT" >>"$file"
  if [ -d "$CLIENT_UNIX" ]; then (cd "$CLIENT_UNIX" && find . | sort) >>"$file"; else echo "(gone)" >>"$file"; fi
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
    timeout 2400 "$loader" "$BASE\\bin$bits\\tendril-launch.exe" "$@" --timeout 2000000) \
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

# --- the reference: the 64-bit build, 64-bit registry view -------------------------------------
heading "Reference: the 64-bit build runs commands 4, 1, 7 and 3"
remove_keys
make_client
run_launch 64 ref-grant-access grant-access --install-folder "$CLIENT" --reg-path "$REG_PATH"
run_launch 64 ref-refresh refresh "${REQUEST[@]}" "${SHORTCUTS[@]}"
snapshot '' "$OUT/reference-after-refresh.txt"
start_sleeper "$SLEEPER"
run_launch 64 ref-terminate terminate --argument "$SLEEPER"
ended_by_tendril "$STARTED" || true
start_sleeper "$CLIENT\\client.exe"
CLIENT_PID=$STARTED
run_launch 64 ref-uninstall uninstall "${REQUEST[@]}" --argument "$CLIENT\\client.exe"
ended_by_tendril "$CLIENT_PID" || true
snapshot '' "$OUT/reference-after-uninstall.txt"
echo "--- what the 64-bit build leaves after command 1 ---"
cat "$OUT/reference-after-refresh.txt"

# --- the shipped build: everything again with the 32-bit pair ----------------------------------
remove_keys
make_client
SHIPPED_STARTED=$(date +%s)

heading "32-bit: noop (6)"
run_launch 32 noop noop --json
check "noop: Tendril connected and exited normally" [ "$LAUNCH_STATUS" -eq 0 ]

heading "32-bit: grant-access (4)"
run_launch 32 grant-access grant-access --install-folder "$CLIENT" --reg-path "$REG_PATH" --json
check "grant-access: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
check "grant-access: the key is in the 32-bit view (SOFTWARE\\WOW6432Node\\TendrilWin32\\Client)" \
  key_exists "SOFTWARE\\WOW6432Node\\TendrilWin32\\Client"
check "grant-access: nothing in the 64-bit view (SOFTWARE\\TendrilWin32)" \
  eval '! key_exists "SOFTWARE\\TendrilWin32"'

heading "32-bit: refresh (1)"
run_launch 32 refresh refresh "${REQUEST[@]}" "${SHORTCUTS[@]}" --json
check "refresh: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
snapshot 'WOW6432Node\' "$OUT/shipped-after-refresh.txt"
check "refresh: Uninstall entry, records and shortcuts as the 64-bit build's" \
  same_files "$OUT/reference-after-refresh.txt" "$OUT/shipped-after-refresh.txt"
check "refresh: the Uninstall entry is in the 32-bit view" \
  key_exists "SOFTWARE\\WOW6432Node\\$UNINSTALL_KEY"
check "refresh: nothing in the 64-bit view (SOFTWARE\\TendrilWin32, its Uninstall entry)" \
  eval '! key_exists "SOFTWARE\\TendrilWin32" && ! key_exists "SOFTWARE\\$UNINSTALL_KEY"'

heading "32-bit: terminate (7) a running 64-bit program"
start_sleeper "$SLEEPER"
run_launch 32 terminate terminate --argument "$SLEEPER" --json
check "terminate: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
check "terminate: the 64-bit program was ended" ended_by_tendril "$STARTED"

heading "32-bit: uninstall (3) while the 64-bit client runs"
start_sleeper "$CLIENT\\client.exe"
CLIENT_PID=$STARTED
run_launch 32 uninstall uninstall "${REQUEST[@]}" --argument "$CLIENT\\client.exe" --json
check "uninstall: result 0" [ "$LAUNCH_STATUS" -eq 0 ]
check "uninstall: the running 64-bit client was ended" ended_by_tendril "$CLIENT_PID"
snapshot 'WOW6432Node\' "$OUT/shipped-after-uninstall.txt"
check "uninstall: what is left is what the 64-bit build leaves" \
  same_files "$OUT/reference-after-uninstall.txt" "$OUT/shipped-after-uninstall.txt"

remove_keys
rm -rf "$BASE_UNIX"

heading "Summary"
printf '%s\n' "${TIMINGS[@]}"
echo "the five 32-bit commands took $(elapsed "$SHIPPED_STARTED") s; the whole run $(elapsed "$RUN_STARTED") s"
echo "outputs, logs and snapshots: $OUT"
if [ ${#FAILURES[@]} -gt 0 ]; then
  echo "${#FAILURES[@]} check(s) FAILED:"
  printf '  %s\n' "${FAILURES[@]}"
  exit 1
fi
echo "every check passed"
