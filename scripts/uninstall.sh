#!/usr/bin/env bash
# Removes Kestrel: the program, its menu entry, icons, metainfo and the `kestrel` command, as
# listed by the install in the program folder (KESTREL_HOME, default ~/.local/lib/kestrel).
# The data folder (data/ in the program folder) stays unless --purge is given and the question
# that follows is answered "yes".
set -euo pipefail
home=${KESTREL_HOME:-$HOME/.local/lib/kestrel}
home=$(realpath -m "$home")
purge=0
case "${1:-}" in
  "") ;;
  --purge) purge=1 ;;
  *) echo "Usage: $0 [--purge]   (--purge also deletes the data, after asking)" >&2; exit 2 ;;
esac
data=$home/data
manifest=$home/.installed-files
if [[ ! -f "$manifest" && ! -f "$home/kestrel" ]]; then
  echo "No Kestrel installation in $home (set KESTREL_HOME to the program folder)." >&2
  exit 1
fi

if ((purge)) && [[ -d "$data" ]]; then
  echo "--purge deletes Kestrel's data for good: every contact, appointment and to-do item in"
  echo "  $data"
  printf 'Delete the data too? Type "yes" to delete them: '
  read -r answer || answer=
  [[ -t 0 ]] || echo
  if [[ "$answer" != yes ]]; then
    echo "Not deleting the data."
    purge=0
  fi
fi

# What the install listed, or, for an install made before the list existed, the program's own files.
if [[ -f "$manifest" ]]; then
  mapfile -t files <"$manifest"
else
  files=("$home/kestrel" "$home/kestrel.chm" "$home/Templates/lead.rtf")
fi
dirs=()
for f in "${files[@]}"; do
  [[ -n "$f" ]] || continue
  case "$f" in "$data"/*) continue ;; esac   # never through the list: data go only by --purge
  if [[ "$f" == */bin/kestrel ]] && ! grep -qxF "# Kestrel's launcher, written by its install script" "$f" 2>/dev/null; then
    continue
  fi
  rm -f -- "$f"
  dirs+=("$(dirname -- "$f")")
done
rm -f -- "$manifest"

# Folders the install made and that are empty now: the icon size folders, Templates/, and so on.
for d in "${dirs[@]}"; do
  while [[ "$d" == "$home"* || "$d" == */share/icons/hicolor/* ]] && rmdir -- "$d" 2>/dev/null; do
    d=$(dirname -- "$d")
  done
done

for d in "${dirs[@]}"; do
  case "$d" in
    */share/applications)
      command -v update-desktop-database >/dev/null && update-desktop-database -q "$d" || true ;;
    */share/icons/hicolor/*/apps)
      theme=${d%/*/apps}
      command -v gtk-update-icon-cache >/dev/null && [[ -d "$theme" ]] && gtk-update-icon-cache -q -t -f "$theme" || true ;;
  esac
done 2>/dev/null

if ((purge)); then
  rm -rf -- "$data"
  rmdir -- "$home" 2>/dev/null || true
  echo "Kestrel and its data are removed."
elif [[ -d "$data" ]]; then
  echo "Kestrel is removed. Your data stayed in $data"
  echo "(contacts.mdb, kestrel.mdb, tempdb.mdb: SQLite files). Installing Kestrel again into"
  echo "$home picks them up; to delete them run: $0 --purge"
else
  rmdir -- "$home" 2>/dev/null || true
  echo "Kestrel is removed."
fi
