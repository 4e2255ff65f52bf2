#!/bin/sh
# Installs the Debian packages Zelvo needs (only those missing) and builds it in build/.
# Usage: scripts/setup.sh [extra cmake options]
set -eu
cd "$(dirname "$0")/.."

PACKAGES="cmake g++ make pkg-config libcfitsio-dev zlib1g-dev libcfitsio-bin giza-dev libgtest-dev libgmock-dev \
libbenchmark-dev gzip libedit-dev imagemagick xvfb xauth xdotool x11-utils x11-apps \
fitsverify clang libclang-rt-14-dev \
wcslib-dev python3-astropy python3-photutils parallel ghostscript"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  echo "Installing missing packages:$missing"
  if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi

BUILD_DIR="${ZELVO_BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
