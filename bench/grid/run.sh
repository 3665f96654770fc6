#!/usr/bin/env bash
# Grid benchmark: ROWS rows of Messwerte from a tds-testserver that bench-grid
# starts for itself, opened through the data layer into the result grid on the
# offscreen platform; SCREENS screens painted at random rows in the grid, in a
# plain view over a model that computes its values (the floor) and in a plain
# view over the rows copied into a QStandardItemModel, taking turns. Prints the
# median time per screen, the memory each result adds and the ratios
# grid/floor (time) and grid/items (memory).
#
#   bench/grid/run.sh            ROWS=1000000 SCREENS=500 SEED=1 BUILD_DIR=...
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
rows=${ROWS:-1000000}
screens=${SCREENS:-500}
seed=${SEED:-1}

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
log="${TMPDIR:-/tmp}/bench-grid-build.$$.log"
if ! cmake --build "$build" --target bench-grid tds-testserver -j2 >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"

QT_QPA_PLATFORM=offscreen exec "$build/bench/grid/bench-grid" --serve "$rows" --screens "$screens" \
  --seed "$seed"
