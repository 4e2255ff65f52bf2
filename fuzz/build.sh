#!/bin/sh
# Builds the libFuzzer harnesses of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into fuzz/out/ (or $ZELVO_FUZZ_OUT).
#
# The program's sources are compiled here from src/ (main.cpp left out) and tools/, apart
# from the main CMake build, so the fuzzing flags touch nothing else. One file is swapped:
# src/platform/memory.cpp gives way to fuzz/small_images.cpp, which caps images at 4 Mpixel,
# so that a fuzzed "N 30000 30000" is refused instead of filling gigabytes per execution.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT="${ZELVO_FUZZ_OUT:-$ROOT/fuzz/out}"
CXX="${CXX_FUZZ:-clang++}"
mkdir -p "$OUT/obj"

FLAGS="-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined"
INCLUDES="-I$ROOT/src -I$ROOT/tools -I$ROOT/fuzz $(pkg-config --cflags cfitsio cpgplot libedit zlib wcslib x11)"
LIBS="$(pkg-config --libs cfitsio cpgplot libedit zlib wcslib x11) -lm"

# Library objects, rebuilt when their source or any header is newer; compiled in parallel.
objects=""
stale=""
for src in $(find src tools -name '*.cpp' ! -path src/main.cpp ! -path src/platform/memory.cpp \
             ! -path tools/zelvo_field.cpp | sort) fuzz/small_images.cpp; do
  obj="$OUT/obj/$(echo "$src" | tr '/' '_' | sed 's/\.cpp$/.o/')"
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || [ -n "$(find src tools fuzz -name '*.h' -newer "$obj" | head -1)" ]; then
    stale="$stale $src:$obj"
  fi
  objects="$objects $obj"
done
export CXX FLAGS INCLUDES
# shellcheck disable=SC2086
printf '%s\n' $stale | xargs -r -P "$(nproc)" -I{} sh -c '
  src=${1%%:*}; obj=${1#*:}
  echo "  CXX $src"
  $CXX $FLAGS -fsanitize=fuzzer-no-link -DZELVO_VERSION="\"fuzz\"" $INCLUDES -c "$src" -o "$obj"' _ {}

for harness in fuzz/*_fuzz.cpp; do
  name=$(basename "$harness" .cpp)
  echo "  LINK $name"
  # shellcheck disable=SC2086
  $CXX $FLAGS -fsanitize=fuzzer -DZELVO_VERSION='"fuzz"' $INCLUDES "$harness" $objects $LIBS -o "$OUT/$name"
done
echo "Fuzz harnesses in $OUT"
