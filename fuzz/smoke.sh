#!/bin/sh
# Builds the fuzz harnesses and runs each one for a short while from its seed corpus
# (fuzz/corpus/<harness>/), on one core. Fails when a harness finds a crash, a sanitizer
# report, a hang or a failed check; the input that did it is kept in $OUT/artifacts/.
#
# Usage: fuzz/smoke.sh [seconds per harness, default 60]
# A long run: fuzz/out/<harness> -runs=N <scratch corpus> fuzz/corpus/<harness> (see fuzz/README.md).
set -eu
cd "$(dirname "$0")/.."
SECONDS_EACH="${1:-60}"
OUT="${ZELVO_FUZZ_OUT:-$(pwd)/fuzz/out}"
fuzz/build.sh
mkdir -p "$OUT/artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

status=0
for h in list_reader_fuzz fits_loader_fuzz session_fuzz; do
  case $h in
    list_reader_fuzz) maxlen=512 ;;
    fits_loader_fuzz) maxlen=20000 ;;
    *) maxlen=2048 ;;
  esac
  mkdir -p "$work/$h"
  echo "== $h: ${SECONDS_EACH}s"
  # New inputs go to the scratch corpus; the committed seeds are only read.
  if ! TMPDIR="$work" ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$OUT/$h" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2048 -max_len="$maxlen" \
      -print_final_stats=1 -artifact_prefix="$OUT/artifacts/$h-" "$work/$h" "fuzz/corpus/$h" \
      >"$work/$h.log" 2>&1; then
    status=1
    echo "!! $h failed:"
    tail -60 "$work/$h.log"
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ *DONE' "$work/$h.log" || true
done
if [ "$status" -eq 0 ]; then echo "fuzz smoke run: all three harnesses clean"; fi
exit "$status"
