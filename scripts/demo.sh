#!/bin/sh
# Installs and builds only what running Zelvo needs, prepares demo/ with a Zelvo.ini and a synthetic sample field
# (demo/field.fits) and starts Zelvo there. Extra arguments go to zelvo (e.g. --device /null).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh --demo
mkdir -p demo
[ -f demo/Zelvo.ini ] || printf '2        window size: 1 = 1280x1024, 2 = 1024x768, 3 = 800x600\n0        extended logs: 1 = on\nzscale   automatic levels: text or zscale\nlinear   stretch: linear, sqrt, log or asinh\n' > demo/Zelvo.ini
[ -f demo/field.fits ] || build/zelvo-field --size 512x512 --seed 2001 --out demo/field.fits
echo "Demo folder: $(pwd)/demo   (sample image: field.fits; try L, field.fits, D, 1)"
cd demo
exec ../build/zelvo "$@"
