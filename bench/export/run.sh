#!/usr/bin/env bash
# Export benchmark: ROWS rows of Messwerte from a tds-testserver of our own, fetched once
# through the data layer and exported by the batch move to .txt, .dbf and .mdb (every row) and
# .xls (the first XLS_ROWS rows), and straight from the fetched store to .csv, .json and .xlsx
# (every row, on the export's own thread), against freebcp writing the same query in character mode
# (-c) into a file. Prints per format rows per second, the ratio of its time to freebcp -c's
# (best of REPEAT runs each) and the memory the export adds to the fetched result, and the
# library's floor for .xlsx: the same rows written by a bare loop over libxlsxwriter.
# Then the real main window (bench-export-window, offscreen) runs the query into its grid and
# exports it with its own export command to .xlsx, .csv, .json and .mdb: per format the time,
# the window's longest stall meanwhile (goal <= 50 ms) and, in a second export cancelled
# half-way, the time until the window takes the next statement (goal <= 250 ms), the file of
# the first export left as it was. Each goal is printed with "met" or "not met".
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
build_targets "$build" bench-export bench-export-window tds-testserver
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

field() { sed -n "s/.*\b$1=\([0-9.]*\).*/\1/p"; }
verdict() { if awk "BEGIN { exit !($1) }"; then echo met; else echo "not met"; fi; }
fetched=$(grep '^fetch' "$tmp/ours.0" | field rows)
printf 'rows fetched            %s (once per run; packet size %s, best of %s runs)\n' "$fetched" "$packet" "$repeat"
printf 'freebcp queryout -c     %9.3f s  %9.0f rows/s  %11d bytes\n' "$bcp" "$(calc "$fetched / $bcp")" "$bcp_bytes"
for format in Text dBASE Access Excel CSV JSON XLSX XLSXFLOOR; do
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
    XLSXFLOOR) goal="" ;;
  esac
  ratio=$(calc "$secs / $bcp")
  mb=$(calc "$added / 1024")
  case $format in
    Text) met=$(verdict "$ratio <= 0.25 && $mb < 10") ;;
    dBASE) met=$(verdict "$ratio <= 0.50 && $mb < 10") ;;
    Access) met=$(verdict "$mb < 10") ;;
    Excel) met=$(verdict "$added * 1024 < $bytes") ;;
    CSV | JSON) met=$(verdict "$ratio <= 0.30") ;;
    XLSX) met=$(verdict "$ratio <= 2.0 && $mb <= 50") ;;
  esac
  if [ "$format" = XLSXFLOOR ]; then
    printf '%-23s %9.3f s  %9.0f rows/s  %11d bytes  ratio to freebcp -c %.2f  memory added %.1f MB (library floor: bare libxlsxwriter loop, constant memory)\n' \
      "xlsx floor ($n rows)" "$secs" "$(calc "$n / $secs")" "$bytes" "$ratio" "$mb"
  else
    printf '%-23s %9.3f s  %9.0f rows/s  %11d bytes  ratio to freebcp -c %.2f  memory added %.1f MB (goal: %s): %s\n' \
      "$format ($n rows)" "$secs" "$(calc "$n / $secs")" "$bytes" "$ratio" "$mb" "$goal" "$met"
  fi
done

# The real window: one run (the stall and the cancel are the worst of what one run shows).
QT_QPA_PLATFORM=offscreen timeout "$limit" "$build/bench/export/bench-export-window" \
  --server "127.0.0.1,$port" --user "$user" --password "$pass" --dir "$tmp/out" \
  --query "$query" >"$tmp/window" 2>"$tmp/window.err" ||
  { echo "run.sh: bench-export-window failed:" >&2; tail -n 20 "$tmp/window.err" >&2; exit 1; }
printf 'window                  %s rows in the grid, exported with its own export command\n' \
  "$(field rows <"$tmp/window" | head -n1)"
for format in xlsx csv json mdb; do
  line=$(grep "^window format=$format " "$tmp/window") || continue
  secs=$(field seconds <<<"$line")
  stall=$(field stall_ms <<<"$line")
  cancel=$(field cancel_ms <<<"$line")
  printf 'window .%-5s %9.3f s  longest stall %.1f ms; goal <= 50: %s  cancel until free %.1f ms (%s, was running: %s, old file kept: %s); goal <= 250: %s\n' \
    "$format" "$secs" "$stall" "$(verdict "$stall <= 50")" "$cancel" \
    "$( [ "$(field escape <<<"$line")" = 1 ] && echo Escape || echo '"Abbrechen"')" \
    "$( [ "$(field was_running <<<"$line")" = 1 ] && echo yes || echo NO)" \
    "$( [ "$(field old_file_kept <<<"$line")" = 1 ] && echo yes || echo NO)" \
    "$(verdict "$cancel <= 250")"
done
printf 'window next statement after the last cancel ran: %s\n' \
  "$( [ "$(field next_statement_ran <"$tmp/window")" = 1 ] && echo yes || echo NO)"
