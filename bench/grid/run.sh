#!/usr/bin/env bash
# Grid benchmark: ROWS rows of Messwerte from a tds-testserver that bench-grid
# starts for itself, opened through the data layer into the result grid on the
# offscreen platform; SCREENS screens painted at random rows in the grid, in a
# plain view over a model that computes its values (the floor) and in a plain
# view over the rows copied into a QStandardItemModel, taking turns. Prints the
# median time per screen, the memory each result adds and the ratios
# grid/floor (time) and grid/items (memory). Before them: sorting by an integer,
# a float and a text column until the first sorted screen is painted, and the
# copy of 100,000 rows x 10 columns, each with the window's longest stall.
# PART=sortcopy runs only those (the item copy of the paint part does not fit
# 5,000,000 rows in memory).
#
#   bench/grid/run.sh            ROWS=1000000 SCREENS=500 SEED=1 PART=all BUILD_DIR=...
#   ROWS=5000000 PART=sortcopy bench/grid/run.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
rows=${ROWS:-1000000}
screens=${SCREENS:-500}
seed=${SEED:-1}
part=${PART:-all}

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
log="${TMPDIR:-/tmp}/bench-grid-build.$$.log"
if ! cmake --build "$build" --target bench-grid tds-testserver -j2 >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"

QT_QPA_PLATFORM=offscreen exec "$build/bench/grid/bench-grid" --serve "$rows" --screens "$screens" \
  --seed "$seed" --part "$part"
