#!/usr/bin/env bash
# Renders the application icon resources/icons/kestrel.svg into the PNG sizes desktops ask for
# (resources/icons/kestrel-SIZE.png). Only needed after the drawing changes: the PNGs are
# committed. Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v rsvg-convert >/dev/null; then
  echo "rsvg-convert not found; install it with: apt-get install librsvg2-bin" >&2
  exit 1
fi
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" "$here/resources/icons/kestrel.svg" -o "$here/resources/icons/kestrel-$size.png"
done
echo "resources/icons/kestrel-*.png rendered"
