#!/bin/sh
# Installs the Debian packages Zelvo needs (only those missing) and builds it in build/.
# Usage: scripts/setup.sh [--demo] [extra cmake options]
#   --demo  only what building and running Zelvo needs: the run packages, and the targets
#           zelvo and zelvo-field (no tests, benchmarks or their packages)
#   default the test, benchmark and fuzzing packages too, and every target
set -eu
cd "$(dirname "$0")/.."

# Building and running Zelvo.
RUN_PACKAGES="cmake g++ make pkg-config libcfitsio-dev zlib1g-dev giza-dev libedit-dev wcslib-dev libx11-dev"
# The tests, benchmarks and fuzzers (and GNU parallel for scripts/many_frames.sh, Slurm and
# munge for the cluster test of scripts/slurm_frames.sh).
TEST_PACKAGES="libcfitsio-bin libgtest-dev libgmock-dev libbenchmark-dev gzip imagemagick xvfb xauth xdotool \
x11-utils x11-apps fitsverify clang libclang-rt-14-dev python3-astropy python3-photutils parallel ghostscript groff-base clang-format slurm-wlm munge"

demo=0
if [ "${1:-}" = "--demo" ]; then
  demo=1
  shift
fi
PACKAGES="$RUN_PACKAGES"
[ "$demo" = 1 ] || PACKAGES="$RUN_PACKAGES $TEST_PACKAGES"

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
  # The demo leaves recommended packages out (the build needs none of them), which halves
  # the download on a fresh machine; the test tools get theirs (Xvfb's fonts and keymaps).
  norec=""
  [ "$demo" = 1 ] && norec="--no-install-recommends"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $norec $missing
fi

BUILD_DIR="${ZELVO_BUILD_DIR:-build}"
if [ "$demo" = 1 ]; then
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVO_TESTS=OFF -DZELVO_BENCH=OFF "$@" >/dev/null
  cmake --build "$BUILD_DIR" -j"$(nproc)" --target zelvo zelvo-field
else
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVO_TESTS=ON -DZELVO_BENCH=ON "$@" >/dev/null
  cmake --build "$BUILD_DIR" -j"$(nproc)"
fi
