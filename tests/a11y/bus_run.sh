#!/usr/bin/env bash
# Runs one accessibility-bus test (walk.py or task.py) against the real program, as assistive
# software meets it: a private X server, a private session bus with its own accessibility bus
# (at-spi-bus-launcher and at-spi2-registryd, started by the bus on demand), and a copy of the
# program on a data folder and settings of its own. Exits 77 (skipped) saying what is missing.
set -euo pipefail
what=$1 exe=$2 src=$3
python=/usr/bin/python3

skip() { echo "SKIPPED: $*"; exit 77; }
command -v Xvfb >/dev/null || skip "Xvfb is not installed (Debian package xvfb)"
command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed (Debian package dbus-daemon)"
[[ -x /usr/libexec/at-spi-bus-launcher && -x /usr/libexec/at-spi2-registryd ]] ||
  skip "the accessibility bus is not installed (Debian package at-spi2-core)"
[[ -x $python ]] && $python -c 'import pyatspi' 2>/dev/null ||
  skip "pyatspi is not installed for $python (Debian package python3-pyatspi)"
[[ -e /usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 ]] ||
  skip "libfaketime is not installed (Debian package faketime)"

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-a11y.XXXXXX")
xvfb=
cleanup() {
  [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/prog" "$work/home/.config" "$work/run"
chmod 700 "$work/run"
cp "$exe" "$work/prog/kestrel"
cp "$src/resources/kestrel.chm" "$work/prog/"

# A display of its own, whichever number is free.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 300); do
  [[ -s $work/display ]] && break
  kill -0 "$xvfb" 2>/dev/null || { cat "$work/xvfb.log"; echo "Xvfb did not start"; exit 1; }
  sleep 0.1
done
[[ -s $work/display ]] || { echo "Xvfb gave no display within 30 s"; exit 1; }

unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS SESSION_MANAGER
export DISPLAY=":$(head -n1 "$work/display")"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run"
export NO_AT_BRIDGE=0
dbus-run-session -- "$python" "$src/tests/a11y/$what.py" "$work"
