#!/usr/bin/env bash
# Runs pyodbc's own SQL Server test suite against the test server through the
# FreeTDS ODBC driver and fails when fewer than MIN tests pass.
#   pyodbc_suite.sh SUITE_RUNNER TDS_TESTSERVER MIN
# Each test runs in a process of its own (--forked): a client that crashes
# fails that one test instead of ending the run.
set -euo pipefail
runner=${1:?suite runner}
server=${2:?tds-testserver}
min=${3:?least number of passing tests}
# The suite lives beside the project's tree; a clone elsewhere has none to run.
if [ ! -x "$runner" ]; then
  echo "pyodbc suite: no runner at $runner (set TARNWICK_PYODBC_SUITE); skipped"
  exit 77
fi
out=$("$runner" "$server" --forked -rfs --tb=line 2>&1) || true
printf '%s\n' "$out"
passed=$(printf '%s\n' "$out" | grep -oE '[0-9]+ passed' | tail -n 1 | grep -oE '[0-9]+' || true)
passed=${passed:-0}
echo "pyodbc suite: $passed passed, at least $min needed"
[ "$passed" -ge "$min" ]
