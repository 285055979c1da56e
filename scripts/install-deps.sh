#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, benchmark and package.
# Idempotent: does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential ccache cmake ninja-build pkg-config clang libclang-rt-dev clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcrypt-dev libemf-dev libemf2svg-dev emf2svg fonts-liberation2
  libasio-dev libboost-dev libsqlite3-dev nlohmann-json3-dev libssl-dev sqlite3 libtomlplusplus-dev libcli11-dev libspdlog-dev libfmt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  chromium chromium-driver python3-selenium nodejs
  poppler-utils xvfb xauth imagemagick librsvg2-bin tshark dpkg-dev file lintian debootstrap gzip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
