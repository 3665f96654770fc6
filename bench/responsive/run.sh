#!/usr/bin/env bash
# Responsiveness benchmark: ROWS rows of Messwerte from a tds-testserver of our
# own, run through the main window on the offscreen platform (bench-responsive)
# and fetched by the data layer without a window, once on the caller's thread
# (bench-fetch, the path that blocks) and once on the worker thread with the
# rows handed over as they arrive (bench-fetch --async yes, the window's path),
# best of REPEAT runs each, taking turns. Prints each figure with its goal:
#   F5 until the first screen of rows is painted   <= floor + 50 ms, the floor
#                                                     being a plain ODBC client's
#                                                     SQLExecDirect until its first row
#   longest stall of the window's thread            <= 50 ms
#   cancel one second into the fetch until the
#   window takes the next statement                 <= 250 ms
#   total fetch time and added memory of the
#   worker path                                     <= 1.05 x the blocking path's
# and, for information, the window's total time and memory against the
# blocking path (the window adds its grid, which keeps nothing per row).
#
#   bench/responsive/run.sh      ROWS=5000000 REPEAT=2 BUILD_DIR=...
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
rows=${ROWS:-5000000}
repeat=${REPEAT:-2}
limit=${TOOL_TIMEOUT:-1800} # seconds one run may take

source "$root/bench/lib/testserver.sh"
build_targets "$build" bench-responsive bench-fetch tds-testserver
# The window's connection sets no packet size; bench-fetch's does neither.
start_testserver "$build" "$rows" 4096

ado="Provider=SQLOLEDB.1;Persist Security Info=False;User ID=$user;Password=$pass;Initial Catalog=Musterfirma;Data Source=127.0.0.1,$port"
for ((i = 0; i < repeat; i++)); do
  timeout "$limit" "$build/bench/fetch/bench-fetch" --connection "$ado" \
    --query "select * from Messwerte" >"$tmp/old.$i"
  timeout "$limit" "$build/bench/fetch/bench-fetch" --connection "$ado" \
    --query "select * from Messwerte" --async yes >"$tmp/async.$i"
  QT_QPA_PLATFORM=offscreen timeout "$limit" "$build/bench/responsive/bench-responsive" \
    --server "127.0.0.1,$port" --user "$user" --password "$pass" >"$tmp/new.$i" 2>"$tmp/new.$i.err" ||
    { echo "run.sh: bench-responsive failed:" >&2; cat "$tmp/new.$i.err" >&2; exit 1; }
done

# The value of KEY in file F.
val() { sed -n "s/^.*\\b$1=\\([0-9.]*\\).*/\\1/p" "$2" | head -n1; }
# The best (lowest) value of KEY over the runs of PREFIX.
bestof() { for ((i = 0; i < repeat; i++)); do val "$2" "$tmp/$1.$i"; done | best; }
# The run of PREFIX with the lowest value of KEY.
bestrun() { for ((i = 0; i < repeat; i++)); do echo "$(val "$2" "$tmp/$1.$i") $tmp/$1.$i"; done |
  sort -g | head -n1 | cut -d' ' -f2; }
verdict() { if awk "BEGIN { exit !($1) }"; then echo met; else echo MISSED; fi; }

old_run=$(bestrun old seconds)
async_run=$(bestrun async seconds)
new_run=$(bestrun new total_s)
old_s=$(val seconds "$old_run")
old_added=$(( ($(val peak_kb "$old_run") - $(val rss_before_kb "$old_run")) * 1024 ))
async_s=$(val seconds "$async_run")
async_added=$(( ($(val peak_kb "$async_run") - $(val rss_before_kb "$async_run")) * 1024 ))
floor=$(bestof new floor_ms)
first=$(bestof new first_screen_ms)
stall=$(for ((i = 0; i < repeat; i++)); do val stall_ms "$tmp/new.$i"; done | sort -g | tail -n1)
cancel=$(for ((i = 0; i < repeat; i++)); do val cancel_ms "$tmp/new.$i"; done | sort -g | tail -n1)
new_s=$(val total_s "$new_run")
new_added=$(val added_bytes "$new_run")

printf 'rows fetched              %s (best of %s runs; stall and cancel: the worst run)\n' \
  "$(val rows "$new_run")" "$repeat"
printf 'first screen after F5     %.1f ms, floor %.1f ms (ODBC first row); goal <= floor + 50: %s\n' \
  "$first" "$floor" "$(verdict "$first <= $floor + 50")"
printf 'longest window stall      %.1f ms; goal <= 50: %s\n' "$stall" "$(verdict "$stall <= 50")"
printf 'cancel until next F5      %.1f ms (rows kept %s, next statement ran: %s); goal <= 250: %s\n' \
  "$cancel" "$(val cancel_kept_rows "$new_run")" \
  "$( [ "$(val next_statement_ran "$new_run")" = 1 ] && echo yes || echo NO)" \
  "$(verdict "$cancel <= 250")"
printf 'fetch, worker path        %.3f s, blocking path %.3f s: %.2f x; goal <= 1.05: %s\n' \
  "$async_s" "$old_s" "$(calc "$async_s / $old_s")" "$(verdict "$async_s <= 1.05 * $old_s")"
printf 'memory, worker path       %d bytes, blocking path %d bytes: %.3f x; goal <= 1.05: %s\n' \
  "$async_added" "$old_added" "$(calc "$async_added / $old_added")" \
  "$(verdict "$async_added <= 1.05 * $old_added")"
printf 'fetch in the window       %.3f s: %.2f x the blocking path without window\n' \
  "$new_s" "$(calc "$new_s / $old_s")"
printf 'memory in the window      %d bytes: %.3f x the blocking path without window\n' \
  "$new_added" "$(calc "$new_added / $old_added")"
printf 'result storage            %s bytes (window), %s bytes (without)\n' \
  "$(val store_bytes "$new_run")" "$(val store_bytes "$old_run")"
