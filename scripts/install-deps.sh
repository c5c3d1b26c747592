#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo databases
# need, and the locales the tests use. Run as root (or through sudo).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev qt6-svg-dev libgl-dev
  libindigo0d libindigo-dev libisospec++-dev libsqlite3-dev libxlsxwriter-dev
  mdbtools mdbtools-dev
  libgtest-dev libbenchmark-dev
  fonts-dejavu-core locales
  openms-common chemical-structures-data
  unixodbc unixodbc-dev libpq-dev postgresql odbc-postgresql libsqliteodbc
  xvfb xauth x11-apps imagemagick poppler-utils python3-openpyxl
  dpkg-dev file lintian desktop-file-utils appstream man-db xdotool xclip
  clang libclang-rt-14-dev llvm
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q -o DPkg::Lock::Timeout=300 "${missing[@]}"
fi

# The tests run parts of the suite under a comma locale, and the host speaks Italian and German;
# the SQL guard is tested under Turkish case rules.
for loc in de_DE it_IT tr_TR; do
  locale -a 2>/dev/null | grep -qi "^${loc}.utf-\?8$" || $SUDO localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
done
