#!/bin/sh
# Records a broad set of scripted sessions on the synthetic field: for each session its
# console output, stderr and every file it leaves in its working folder (logs, saved FITS,
# ZelvoImage.ps without its creation-date line). Run it before and after a change that must
# keep behaviour, then compare the two folders:
#   tools/session_transcripts.sh build /tmp/before     # on the old tree
#   tools/session_transcripts.sh build /tmp/after      # on the new tree
#   diff -r /tmp/before /tmp/after && echo identical
# Usage: session_transcripts.sh BUILD_DIR OUT_DIR
set -eu
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
zelvo="$build/zelvo"
field_tool="$build/zelvo-field"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$field_tool" --size 256x256 --seed 7 --out "$work/f.fits" > /dev/null
"$field_tool" --size 256x256 --seed 8 --filter B --out "$work/b.fits" > /dev/null
"$field_tool" --size 256x256 --seed 9 --filter I --out "$work/i.fits" > /dev/null
"$field_tool" --size 200x150 --seed 11 --bitpix 16 --galaxy exp --out "$work/u16.fits" > /dev/null

# name, extended logs (0/1), then the answers, one a line ('|' separates lines).
sessions() {
cat <<'LIST'
quit|0||q
help|0||h|l|d|r|o|g|?|h|q
load|0||l|f.fits|l|missing.fits|l|u16.fits|q
new|0||n|ten 20|10 20|2|n|8 6|1|q
display|0||l|f.fits|d|1|y|900 1200 p|y|800 1400 n|n|d|0|n|q
display_auto|1||l|f.fits|d|1|n|q
mouse|1||l|f.fits|d|1|n|m|1|60 60|137 178|m|2|137.3 177.9|76.7 121.3|0 0|0|q
crop|0||l|f.fits|c|128 128|11 200 21 180|s|crop.fits||q
rotate|0||l|f.fits|t|a|s|ta.fits||t|b|s|tb.fits||t|c|s|tc.fits||q
reflect|0||l|f.fits|f|a|s|fa.fits||f|b|s|fb.fits||q
arith|0||l|f.fits|2|l|b.fits|a|+ 5|a|* 2|a|i2 / i1|1|a|- 1000|a|sqrt|s|arith.fits||q
remove_star|1||l|f.fits|r|1|138 177|137.3 177.9|12|n|1|77 122|76.7 121.3|9|y|0|s|rstar.fits||q
remove_sat|1||l|f.fits|r|2|230 178|233 175.7|25|n|0|s|rsat.fits||q
remove_area|1||l|f.fits|r|3|139 120|138.8 117.2|10|n|3|200 200|-20 200|0|s|rarea.fits||q
remove_column|1||l|f.fits|r|6|237 170|233 170|c|250 170|1000 10|n|6|233 180|233 180|m|1000 10|y|6|233 160|233 160|y|n|0|s|rcol.fits||q
remove_list|1||l|f.fits|r|8|9|n|9|0|s|rlist.fits||q
remove_const|0||l|f.fits|r|abc|5|0|q
photometry|1||l|f.fits|o|1|80 80|137 178|2|8 12 16|3|300|4|137.5 178.2|76.3 121.8|209.8 118.3|0 0|4|233 175|0|o|0|q
photometry_bad|0||o|q|l|f.fits|o|2|3, 3, 10|2|12 9 15|2|5 10 15|4|500 500|0 0|0|q
galaxy|1||l|f.fits|d|1|n|g|1|138.77 117.17|30 2|0.18 86|0|g|2|138.77 117.17|25 1|0 0|2|l|b.fits|3|l|i.fits|4|n|256 256|g|3|2 3|0|0|0 0 1 0|1|g|4|0 1 0|3 4|1 1|0|0|s|cal.fits||q
galaxy_bad|0||g|1||l|f.fits|g|1|0 61|30 1|0 0||g|1|61 61|0 1|0 0||g|3|2 3||g|4|0 0 0|1 7||g|0|g|9|q
save|0||l|f.fits|s|01||s|01||s|saved.fits||q
print|0||l|f.fits|d|1|n|p|p|q
exit|0||l|f.fits|2|n|6 4|x|01||02||
eof|0||l|f.fits|r|1|138 177
LIST
}

sessions | while IFS='|' read -r name extended answers; do
  dir="$work/$name"
  mkdir -p "$dir"
  cp "$work"/*.fits "$dir"/
  printf '2\n%s\n' "$extended" > "$dir/Zelvo.ini"
  # A fixed object list for removal options 8 and 9.
  printf '1 137.3 177.9 10\n3 138.8 117.2 9\n1 76.7 121.3 8\n' > "$dir/ZelvoRep.log"
  printf '%s\n' "$answers" | tr '|' '\n' > "$dir/answers.txt"
  (cd "$dir" && "$zelvo" --device /null --seed 7 < answers.txt > stdout.txt 2> stderr.txt; echo "exit $?" >> stdout.txt)
  rm -f "$dir/answers.txt"
  # Inputs left unchanged are not part of the record.
  for f in f.fits b.fits i.fits u16.fits; do
    if cmp -s "$dir/$f" "$work/$f"; then rm -f "$dir/$f"; fi
  done
  if [ -f "$dir/ZelvoImage.ps" ]; then
    grep -v '^%%CreationDate' "$dir/ZelvoImage.ps" > "$dir/ZelvoImage.ps.nodate" || true
    rm -f "$dir/ZelvoImage.ps"
  fi
  # A written FITS file records the time of writing (DATE card, a HISTORY line): mask it.
  for f in "$dir"/*.fits; do
    [ -f "$f" ] || continue
    /usr/bin/python3 -c '
import sys
data = bytearray(open(sys.argv[1], "rb").read())
for at in range(0, len(data), 80):
    card = data[at:at + 80]
    if card.startswith(b"HISTORY Zelvo wrote this file on"):
        data[at:at + 80] = b"HISTORY Zelvo wrote this file on (masked)".ljust(80)
    if card.startswith(b"DATE    ="):
        data[at:at + 80] = b"DATE    = (masked)".ljust(80)
    if card.startswith(b"END") and card[3:].strip() == b"":
        break
open(sys.argv[1], "wb").write(data)' "$f"
  done
  rm -rf "${out:?}/$name"
  mv "$dir" "$out/$name"
done
echo "Recorded $(ls "$out" | wc -l) sessions, $(find "$out" -type f | xargs cat | wc -c) bytes in $out"
