#!/usr/bin/env bash
# Uninstall removes what the install placed and keeps data/; --purge deletes the data only after
# a "yes" on its question. A `kestrel` command that is not Kestrel's is never touched.
# Usage: uninstall_test.sh SOURCE_DIR BUILD_DIR VERSION
set -euo pipefail
src=$1 build=$2
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kestrel uninstall.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export HOME=$tmp/home KESTREL_HOME=$tmp/home/.local/lib/kestrel
data=$KESTREL_HOME/data
share=$HOME/.local/share

# options | answer on the terminal | data kept
cases=("|" "--purge|no" "--purge|" "--purge|yes")
for c in "${cases[@]}"; do
  opts=${c%|*} answer=${c#*|}
  echo "== uninstall $opts, answer '$answer'"
  "$src/scripts/install.sh" "$build" >/dev/null
  mkdir -p "$data" && echo kept >"$data/contacts.mdb"
  out=$(printf '%s\n' "$answer" | "$src/scripts/uninstall.sh" $opts) || fail "uninstall failed: $out"
  for f in "$KESTREL_HOME/kestrel" "$KESTREL_HOME/Templates" "$share/applications/kestrel.desktop" \
      "$share/metainfo/org.kestrelcontacts.Kestrel.metainfo.xml" "$share/icons/hicolor/48x48/apps/kestrel.png" \
      "$HOME/.local/bin/kestrel"; do
    [[ ! -e "$f" ]] || fail "still there: $f"
  done
  if [[ "$answer" == yes ]]; then
    [[ ! -e "$KESTREL_HOME" ]] || fail "purge left $KESTREL_HOME"
  else
    [[ "$(cat "$data/contacts.mdb")" == kept ]] || fail "data lost"
    [[ "$out" == *"Your data stayed in $data"* ]] || fail "does not say where the data stayed: $out"
    [[ -z "$opts" || "$out" == *'Type "yes"'* ]] || fail "--purge did not ask: $out"
  fi
done

# Someone else's kestrel command survives an install and an uninstall.
mkdir -p "$HOME/.local/bin" && printf '#!/bin/sh\necho mine\n' >"$HOME/.local/bin/kestrel" && chmod +x "$HOME/.local/bin/kestrel"
"$src/scripts/install.sh" "$build" >/dev/null 2>&1
"$src/scripts/uninstall.sh" >/dev/null
[[ "$("$HOME/.local/bin/kestrel")" == mine ]] || fail "a foreign kestrel command was replaced or removed"
echo "uninstall keeps data unless purged after a yes"
