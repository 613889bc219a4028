#!/usr/bin/env bash
# Runs the bad-input suite against the real tendril.exe of the test build.
#   scripts/bad-input.sh                         the default run (as ctest runs it), seed 13
#   scripts/bad-input.sh --long [--seed N] [--cases N]
#                                                every value of every field, then N random cases
#                                                (default 2000); the seed is printed
#   scripts/bad-input.sh [--long] --seed N --case I
#                                                one case again, as a failure names it
# Without --seed the long mode takes a fresh seed from the clock and prints it.
set -euo pipefail
cd "$(dirname "$0")/.."
args=("$@")
long=0; seeded=0
for a in "$@"; do
  [ "$a" = --long ] && long=1
  [ "$a" = --seed ] && seeded=1
done
if [ "$long" = 1 ] && [ "$seeded" = 0 ]; then
  args+=(--seed "$(date +%s)")
fi

cmake --preset win64-test >/dev/null
cmake --build --preset win64-test --target test_bad_input -- -j2 >/dev/null

export WINEPREFIX="$PWD/build/win64/wineprefix"
source scripts/wine-env.sh
trap wine_prefix_down EXIT
wine_prefix_up
# Wine programs' output goes to a file: a reader of a pipe would wait for Wine's services.
out=$(mktemp)
status=0
"$WINE64" build/win64/tests/e2e/bad_input/test_bad_input.exe --gtest_brief=1 "${args[@]}" \
  >"$out" 2>&1 || status=$?
cat "$out"
rm -f "$out"
exit "$status"
