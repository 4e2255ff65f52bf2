#!/bin/sh
# Sets everything up, builds Zelvo and runs every test.
# With ZELVO_SANITIZE=1 the suite is built and run under AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/, leaks included (scripts/lsan.supp lists the
# graphics libraries' own). With ZELVO_WERROR=ON (as CI runs it) a compiler warning fails the build.
set -eu
cd "$(dirname "$0")/.."
if [ "${ZELVO_SANITIZE:-0}" = "1" ]; then
  ZELVO_BUILD_DIR=build-asan scripts/setup.sh -DZELVO_SANITIZE=ON -DZELVO_BENCH=OFF -DZELVO_WERROR="${ZELVO_WERROR:-OFF}"
  cd build-asan
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS="suppressions=$(pwd)/../scripts/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j"$(nproc)"
else
  scripts/setup.sh -DZELVO_WERROR="${ZELVO_WERROR:-OFF}"
  cd build
  ctest --output-on-failure -j"$(nproc)"
fi
