#!/usr/bin/env bash
# Installs a built Kestrel: its program folder, and its place on the desktop (menu entry, icons,
# AppStream metainfo, a `kestrel` command). Usage: scripts/install.sh [BUILD_DIR] (default build-release).
#
# Program folder: KESTREL_HOME, default ~/.local/lib/kestrel. It holds the program and, beside it,
# data/ with the databases, which an install never touches.
# Desktop files go under a prefix P: KESTREL_DESKTOP_PREFIX when set; otherwise, when the program
# folder is .../lib/kestrel, the folder two levels above it (~/.local for the default,
# /usr/local for /usr/local/lib/kestrel, /opt/crm for /opt/crm/lib/kestrel); otherwise ~/.local.
#   P/share/applications/kestrel.desktop      P/share/icons/hicolor/SIZE/apps/kestrel.png|svg
#   P/share/metainfo/org.kestrelcontacts.Kestrel.metainfo.xml      P/bin/kestrel (the command)
# Every installed file is listed in the program folder's .installed-files, which uninstall.sh reads.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-release}
home=${KESTREL_HOME:-$HOME/.local/lib/kestrel}
home=$(realpath -m "$home")
if [[ -n "${KESTREL_DESKTOP_PREFIX:-}" ]]; then
  prefix=$(realpath -m "$KESTREL_DESKTOP_PREFIX")
elif [[ "$home" == */lib/kestrel ]]; then
  prefix=${home%/lib/kestrel}
else
  prefix=$HOME/.local
fi
id=org.kestrelcontacts.Kestrel
metainfo=$build/desktop/$id.metainfo.xml
[[ -f "$metainfo" ]] || { echo "$build holds no configured Kestrel build" >&2; exit 1; }

manifest=$home/.installed-files
mkdir -p "$home"
listed=$(mktemp)
trap 'rm -f "$listed"' EXIT
[[ -f "$manifest" ]] && cat "$manifest" >"$listed"

cmake --install "$build" --prefix "$home" >/dev/null
sed 's|/\./|/|g' "$build/install_manifest.txt" >>"$listed"
echo >>"$listed"

place() { # place SOURCE TARGET: copies a file and lists it
  install -D -m 644 "$1" "$2"
  echo "$2" >>"$listed"
}

# Exec takes a quoted argument: inside the quotes \ " ` $ are escaped with a backslash, then the
# value's own escaping doubles every backslash; a % is written %%.
exe=$home/kestrel
arg=${exe//\\/\\\\}; arg=${arg//\"/\\\"}; arg=${arg//\`/\\\`}; arg=${arg//\$/\\\$}
arg=${arg//\\/\\\\}; arg=${arg//%/%%}
entry=$(<"$here/resources/desktop/kestrel.desktop.in")
entry=${entry//@KESTREL_EXEC@/"\"$arg\""}
entry=${entry//@KESTREL_TRYEXEC@/"${exe//\\/\\\\}"}
apps=$prefix/share/applications
mkdir -p "$apps"
printf '%s\n' "$entry" >"$apps/kestrel.desktop"
echo "$apps/kestrel.desktop" >>"$listed"

place "$metainfo" "$prefix/share/metainfo/$id.metainfo.xml"
icons=$prefix/share/icons/hicolor
for size in 16 22 24 32 48 64 128 256; do
  place "$here/resources/icons/kestrel-$size.png" "$icons/${size}x$size/apps/kestrel.png"
done
place "$here/resources/icons/kestrel.svg" "$icons/scalable/apps/kestrel.svg"

# The command: a small launcher, so the program keeps finding data/ beside itself. A `kestrel`
# that is not one of ours is left alone.
marker="# Kestrel's launcher, written by its install script"
command=$prefix/bin/kestrel
if [[ -e "$command" ]] && ! grep -qxF "$marker" "$command" 2>/dev/null; then
  echo "Left $command alone: it is not Kestrel's launcher. Start Kestrel with: $exe" >&2
else
  mkdir -p "$prefix/bin"
  printf '#!/bin/sh\n%s\nexec '\''%s'\'' "$@"\n' "$marker" "${exe//\'/\'\\\'\'}" >"$command"
  chmod 755 "$command"
  echo "$command" >>"$listed"
fi

grep -v '^$' "$listed" | sort -u >"$manifest"

# Menus and icon themes read caches; refresh them where the tools exist.
command -v update-desktop-database >/dev/null && update-desktop-database -q "$apps" || true
command -v gtk-update-icon-cache >/dev/null && gtk-update-icon-cache -q -t -f "$icons" || true

echo "Kestrel installed in $home (its data: $home/data)"
echo "Menu entry: $apps/kestrel.desktop; command: $command"
case ":$PATH:" in
  *":$prefix/bin:"*) ;;
  *) echo "Note: $prefix/bin is not on your PATH; add it to start Kestrel by typing kestrel." ;;
esac
