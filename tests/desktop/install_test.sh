#!/usr/bin/env bash
# Installs into temporary homes (paths with a blank, to catch quoting) under both placements of
# the desktop files, checks every file and the command, and validates the entry and metainfo.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR VERSION
set -euo pipefail
src=$1 build=$2 version=$3
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kestrel install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# program folder | where the desktop files must land
layouts=(
  "$tmp/home/.local/lib/kestrel|$tmp/home/.local"
  "$tmp/usr local/lib/kestrel|$tmp/usr local"
)
for layout in "${layouts[@]}"; do
  home=${layout%|*} prefix=${layout#*|}
  echo "== $home"
  HOME=$tmp/home KESTREL_HOME=$home "$src/scripts/install.sh" "$build" >/dev/null
  entry=$prefix/share/applications/kestrel.desktop
  metainfo=$prefix/share/metainfo/org.kestrelcontacts.Kestrel.metainfo.xml
  for f in "$home/kestrel" "$home/kestrel.chm" "$home/Templates/lead.rtf" "$entry" "$metainfo" \
      "$prefix/share/icons/hicolor/scalable/apps/kestrel.svg"; do
    [[ -s "$f" ]] || fail "missing $f"
  done
  for size in 16 22 24 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x$size/apps/kestrel.png
    cmp -s "$src/resources/icons/kestrel-$size.png" "$png" || fail "no ${size}px icon: $png"
  done
  grep -qxF "Exec=\"$home/kestrel\"" "$entry" || fail "Exec does not start $home/kestrel: $(grep ^Exec= "$entry")"
  grep -qF "<release version=\"$version\"" "$metainfo" || fail "metainfo does not release $version"
  # The command starts the installed program (which answers --version without a window).
  out=$("$prefix/bin/kestrel" --version 2>/dev/null) || fail "$prefix/bin/kestrel --version failed"
  [[ "$out" == *"$version"* ]] || fail "kestrel --version said: $out"
done

skipped=0
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
else
  echo "SKIP entry validation: desktop-file-validate is not installed (Debian package desktop-file-utils)"
  skipped=1
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metainfo"
else
  echo "SKIP metainfo validation: appstreamcli is not installed (Debian package appstream)"
  skipped=1
fi
((skipped)) && exit 77
echo "installed and valid"
