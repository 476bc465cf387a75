#!/usr/bin/env bash
# Builds Kestrel, installs it into a program folder of its own (with a menu entry, icons and a
# `kestrel` command: scripts/install.sh) and starts it from there.
# The folder's data/ is never touched by a rebuild or a reinstall.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
prefix=${KESTREL_HOME:-$HOME/.local/lib/kestrel}
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF -DKESTREL_BENCH=OFF \
  ${KESTREL_SUPPORT_ADDRESS:+"-DKESTREL_SUPPORT_ADDRESS=$KESTREL_SUPPORT_ADDRESS"} >/dev/null
cmake --build "$here/build-release" -j"$(nproc)"
KESTREL_HOME=$prefix "$here/scripts/install.sh" "$here/build-release"
exec "$prefix/kestrel"
