# Sourced by the benchmark scripts: builds the targets they need and starts a tds-testserver
# of our own with the sample database and ROWS rows in Messwerte, on a free port with fresh
# credentials; it is stopped by its PID when the script ends.
#
#   build_targets BUILD_DIR TARGET...   configure a new build folder as scripts/run builds the
#                                       workbench (RelWithDebInfo), then build
#   start_testserver BUILD_DIR ROWS PACKET_SIZE
#     sets: tmp (a scratch folder removed at exit), port, user, pass, server_pid, and
#     FREETDSCONF with the server as "bench" (TDS 7.4, UTF-8, that packet size)

build_targets() {
  local build=$1; shift
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  if ! cmake --build "$build" --target "$@" -j2 >"${TMPDIR:-/tmp}/bench-build.$$.log" 2>&1; then
    cat "${TMPDIR:-/tmp}/bench-build.$$.log" >&2
    exit 1
  fi
  rm -f "${TMPDIR:-/tmp}/bench-build.$$.log"
}

tmp=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

start_testserver() {
  local build=$1 rows=$2 packet=$3
  user="bench$RANDOM"
  pass="Pw$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
  mkdir -p "$tmp/data"
  "$build/testserver/tds-testserver" --data "$tmp/data" --port 0 --login "$user:$pass" --sample \
    --big-rows "$rows" >"$tmp/server.out" 2>"$tmp/server.err" &
  server_pid=$!

  # Wait for "ready 127.0.0.1:PORT" (creating the rows takes a while).
  local deadline=$((SECONDS + 900))
  port=""
  while [ -z "$port" ]; do
    if ! kill -0 "$server_pid" 2>/dev/null; then
      echo "run.sh: tds-testserver ended:" >&2; cat "$tmp/server.err" >&2; exit 1
    fi
    [ "$SECONDS" -lt "$deadline" ] || { echo "run.sh: server not ready in time" >&2; exit 1; }
    # The server's shell may not have created its output file yet.
    [ -f "$tmp/server.out" ] &&
      port=$(sed -n 's/^ready 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$tmp/server.out" | head -n1)
    [ -n "$port" ] || sleep 0.2
  done

  cat >"$tmp/freetds.conf" <<CONF
[bench]
  host = 127.0.0.1
  port = $port
  tds version = 7.4
  client charset = UTF-8
  initial block size = $packet
CONF
  export FREETDSCONF="$tmp/freetds.conf"
}

now() { date +%s.%N; }
best() { sort -g | head -n1; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
