#!/usr/bin/env bash
# Installs the Debian packages Sedimetra needs to build, run and test, when
# any of them is missing. Sourced by start.sh and test.sh.
set -euo pipefail

SEDIMETRA_PACKAGES=(
  g++ cmake make
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev qt6-translations-l10n
  qt6-charts-dev libqt6sql6-psql libpq-dev postgresql libeigen3-dev libcgal-dev
  libquazip1-qt6-dev libpugixml-dev zlib1g-dev libfreexl-dev
  qt6-svg-dev libcpp-httplib-dev
  fonts-wqy-microhei
  python3 python3-ezdxf python3-openpyxl python3-matplotlib python3-scipy
  librecad libreoffice-calc-nogui poppler-utils qpdf
  chromium nginx-light openssl
  dpkg-dev desktop-file-utils appstream
  xvfb xauth
)

sedimetra_install_deps() {
  local missing=()
  local package
  for package in "${SEDIMETRA_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq \
    "${missing[@]}"
}

# Configures and builds into build/ (the program directory is build/bin).
sedimetra_build() {
  local root
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$root/build" -j"$(nproc)"
}
