#!/usr/bin/env bash
# Usage: screenreader_e2e.sh BUILD_DIR
# The workbench as a screen reader meets it: a real window under Xvfb, an
# accessibility bus of its own, and a driver (screenreader_e2e.py) that uses
# nothing but key presses and what AT-SPI tells it. It logs in, types and runs
# a query, and reads the editor, the result cells and the messages.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  [ -n "${DBUS_SESSION_BUS_PID:-}" ] && kill "$DBUS_SESSION_BUS_PID" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

for tool in Xvfb dbus-launch /usr/libexec/at-spi-bus-launcher; do
  if ! command -v "$tool" >/dev/null; then echo "SKIP: $tool missing"; exit 77; fi
done
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then echo "SKIP: pyatspi missing"; exit 77; fi

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" TARNWICK_CONFIG_DIR="$work/settings"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM

# The test server with the sample database.
password=Zugang$RANDOM$RANDOM
"$build/testserver/tds-testserver" --data "$work/data" --port 0 --sample --exit-with-parent \
  --login "leser:$password" >"$work/ready" 2>"$work/server.log" &
pids+=($!)
for _ in $(seq 1 300); do [ -s "$work/ready" ] && break; sleep 0.1; done
port=$(sed -E 's/^ready [^:]+:([0-9]+).*/\1/' <"$work/ready")
[ -n "$port" ] || { echo "server did not start"; cat "$work/server.log"; exit 1; }
settings="$build/scripts/settings/tarnwick-settings"
key='Software\Kestrune\Quorlin'
"$settings" set "$key" MSSQLServer "127.0.0.1,$port"
"$settings" set "$key" MSSQLUser leser
"$settings" set "$key" MSSQLAuthentification 0
"$settings" set "$key" MSSQLDatabase Musterfirma

# A screen of its own.
for n in $(seq 110 140); do [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break; done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$n"
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

# A session bus and the accessibility bus on it.
eval "$(dbus-launch --sh-syntax)"
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
sleep 1

export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
"$build/app/tarnwick" >"$work/app.log" 2>&1 &
app=$!
pids+=($app)

status=0
mkdir -p "$work/export"
TARNWICK_PID=$app TARNWICK_EXPORT_DIR="$work/export" TARNWICK_PASSWORD="$password" timeout 240 /usr/bin/python3 "$here/screenreader_e2e.py" || status=$?
if [ $status -ne 0 ]; then
  echo "--- workbench output"; cat "$work/app.log"
fi
exit $status
