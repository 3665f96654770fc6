#!/usr/bin/env bash
# Export benchmark: ROWS rows of Messwerte from a tds-testserver of our own, fetched once
# through the data layer and exported by the batch move to .txt, .dbf and .mdb (every row) and
# .xls (the first XLS_ROWS rows), and straight from the fetched store to .csv, .json and .xlsx
# (every row, on the export's own thread), against freebcp writing the same query in character mode
# (-c) into a file. Prints per format rows per second, the ratio of its time to freebcp -c's
# (best of REPEAT runs each) and the memory the export adds to the fetched result.
#
#   bench/export/run.sh     ROWS=1000000 XLS_ROWS=65000 PACKET_SIZE=32767 REPEAT=3 BUILD_DIR=...
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
rows=${ROWS:-1000000}
xls_rows=${XLS_ROWS:-65000}
packet=${PACKET_SIZE:-32767}
repeat=${REPEAT:-3}
query=${QUERY:-select * from Messwerte}
limit=${TOOL_TIMEOUT:-600} # seconds one run of one tool may take

command -v freebcp >/dev/null || { echo "run.sh: freebcp is missing (scripts/bootstrap installs it)" >&2; exit 1; }
source "$root/bench/lib/testserver.sh"
build_targets "$build" bench-export tds-testserver
start_testserver "$build" "$rows" "$packet"

ado="Provider=SQLOLEDB.1;Persist Security Info=False;User ID=$user;Password=$pass;Initial Catalog=Musterfirma;Data Source=127.0.0.1,$port;Packet Size=$packet"
mkdir -p "$tmp/out"

bcp_times=()
for ((i = 0; i < repeat; i++)); do
  timeout "$limit" "$build/bench/export/bench-export" --connection "$ado" --query "$query" \
    --dir "$tmp/out" --xls-rows "$xls_rows" >"$tmp/ours.$i"
  t0=$(now)
  if timeout "$limit" freebcp "$query" queryout "$tmp/bcp.txt" -c -S bench -U "$user" -P "$pass" \
       -D Musterfirma -A "$packet" >/dev/null 2>"$tmp/freebcp.err"; then
    t1=$(now); bcp_times+=("$(calc "$t1 - $t0")")
  else
    echo "run.sh: freebcp failed or ran over ${limit}s: $(head -c 300 "$tmp/freebcp.err")" >&2
  fi
done
[ "${#bcp_times[@]}" -gt 0 ] || exit 1
bcp=$(printf '%s\n' "${bcp_times[@]}" | best)
bcp_bytes=$(stat -c %s "$tmp/bcp.txt")

field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
fetched=$(grep '^fetch' "$tmp/ours.0" | field rows)
printf 'rows fetched            %s (once per run; packet size %s, best of %s runs)\n' "$fetched" "$packet" "$repeat"
printf 'freebcp queryout -c     %9.3f s  %9.0f rows/s  %11d bytes\n' "$bcp" "$(calc "$fetched / $bcp")" "$bcp_bytes"
for format in Text dBASE Access Excel CSV JSON XLSX; do
  lines=$(cat "$tmp"/ours.* | grep "^export format=$format ")
  secs=$(printf '%s\n' "$lines" | field seconds | best)
  n=$(printf '%s\n' "$lines" | head -n1 | field rows)
  bytes=$(printf '%s\n' "$lines" | head -n1 | field bytes)
  added=$(printf '%s\n' "$lines" | field added_kb | sort -g | tail -n1)
  case $format in
    Text) goal="time <= 0.25, memory < 10 MB" ;;
    dBASE) goal="time <= 0.50, memory < 10 MB" ;;
    Access) goal="memory < 10 MB" ;;
    Excel) goal="memory < file size" ;;
    CSV | JSON) goal="time <= 0.30" ;;
    XLSX) goal="time <= 2.0, memory <= 50 MB" ;;
  esac
  printf '%-23s %9.3f s  %9.0f rows/s  %11d bytes  ratio to freebcp -c %.2f  memory added %.1f MB (goal: %s)\n' \
    "$format ($n rows)" "$secs" "$(calc "$n / $secs")" "$bytes" "$(calc "$secs / $bcp")" \
    "$(calc "$added / 1024")" "$goal"
done
