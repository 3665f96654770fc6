#!/usr/bin/env bash
# Fetch benchmark: one million rows of Messwerte from a tds-testserver of our
# own, fetched by the data layer (bench-fetch), by freebcp queryout -n (native
# format into a file), by bsqldb and by unixODBC's isql -b into /dev/null, all
# with the same packet size. Prints each ratio ours/peer (best of REPEAT runs),
# our peak memory and the size of freebcp's native file, and what the result
# store's page pool gains over buffers on the C heap (bench-fetch-heap).
#
#   bench/fetch/run.sh            ROWS=1000000 PACKET_SIZE=32767 REPEAT=3 BUILD_DIR=...
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
rows=${ROWS:-1000000}
packet=${PACKET_SIZE:-32767}
repeat=${REPEAT:-3}
query=${QUERY:-select * from Messwerte}
limit=${TOOL_TIMEOUT:-600} # seconds one run of one tool may take

for tool in freebcp bsqldb isql; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (scripts/bootstrap installs it)" >&2; exit 1; }
done

source "$root/bench/lib/testserver.sh"
build_targets "$build" bench-fetch bench-fetch-heap tds-testserver
start_testserver "$build" "$rows" "$packet"

ours_times=() ; heap_times=() ; bcp_times=() ; bsql_times=() ; isql_times=()
ado="Provider=SQLOLEDB.1;Persist Security Info=False;User ID=$user;Password=$pass;Initial Catalog=Musterfirma;Data Source=127.0.0.1,$port;Packet Size=$packet"
odbc="DRIVER={FreeTDS};Server=127.0.0.1;Port=$port;UID=$user;PWD=$pass;Database=Musterfirma;TDS_Version=7.4;ClientCharset=UTF-8;PacketSize=$packet"

# Runs one peer with a deadline; prints its seconds, or nothing when it failed.
timed() {
  local name=$1; shift
  local t0 t1
  t0=$(now)
  if timeout "$limit" "$@" <"$tmp/query.sql" >/dev/null 2>"$tmp/$name.err"; then
    t1=$(now); calc "$t1 - $t0"
  else
    echo "run.sh: $name failed or ran over ${limit}s: $(head -c 300 "$tmp/$name.err")" >&2
  fi
}
echo "$query" >"$tmp/query.sql"

for ((i = 0; i < repeat; i++)); do
  timeout "$limit" "$build/bench/fetch/bench-fetch" --connection "$ado" --query "$query" >"$tmp/ours.$i"
  ours_times+=("$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' "$tmp/ours.$i")")
  timeout "$limit" "$build/bench/fetch/bench-fetch-heap" --connection "$ado" --query "$query" >"$tmp/heap.$i"
  heap_times+=("$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' "$tmp/heap.$i")")
  bcp_times+=("$(timed freebcp freebcp "$query" queryout "$tmp/native.dat" -n -S bench -U "$user" \
                 -P "$pass" -D Musterfirma -A "$packet")")
  bsql_times+=("$(timed bsqldb bsqldb -S bench -U "$user" -P "$pass" -D Musterfirma -q)")
  isql_times+=("$(timed isql isql -b -k "$odbc")")
done

ours=$(printf '%s\n' "${ours_times[@]}" | grep . | best)
heap=$(printf '%s\n' "${heap_times[@]}" | grep . | best)
bcp=$(printf '%s\n' "${bcp_times[@]}" | grep . | best || true)
bsql=$(printf '%s\n' "${bsql_times[@]}" | grep . | best || true)
isq=$(printf '%s\n' "${isql_times[@]}" | grep . | best || true)
last="$tmp/ours.$((repeat - 1))"
fetched=$(sed -n 's/^rows=\([0-9]*\).*/\1/p' "$last")
store=$(sed -n 's/.*store_bytes=\([0-9]*\).*/\1/p' "$last")
before=$(sed -n 's/.*rss_before_kb=\([0-9]*\).*/\1/p' "$last")
peak=$(sed -n 's/.*peak_kb=\([0-9]*\).*/\1/p' "$last")
heap_last="$tmp/heap.$((repeat - 1))"
heap_added=$(( ($(sed -n 's/.*peak_kb=\([0-9]*\).*/\1/p' "$heap_last") - $(sed -n 's/.*rss_before_kb=\([0-9]*\).*/\1/p' "$heap_last")) * 1024 ))
native=$( [ -s "$tmp/native.dat" ] && stat -c %s "$tmp/native.dat" || echo 0)
added=$(( (peak - before) * 1024 ))

ratio() { if [ -n "$2" ]; then printf '%.3f s   ratio ours/%s %.2f' "$2" "$1" "$(calc "$ours / $2")"; else printf 'n/a (failed)'; fi; }
printf 'rows fetched          %s (packet size %s, best of %s runs)\n' "$fetched" "$packet" "$repeat"
grep '^column' "$last" | sed 's/^/  /'
printf 'ours                  %.3f s\n' "$ours"
printf 'ours, heap buffers    %.3f s   page pool saves %.1f %% of the time, %d of %d bytes peak\n' \
  "$heap" "$(calc "100 * ($heap - $ours) / $heap")" "$((heap_added - added))" "$heap_added"
printf 'freebcp queryout -n   %s (goal <= 0.80)\n' "$(ratio freebcp "$bcp")"
printf 'bsqldb                %s\n' "$(ratio bsqldb "$bsql")"
printf 'isql -b               %s\n' "$(ratio isql "$isq")"
printf 'our result storage    %d bytes\n' "$store"
printf 'our peak memory       %d bytes added (RSS peak - RSS before open)\n' "$added"
if [ "$native" -gt 0 ]; then
  printf 'freebcp native file   %d bytes; storage %.2f x, peak %.2f x (goal <= 1.50)\n' "$native" \
    "$(calc "$store / $native")" "$(calc "$added / $native")"
else
  printf 'freebcp native file   n/a (freebcp failed)\n'
fi
