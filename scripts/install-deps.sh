#!/usr/bin/env bash
# Installs every Debian package the station, its tests, its device simulator and its
# benchmarks need. This is the only list of them. Quick when everything is present.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libqt6sql6-odbc libqt6sql6-sqlite
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql sqlite3
  libopencc-dev libopencc-data libopencc1.1
  libmodbus-dev libmosquitto-dev mosquitto openssl
  xvfb xauth xdotool imagemagick x11-apps poppler-utils fonts-wqy-microhei
  clang libclang-rt-14-dev clang-format
  python3-pymodbus python3-serial python3-serial-asyncio
  dpkg-dev lintian desktop-file-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
