#!/usr/bin/env bash
# Counts, per file, the Wine server requests and the system calls that each walk and each bare
# loop of bench_filetree makes: where the time of a walk goes, against its floor's. Each contender
# runs alone under strace on one folder of N files (default 4000), and its whole run is divided by
# N: what a walk does once (its root's checks) then adds less than a tenth of a call per file.
#   scripts/count-calls.sh [files]
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-4000}
command -v strace >/dev/null || { scripts/setup.sh; apt-get install -y -qq strace >/dev/null; }
cmake --preset win64-test >/dev/null
cmake --build --preset win64-test --target bench_filetree >/dev/null

export WINEPREFIX="$PWD/build/win64/wineprefix"
source scripts/wine-env.sh
trap wine_prefix_down EXIT
wine_prefix_up  # a server started outside strace: only the program's own calls are counted
out=$(mktemp -d)
for key in secure-walk secure-safe delete-walk delete-safe delete-bare; do
  strace -f -o "$out/$key.txt" "$WINE64" build/win64/bench/bench_filetree.exe 1 "$files" 1 tree \
    "$key" >"$out/$key.out" 2>&1
  python3 - "$out/$key.txt" "$key" "$files" <<'PY'
import collections, re, sys
path, key, files = sys.argv[1], sys.argv[2], int(sys.argv[3])
lines = open(path, errors='replace').read().splitlines()
begin = [i for i, l in enumerate(lines) if f'mark-begin-{key}' in l]
end = [i for i, l in enumerate(lines) if f'mark-end-{key}' in l]
if not begin or not end:
    sys.exit(f'{key}: the marks are missing from the trace')
pid = lines[begin[0]].split()[0]
own = [l for l in lines[begin[0]:end[0]] if l.startswith(pid + ' ')]
# A request to the Wine server is one write of its 64-byte header (with its data, a writev) on the
# thread's request pipe: the descriptor that takes the most writes.
writes = collections.Counter()
calls = collections.Counter()
for l in own:
    m = re.match(r'^\d+\s+([a-z_0-9]+)\((\d+)?', l)
    if m:
        calls[m.group(1)] += 1
        if m.group(1) in ('write', 'writev'):
            writes[m.group(2)] += 1
requests = writes.most_common(1)[0][1] if writes else 0
per = files
print(f'{key:12} {requests / per:5.2f} server requests, {sum(calls.values()) / per:5.1f} system calls '
      f'per file; most: ' + ', '.join(f'{n} {v / per:.1f}' for n, v in calls.most_common(5)))
PY
done
rm -rf "$out"
