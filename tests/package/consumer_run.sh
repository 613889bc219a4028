#!/usr/bin/env bash
# Runs the C consumer that consumer_build_<arch> built against a package, under Wine:
#   consumer_run.sh win32|win64 <wine prefix> <consumer build folder> <tendril.exe to start>
# The program, its tendril_launcher.dll and a copy of tendril.exe go into a folder of their own in
# the prefix (Tendril writes its log beside itself); the program runs commands 6 and 4 there and
# its exit code is the test's result. Exit code 77 (the test's SKIP_RETURN_CODE): the 32-bit
# program cannot run on this machine.
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 win32|win64 <prefix> <consumer build> <tendril.exe>" >&2; exit 2; }
arch=$1 consumer=$3 tendril=$4
export WINEPREFIX=$2
source "$(dirname "$0")/../../scripts/wine-env.sh"

loader=$WINE64
if [ "$arch" = win32 ]; then
  # A 32-bit Windows program needs Wine's 32-bit loader (wine32:i386), and a kernel that runs it
  # or qemu-i386 registered for it: scripts/setup-win32.sh sets both up where it can.
  loader=/usr/lib/wine/wine
  if ! "$loader" --version >/dev/null 2>&1; then
    echo "skipped: the x86 consumer was built, but running it needs 32-bit Wine ($loader from" \
         "wine32:i386), which is not installed or does not run here (scripts/setup-win32.sh)"
    exit 77
  fi
fi

wine_prefix_up
folder="Consumer-$arch"
run_dir="$WINEPREFIX/drive_c/TendrilTests/$folder"
rm -rf "$run_dir"
mkdir -p "$run_dir"
cp "$consumer/consumer.exe" "$consumer/tendril_launcher.dll" "$run_dir/"
cp "$tendril" "$run_dir/tendril.exe"

status=0
(cd "$run_dir" && "$loader" "C:\\TendrilTests\\$folder\\consumer.exe" \
   "C:\\TendrilTests\\$folder\\tendril.exe" "C:\\TendrilTests\\$folder\\Client" \
   "SOFTWARE\\TendrilTest\\Consumer-$arch") </dev/null >"$run_dir.out" 2>&1 || status=$?
tr -d '\r' <"$run_dir.out"
if [ "$status" -ne 0 ] && [ -f "$run_dir/tendril.exe.log" ]; then
  echo "--- tendril.exe.log"
  tr -d '\r' <"$run_dir/tendril.exe.log"
fi
[ "$status" -eq 0 ] && rm -rf "$run_dir" "$run_dir.out"
exit "$status"
