#!/usr/bin/env bash
# Usage: check_run_demo.sh BUILD_DIR
# Runs scripts/run without arguments, with a stand-in for the workbench that
# records the settings it would start with, and checks that the demo opens
# "Musterfirma" on its own server while the user's settings stay untouched.
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
export DISPLAY=:none # the stand-in needs no screen
unset TARNWICK_CONFIG_DIR
mkdir -p "$HOME"
settings="$build/scripts/settings/tarnwick-settings"
key='Software\Kestrune\Quorlin'
"$settings" set "$key" MSSQLServer produktion
"$settings" set "$key" MSSQLDatabase Lager

export SETTINGS_TOOL="$settings" SEEN="$work/seen"
cat >"$work/program" <<'PROGRAM'
#!/usr/bin/env bash
key='Software\Kestrune\Quorlin'
{
  echo "server=$("$SETTINGS_TOOL" get "$key" MSSQLServer)"
  echo "database=$("$SETTINGS_TOOL" get "$key" MSSQLDatabase)"
} >"$SEEN"
PROGRAM
chmod +x "$work/program"

TARNWICK_BUILD_DIR="$build" TARNWICK_PROGRAM="$work/program" "$root/scripts/run" \
  >"$work/run.log" 2>&1 || { cat "$work/run.log"; exit 1; }

fail=0
check() { if ! grep -qx -- "$2" "$1"; then echo "FAILED: $1 lacks '$2'"; cat "$1"; fail=1; fi; }
check "$SEEN" 'server=127\.0\.0\.1,[0-9]*'
check "$SEEN" 'database=Musterfirma'
unset SETTINGS_TOOL SEEN
{
  echo "server=$("$settings" get "$key" MSSQLServer)"
  echo "database=$("$settings" get "$key" MSSQLDatabase)"
} >"$work/user"
check "$work/user" 'server=produktion'
check "$work/user" 'database=Lager'
exit $fail
