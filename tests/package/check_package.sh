#!/usr/bin/env bash
# Usage: check_package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cd "$build"
cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/tarnwick_*.deb | head -n1)
echo "package: $(basename "$deb")"

fail=0
check() { if ! "$@"; then echo "FAILED: $*"; fail=1; fi; }

version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
echo "version: $version"
echo "depends: $depends"
for dep in unixodbc tdsodbc pxlib1 fonts-wine fonts-liberation2 libqt6widgets6 libqt6printsupport6 qt6-translations-l10n; do
  check grep -q "$dep" <<<"$depends"
done

root="$work/root"
dpkg -x "$deb" "$root"
check test -x "$root/usr/bin/tarnwick"
check test ! -e "$root/usr/bin/tds-testserver"
check test -f "$root/usr/share/applications/tarnwick.desktop"
check test -f "$root/usr/share/icons/hicolor/scalable/apps/tarnwick.svg"
for size in 16 22 24 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/tarnwick.png"
  check test -f "$png"
  check grep -q "${size} x ${size}" <<<"$(file "$png")"
done
check test -f "$root/usr/share/man/man1/tarnwick.1.gz"
check desktop-file-validate "$root/usr/share/applications/tarnwick.desktop"
check grep -qx "Name=tarnwick 2005" "$root/usr/share/applications/tarnwick.desktop"
check grep -qx "GenericName=SQL-Server-Abfragewerkzeug" "$root/usr/share/applications/tarnwick.desktop"
check grep -qx "Categories=Development;Database;" "$root/usr/share/applications/tarnwick.desktop"

# The installed program starts and keeps running (it waits for the user)
# until it is stopped.
export XDG_CONFIG_HOME="$work/config"
"$root/usr/bin/tarnwick" >"$work/run.log" 2>&1 &
pid=$!
for _ in $(seq 1 30); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  kill "$pid"; wait "$pid" 2>/dev/null || true
else
  echo "FAILED: installed program exited at start"; cat "$work/run.log"; fail=1
fi

if [ "$fail" -ne 0 ]; then exit 1; fi
echo "package checks passed"
