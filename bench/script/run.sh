#!/usr/bin/env bash
# Script benchmark: a generated script of BATCHES batches, each
#   insert into bench_t values (i, 'x')
#   select i, s from bench_t where i = i
#   GO
# run by bsqldb and through the main window on the offscreen platform
# (bench-script) against one tds-testserver of our own, taking turns, best of
# REPEAT runs each. Prints each figure with its goal:
#   the script with F6 ("Ausführen"), time      <= 1.0 x bsqldb's
#   the script with F5 ("Abfrage starten"), time <= 1.0 x bsqldb's
#   longest window stall during the script      <= 50 ms
#   cancel half-way through F6 until the
#   window takes the next statement             <= 250 ms
#   one batch of RESULTS result sets of ROWS
#   rows with F5 until every grid holds its
#   rows                                        <= 1.5 x a plain ODBC client's
#   longest window stall meanwhile              <= 50 ms
#
#   bench/script/run.sh      BATCHES=10000 REPEAT=2 RESULTS=500 ROWS=20 BUILD_DIR=...
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
batches=${BATCHES:-10000}
repeat=${REPEAT:-2}
results=${RESULTS:-500}
rows=${ROWS:-20}
limit=${TOOL_TIMEOUT:-3600} # seconds one run may take

command -v bsqldb >/dev/null || { echo "run.sh: bsqldb (FreeTDS) is not installed" >&2; exit 1; }
source "$root/bench/lib/testserver.sh"
build_targets "$build" bench-script tds-testserver
start_testserver "$build" "$((rows > 1000 ? rows : 1000))" 4096

# The script: a fresh table first (a cancelled run may have left it), dropped at the end.
script="$tmp/script.sql"
awk -v n="$batches" 'BEGIN {
  print "if object_id('"'"'bench_t'"'"') is not null drop table bench_t"
  print "create table bench_t (i int not null primary key, s varchar(10))"
  print "GO"
  for (i = 1; i <= n; i++) {
    printf "insert into bench_t values (%d, '"'"'x'"'"')\n", i
    printf "select i, s from bench_t where i = %d\n", i
    print "GO"
  }
  print "drop table bench_t"
  print "GO"
}' >"$script"

for ((i = 0; i < repeat; i++)); do
  start=$(now)
  timeout "$limit" bsqldb -S bench -U "$user" -P "$pass" -i "$script" \
    >"$tmp/bsqldb.$i.out" 2>"$tmp/bsqldb.$i.err" ||
    { echo "run.sh: bsqldb failed:" >&2; tail -n 20 "$tmp/bsqldb.$i.err" >&2; exit 1; }
  echo "seconds=$(calc "$(now) - $start")" >"$tmp/peer.$i"
  QT_QPA_PLATFORM=offscreen timeout "$limit" "$build/bench/script/bench-script" \
    --server "127.0.0.1,$port" --user "$user" --password "$pass" --script "$script" \
    --results "$results" --rows "$rows" >"$tmp/new.$i" 2>"$tmp/new.$i.err" ||
    { echo "run.sh: bench-script failed:" >&2; tail -n 20 "$tmp/new.$i.err" >&2; exit 1; }
done

# The value of KEY in file F.
val() { sed -n "s/^.*\\b$1=\\([0-9.]*\\).*/\\1/p" "$2" | head -n1; }
# The best (lowest) / worst (highest) value of KEY over the runs of PREFIX.
bestof() { for ((i = 0; i < repeat; i++)); do val "$2" "$tmp/$1.$i"; done | best; }
worstof() { for ((i = 0; i < repeat; i++)); do val "$2" "$tmp/$1.$i"; done | sort -g | tail -n1; }
verdict() { if awk "BEGIN { exit !($1) }"; then echo met; else echo "not met"; fi; }

peer=$(bestof peer seconds)
execute=$(bestof new execute_s)
query=$(bestof new query_s)
stall=$(for k in execute_stall_ms query_stall_ms; do worstof new $k; done | sort -g | tail -n1)
cancel=$(worstof new cancel_ms)
many=$(bestof new results_ms)
many_odbc=$(bestof new results_odbc_ms)
many_stall=$(worstof new results_stall_ms)

printf 'script                    %s batches (best of %s runs; stall and cancel: the worst run)\n' \
  "$batches" "$repeat"
printf 'script with F6            %.3f s, bsqldb %.3f s: %.2f x; goal <= 1.0: %s\n' \
  "$execute" "$peer" "$(calc "$execute / $peer")" "$(verdict "$execute <= $peer")"
printf 'script with F5            %.3f s, bsqldb %.3f s: %.2f x; goal <= 1.0: %s\n' \
  "$query" "$peer" "$(calc "$query / $peer")" "$(verdict "$query <= $peer")"
# Every run, in the order they ran: how far the best figures sit from the rest.
for ((i = 0; i < repeat; i++)); do
  printf '  run %d: bsqldb %.3f s, F6 %.3f s, F5 %.3f s\n' "$((i + 1))" "$(val seconds "$tmp/peer.$i")" \
    "$(val execute_s "$tmp/new.$i")" "$(val query_s "$tmp/new.$i")"
done
printf 'longest window stall      %.1f ms (F6 %.1f, F5 %.1f); goal <= 50: %s\n' "$stall" \
  "$(worstof new execute_stall_ms)" "$(worstof new query_stall_ms)" "$(verdict "$stall <= 50")"
printf 'cancel until next F5      %.1f ms (was running: %s, next statement ran: %s); goal <= 250: %s\n' \
  "$cancel" "$( [ "$(val cancel_was_running "$tmp/new.0")" = 1 ] && echo yes || echo NO)" \
  "$( [ "$(val next_statement_ran "$tmp/new.0")" = 1 ] && echo yes || echo NO)" \
  "$(verdict "$cancel <= 250")"
printf '%s result sets x %s rows  %.1f ms, plain ODBC %.1f ms: %.2f x; goal <= 1.5: %s\n' \
  "$results" "$rows" "$many" "$many_odbc" "$(calc "$many / $many_odbc")" \
  "$(verdict "$many <= 1.5 * $many_odbc")"
printf 'longest stall meanwhile   %.1f ms; goal <= 50: %s\n' "$many_stall" \
  "$(verdict "$many_stall <= 50")"
