#!/bin/sh
# Runs a removal list or a photometry list over many frames in parallel with GNU parallel,
# one folder per frame, and ends with a summary of the frames that failed.
#
# Usage: scripts/many_frames.sh [-j JOBS] [--seed N] [--out DIR] remove|photometry LIST FRAME...
#   -j JOBS   frames run at once (default: one per processor core)
#   --seed N  seed of the noise of repainted pixels, the same for every frame (default 1)
#   --out DIR where the frame folders go (default: runs)
# Each frame's results are in DIR/<frame>/ (see scripts/run_frame.sh); DIR/joblog.txt is GNU
# parallel's record of every job and DIR/failed.txt lists the frames that failed, with why.
# Exit status 0 when every frame worked, 1 otherwise.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
jobs=0 seed=1 out=runs
while [ $# -gt 0 ]; do
  case $1 in
    -j) jobs=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -ge 3 ] || { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
command -v parallel > /dev/null || { echo "GNU parallel is not installed (apt-get install parallel)" >&2; exit 2; }
mode=$1 list=$2
shift 2
mkdir -p "$out"
[ "$jobs" = 0 ] && jobs=$(nproc)

# Each job's standard error (the reason of a failure) is kept in the order of the frames.
status=0
parallel --will-cite -j "$jobs" --joblog "$out/joblog.txt" --keep-order \
  "$here/run_frame.sh" "$mode" "$list" {} "$out" "$seed" ::: "$@" 2> "$out/failed.txt" || status=$?

total=$#
failed=$(grep -c . "$out/failed.txt" || true)
echo "$((total - failed)) of $total frames done; results in $out/<frame>/"
if [ "$status" -ne 0 ] || [ "$failed" -gt 0 ]; then
  echo "Failed ($failed):"
  sed 's/^/  /' "$out/failed.txt"
  exit 1
fi
