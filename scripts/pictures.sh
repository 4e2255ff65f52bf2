#!/bin/sh
# Renders the README pictures from the sample field with giza's PNG device, answering
# Zelvo's questions from a script (cursor positions typed as "x y"):
#   docs/img/field.png    the main display of the field
#   docs/img/removal.png  the inspection page of a star removal
#   docs/img/cleaned.png  the field after a list of stars was removed automatically
#   docs/img/profile.png  the four-panel profile page of the galaxy
# Builds Zelvo first when the build folder (build/, or $ZELVO_BUILD_DIR) has no binaries.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
bin="$root/${ZELVO_BUILD_DIR:-build}"
[ -x "$bin/zelvo" ] && [ -x "$bin/zelvo-field" ] || scripts/setup.sh
out="$root/docs/img"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bin/zelvo-field" --size 512x512 --seed 2001 --out "$work/field.fits" --list > "$work/objects.txt"
printf '2\n0\n' > "$work/Zelvo.ini"

# The brightest ordinary star; a list of the saturated star and the five brightest others;
# the galaxy centre.
star=$(awk '$1 == "star" && $5 > best { best = $5; xy = $2 " " $3 } END { print xy }' "$work/objects.txt")
{
  awk '$1 == "saturated" { print 2, $2, $3, 20.0 }' "$work/objects.txt"
  awk '$1 == "star" { print $5, $2, $3 }' "$work/objects.txt" | sort -g -r | head -5 | awk '{ print 1, $2, $3, 10.0 }'
} > "$work/ZelvoRep.log"
galaxy=$(awk '$1 == "galaxy" { printf "%d %d\n", $2 + 0.5, $3 + 0.5 }' "$work/objects.txt")

# render NAME ANSWER...: one session whose graphics go to docs/img/NAME.png. The page left
# on the device when the answers run out is the picture.
render() {
  name=$1
  shift
  rm -f "$out/$name.png"
  (cd "$work" && printf '%s\n' "$@" | "$bin/zelvo" --seed 1 --device "$out/$name.png/png" \
    > "$work/$name.log" 2>&1) || { cat "$work/$name.log"; exit 1; }
  [ -s "$out/$name.png" ] || { echo "no picture for $name" >&2; cat "$work/$name.log"; exit 1; }
  echo "wrote docs/img/$name.png"
}

render field "" l field.fits d 1 n q
# Remove a star: click it, click its centre; the answers stop at the radius question.
render removal "" l field.fits d 1 n r 1 "$star" "$star"
# Remove the listed stars automatically (option 9), then show the whole field.
render cleaned "" l field.fits r 9 0 d 1 n q
# Flux profile out to 100 pixels in circular annuli, after taking the sky level of about
# 1000 counts off (the sky histogram panel spans -400 to 400 counts); sky as measured.
render profile "" l field.fits a "- 1000" d 1 n g 1 "$galaxy" "100 1" "0 0" 0 q
