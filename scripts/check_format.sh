#!/bin/sh
# Fails, naming the files, when a C++ file of the repository differs from the layout
# .clang-format describes. Fix a reported file with: clang-format -i FILE
set -eu
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null 2>&1; then
  if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang-format
fi
bad=""
for f in $(git ls-files '*.cpp' '*.h'); do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad="$bad $f"
done
if [ -n "$bad" ]; then
  echo "Not in the layout of .clang-format (clang-format -i to fix):$bad" >&2
  exit 1
fi
echo "Every C++ file is in the layout of .clang-format"
