#!/usr/bin/env bash
# Export benchmark: ROWS generated rows written by the batch move into each file format
# (bench-export), and the text export compared with the sqlite3 shell writing the same rows
# as CSV from an SQLite table. Prints each format's time and the ratio ours/sqlite3 for text
# (best of REPEAT runs).
#
#   bench/export/run.sh            ROWS=200000 REPEAT=3 BUILD_DIR=...
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
rows=${ROWS:-200000}
repeat=${REPEAT:-3}

command -v sqlite3 >/dev/null || { echo "run.sh: sqlite3 is missing (scripts/bootstrap installs it)" >&2; exit 1; }
if [ ! -x "$build/bench/export/bench-export" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target bench-export -j2 >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The same rows as bench-export generates.
sqlite3 "$tmp/peer.db" "create table t(ID integer, Name text, Wert real, Tag text);
with recursive n(i) as (select 1 union all select i + 1 from n where i < $rows)
insert into t select i, 'Kunde ' || i, i / 4.0, date('2000-01-01', '+' || ((i - 1) % 10000) || ' days') from n;"

best() { sort -n | head -n1; }
now() { date +%s.%N; }

"$build/bench/export/bench-export" --rows "$rows" --dir "$tmp"

ours=$(for _ in $(seq "$repeat"); do
  "$build/bench/export/bench-export" --rows "$rows" --dir "$tmp" --format Text | awk '{print $5}'
done | best)
peer=$(for _ in $(seq "$repeat"); do
  s=$(now); sqlite3 -csv -header "$tmp/peer.db" "select * from t" >"$tmp/peer.csv"; e=$(now)
  awk -v s="$s" -v e="$e" 'BEGIN { print e - s }'
done | best)
printf 'text export of %s rows: ours %.3f s, sqlite3 -csv %.3f s, ratio ours/peer %.2f\n' \
  "$rows" "$ours" "$peer" "$(awk -v a="$ours" -v b="$peer" 'BEGIN { print a / b }')"
