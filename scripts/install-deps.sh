#!/usr/bin/env bash
# Installs the Debian 12 packages Kestrel needs to build, run and test; only what is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6printsupport6 qt6-qpa-plugins
  libsqlite3-dev sqlite3 libcsv-dev libchm-dev libical-dev libpq-dev libxlsxwriter-dev libzip-dev qtkeychain-qt6-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core fonts-liberation fonts-noto-color-emoji
  poppler-utils
  dosfstools fusefat
)
if [[ "${1:-}" == "--test" ]]; then
  # postgresql: the throwaway office server the office tests start (they skip without it).
  # python3: the crash harness (tests/crash/crash.py); python3-vobject, python3-icalendar,
  # python3-openpyxl: independent readers of the vCard, iCalendar and workbook exports (those checks
  # skip without them); with radicale and python3-requests the sync tests' server and the phone.
  packages+=(clang libclang-rt-14-dev desktop-file-utils appstream postgresql python3 python3-vobject python3-icalendar
    python3-openpyxl radicale python3-requests)
  # The screen-reader tests: a private X server, session bus and accessibility bus, pyatspi for
  # the reader's side, and a fixed clock for the program (tests/a11y).
  packages+=(xvfb dbus-daemon at-spi2-core python3-pyatspi faketime)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
