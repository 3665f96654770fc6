#!/usr/bin/env bash
# Start-up benchmark: builds the workbench, the test server, the settings tool
# and the window probe, then runs startup_bench.py (see there).
#
#   bench/startup/run.sh            RUNS=11 BUILD_DIR=...
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
command -v sqlitebrowser >/dev/null || { echo "run.sh: sqlitebrowser is missing (scripts/bootstrap installs it)" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "run.sh: Xvfb is missing (scripts/bootstrap installs it)" >&2; exit 1; }

source "$root/bench/lib/testserver.sh"
build_targets "$build" tarnwick tds-testserver tarnwick-settings bench-startup-probe
python3 "$root/bench/startup/startup_bench.py" "$build" --runs "${RUNS:-11}"
