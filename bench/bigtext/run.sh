#!/usr/bin/env bash
# Big-text benchmark: opening a script of one 5 MB line in the query editor and
# showing a 20,000,000-character value in the cell viewer, on the offscreen
# platform, against plain QPlainTextEdits. Prints wall and processor times, the
# ratios against the peers and whether the 1 s goals are met.
#
#   bench/bigtext/run.sh     SCRIPT_BYTES=5000000 VALUE_CHARS=20000000 OLD=1 SHOTS=dir BUILD_DIR=...
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
args=(--script-bytes "${SCRIPT_BYTES:-5000000}" --value-chars "${VALUE_CHARS:-20000000}")
[ -n "${OLD:-}" ] && args+=(--old)
[ -n "${SHOTS:-}" ] && args+=(--shots "$SHOTS")

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
log="${TMPDIR:-/tmp}/bench-bigtext-build.$$.log"
if ! cmake --build "$build" --target bench-bigtext -j2 >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"

QT_QPA_PLATFORM=offscreen exec "$build/bench/bigtext/bench-bigtext" "${args[@]}"
