#!/usr/bin/env bash
# The benchmarks, not part of the test run: Tendril's figures beside references measured in the
# same run on identical trees, and the ratios.
#   scripts/bench.sh            commands 3, 4 and 6 end to end, the walks in-process, the peak
#                               working set, and the size of the release tendril.exe
#   scripts/bench.sh --quick    the same on small trees: a check that it all runs (minutes less)
#   scripts/bench.sh --shipped  commands 3, 4 and 6 of the shipped 32-bit tendril.exe instead,
#                               beside a 32-bit bare pipe client, in the 32-bit run's prefix
#                               (needs 32-bit Wine: scripts/setup-win32.sh; with --quick too)
# Figures depend on how busy the machine is: run it on a quiet one; every round is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
folders=200 files=100 rounds=3 trips=20 walkRounds=5 shipped=false
for option in "$@"; do
  case $option in
    --quick) folders=10 files=20 rounds=1 trips=2 walkRounds=1 ;;
    --shipped) shipped=true ;;
    *) echo "usage: scripts/bench.sh [--quick] [--shipped]" >&2; exit 2 ;;
  esac
done

scripts/setup.sh
$shipped && scripts/setup-win32.sh
cmake --preset win32-release >/dev/null
cmake --build --preset win32-release >/dev/null
$shipped && cmake --build --preset win32-release --target bench_bare_client bench_bare_shortcut >/dev/null
cmake --preset win64-test >/dev/null
cmake --build --preset win64-test --target bench_commands bench_filetree bench_bare_shortcut >/dev/null

export WINEPREFIX="$PWD/build/win64/wineprefix"
$shipped && WINEPREFIX="$PWD/build/win32/wineprefix"
source scripts/wine-env.sh
trap wine_prefix_down EXIT
wine_prefix_up

echo "== release tendril.exe (i686): $(stat -c %s build/win32/tendril.exe) bytes, goal at most $((400 * 1024))"
# Wine programs' output goes to a file: a reader of a pipe would wait for Wine's services.
out=$(mktemp)
run() {
  local status=0
  "$WINE64" "$@" >"$out" 2>&1 || status=$?
  cat "$out"
  return "$status"
}
# The floor of the commands that handle shortcuts: a program that writes and reads back one.
shortcut_floor() {
  local peaks=() i
  for i in 1 2 3; do peaks+=("$(run "$1" 'C:\users\Public' | tr -d '\r' | grep -E '^[0-9.]+$' || echo failed)"); done
  echo "== peak working set of a bare program that writes and reads back one shortcut" \
       "($(basename "$1")): ${peaks[*]} MiB"
}
if $shipped; then
  shortcut_floor build/win32/bench/bench_bare_shortcut.exe
  echo "== the shipped 32-bit pair through the launcher library: bench_commands $folders $files" \
       "$rounds $trips build/win32/tendril.exe build/win32/bench/bench_bare_client.exe"
  run build/win64/bench/bench_commands.exe "$folders" "$files" "$rounds" "$trips" \
    "$PWD/build/win32/tendril.exe" "$PWD/build/win32/bench/bench_bare_client.exe"
  rm -f "$out"
  exit 0
fi
shortcut_floor build/win64/bench/bench_bare_shortcut.exe
echo "== commands through the launcher library: bench_commands $folders $files $rounds $trips"
run build/win64/bench/bench_commands.exe "$folders" "$files" "$rounds" "$trips"
echo "== walks in-process: bench_filetree $folders $files $walkRounds folders"
run build/win64/bench/bench_filetree.exe "$folders" "$files" "$walkRounds" folders
rm -f "$out"
