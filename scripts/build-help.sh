#!/usr/bin/env bash
# Compiles the help pages in resources/help/ into resources/kestrel.chm, the file Help > Contents
# opens. Only needed after the pages change: the compiled file is committed, and a test checks
# that it still matches the pages. Needs chmcmd (Debian package fp-utils).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v chmcmd >/dev/null; then
  echo "chmcmd not found; install it with: apt-get install fp-utils" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here"/resources/help/* "$work"/
(cd "$work" && chmcmd --no-html-scan kestrel.hhp >"$work/chmcmd.log" 2>&1) || { cat "$work/chmcmd.log" >&2; exit 1; }
mv "$work/kestrel.chm" "$here/resources/kestrel.chm"
echo "resources/kestrel.chm rebuilt"
