#!/bin/sh
# Runs one frame through Zelvo without a screen, in a folder of its own, and says whether it
# worked. The per-frame command of scripts/many_frames.sh and of a Slurm array job.
#
# Usage: scripts/run_frame.sh remove|photometry LIST FRAME.fits OUTDIR [SEED]
#   remove      LIST is a ZelvoRep.log object list; option 9 of R removes every object and
#               the cleaned image is saved as OUTDIR/<frame>/<frame>_cleaned.fits, the removal
#               record as <frame>_ZelvoRepeat.log
#   photometry  LIST holds one "x y" position per line; O measures the star at each and the
#               results go to OUTDIR/<frame>/<frame>_ApPhot.log
# <frame> is the frame's file name without .fits, .fits.gz or .fz. Zelvo's own output goes to
# <frame>_session.txt. SEED (default 1) fixes the noise of repainted pixels, so a run can be
# repeated exactly. Exit status 0 when the frame worked; otherwise 1 and one line on standard
# error saying why.
set -eu
[ $# -ge 4 ] || { echo "usage: $0 remove|photometry LIST FRAME.fits OUTDIR [SEED]" >&2; exit 2; }
mode=$1 list=$2 frame=$3 outdir=$4 seed=${5:-1}
here=$(cd "$(dirname "$0")/.." && pwd)
zelvo=${ZELVO:-$here/build/zelvo}
name=$(basename "$frame")
stem=${name%.fz}
stem=${stem%.gz}
stem=${stem%.fits}
fail() {
  echo "$stem: $*" >&2
  exit 1
}
[ -x "$zelvo" ] || fail "no Zelvo binary at $zelvo (run scripts/setup.sh --demo)"
[ -f "$frame" ] || fail "no such frame: $frame"
[ -f "$list" ] || fail "no such list: $list"

dir="$outdir/$stem"
rm -rf "$dir"
mkdir -p "$dir"
cp "$frame" "$dir/$name"
printf '2   window size\n0   extended logs\n' > "$dir/Zelvo.ini"

# The answers Zelvo reads, one per line (cursor positions typed as "x y").
case $mode in
  remove)
    cp "$list" "$dir/ZelvoRep.log"
    printf '\nl\n%s\nr\n9\n0\ns\n%s\n\nq\n' "$name" "${stem}_cleaned.fits" > "$dir/answers.txt"
    ;;
  photometry)
    # Each star: option 4, its position, then a click outside to come back to the menu (after
    # a saturated star the menu reads that click, refuses it as a choice and goes on).
    { printf '\nl\n%s\no\n' "$name"
      grep -v '^[[:space:]]*$' "$list" | while read -r x y _; do printf '4\n%s %s\n0.5 0.5\n' "$x" "$y"; done
      printf '0\nq\n'; } > "$dir/answers.txt"
    ;;
  *) fail "unknown mode '$mode' (remove or photometry)" ;;
esac

(cd "$dir" && "$zelvo" --device /null --seed "$seed" < answers.txt > "${stem}_session.txt" 2>&1) ||
  fail "Zelvo ended with status $? (see $dir/${stem}_session.txt)"
session="$dir/${stem}_session.txt"
# A load that failed leaves Zelvo at its menu; its message names the reason.
if grep -q -e 'FITSIO Error Status' -e 'READIMAGE failed' -e 'is empty: load an image' "$session"; then
  fail "$(grep -m1 -e 'FITSIO Error Status' -e 'READIMAGE failed' -e 'refused' -e 'cannot' -e 'is empty' "$session" | sed 's/^ *//')"
fi
case $mode in
  remove)
    [ -s "$dir/${stem}_cleaned.fits" ] || fail "no cleaned image was saved (see $session)"
    grep -q 'contained [1-9][0-9]* lines' "$session" || fail "the object list was not read (see $session)"
    [ -f "$dir/ZelvoRepeat.log" ] && mv "$dir/ZelvoRepeat.log" "$dir/${stem}_ZelvoRepeat.log"
    ;;
  photometry)
    [ -f "$dir/ZelvoApPhot.log" ] && mv "$dir/ZelvoApPhot.log" "$dir/${stem}_ApPhot.log"
    grep -q 'Actual centre' "$session" || fail "no star was measured (see $session)"
    ;;
esac
rm -f "$dir/$name" "$dir/answers.txt"
echo "$stem: done"
