#!/usr/bin/env bash
# Editor benchmark: the completion popup after a keystroke with 10,000 tables
# of 20 columns, find next and replace all in a 5 MB one-line script and in a
# 100,000-line script, the history window over 100,000 runs; on the offscreen
# platform, one run. Prints wall times against the goals ("met"/"not met").
#
#   bench/editor/run.sh     TABLES=10000 RUNS=100000 BUILD_DIR=...
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
args=(--tables "${TABLES:-10000}" --runs "${RUNS:-100000}")

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
log="${TMPDIR:-/tmp}/bench-editor-build.$$.log"
if ! cmake --build "$build" --target bench-editor -j2 >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"

QT_QPA_PLATFORM=offscreen exec "$build/bench/editor/bench-editor" "${args[@]}"
