#!/usr/bin/python3
"""The profile's sky and the line repair measured on M51 and on synthetic frames, in one run.

Usage: bench/sky_and_lines.py BUILD_DIR

Sky: `zelvo run profile` on M51 (centre 258,259, extent 230, step 5, shape 0.35, 80 deg) and on
three synthetic exponential discs that fill 60-90 % of the frame (light above half the noise),
against the true sky (synthetic), the clipped mode of the empty corners (M51) and photutils'
Background2D on the frame with the galaxy's extent masked.
Lines: `zelvo run remove` with a row entry (type 7) on M51's row 110 and on synthetic rows
2, 4 and 8 sigma low beside knots: the run repaired and what became of the knot beside it.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np
from astropy.io import fits
from astropy.stats import SigmaClip
from astropy.table import Table
from photutils.background import Background2D, ModeEstimatorBackground

HERE = os.path.dirname(os.path.abspath(__file__))
M51 = os.path.join(HERE, "..", "tests", "data", "m51.fits")


def zelvo(build, args):
    return subprocess.run([os.path.join(build, "zelvo"), "run"] + args, capture_output=True, text=True)


def rho(shape, xc, yc, e, pa_deg):
    y, x = np.mgrid[1:shape[0] + 1, 1:shape[1] + 1]
    p = np.radians(pa_deg)
    u = (x - xc) * np.cos(p) + (y - yc) * np.sin(p)
    v = -(x - xc) * np.sin(p) + (y - yc) * np.cos(p)
    return np.sqrt(u * u + v * v / (1 - e * e))


def photutils_sky(data, mask, box):
    bkg = Background2D(data, box, mask=mask, sigma_clip=SigmaClip(sigma=3.0), bkg_estimator=ModeEstimatorBackground(),
                       exclude_percentile=50.0)
    return float(np.median(bkg.background_mesh[np.isfinite(bkg.background_mesh)])), float(
        np.nanmin(bkg.background_mesh))


def profile_sky(build, tmp, name, data, xc, yc, R, e, pa):
    path = os.path.join(tmp, name + ".fits")
    fits.writeto(path, data.astype(np.float32), overwrite=True)
    out = os.path.join(tmp, name + ".out")
    r = zelvo(build, ["profile", path, "--centre", "%g,%g" % (xc, yc), "--extent", "%g,5" % R, "--shape",
                      "%g,%g" % (e, pa), "--out", out])
    if r.returncode != 0:
        return None, None, r.stderr.strip()
    t = Table.read(os.path.join(out, name + ".ZelvoProfile1.ecsv"), format="ascii.ecsv")
    err = t.meta.get("sky_err")
    return float(t.meta["sky"]), (float(err) if err is not None else float("nan")), r.stdout.strip()


def sky_part(build, tmp):
    print("Profile sky (zelvo: the sky beyond the extent from boxes without galaxy light)")
    print("%-28s %9s %9s %9s %9s %10s %9s" % ("frame", "truth", "zelvo", "+/-", "off/sig", "photutils", "fill"))
    d = fits.getdata(M51).astype(float)
    corners = [d[1:61, 1:61], d[-61:-1, -61:-1]]
    truth = float(np.mean([np.ma.mean(SigmaClip(sigma=3.0)(c.ravel())) for c in corners]))
    sig = float(np.mean([np.ma.std(SigmaClip(sigma=3.0)(c.ravel())) for c in corners]))
    sky, err, _ = profile_sky(build, tmp, "m51", d, 258, 259, 230, 0.35, 80)
    mask = rho(d.shape, 258, 259, 0.35, 80) < 230
    med, low = photutils_sky(d, mask, 32)
    print("%-28s %9.2f %9.2f %9.2f %9.2f %10.2f %9s   (truth: clipped mean of the two empty corners; photutils "
          "lowest mesh %.2f)" % ("M51 (corners)", truth, sky, err, (sky - truth) / sig, med, "-", low))
    rng = np.random.default_rng(7)
    discs = [  # n, xc, yc, I0, h, e, pa, R
        (256, 128, 128, 3000.0, 30.0, 0.80, 45.0, 150.0),
        (240, 115, 125, 2000.0, 26.0, 0.75, -45.0, 120.0),
        (300, 150, 150, 5000.0, 32.0, 0.85, 40.0, 160.0),
    ]
    for k, (n, xc, yc, I0, h, e, pa, R) in enumerate(discs):
        sky_true, noise = 150.0, 10.0
        r = rho((n, n), xc, yc, e, pa)
        light = I0 * np.exp(-r / h)
        data = sky_true + light + rng.normal(0.0, noise, (n, n))
        fill = float(np.mean(light > 0.5 * noise))
        sky, err, _ = profile_sky(build, tmp, "disc%d" % k, data, xc, yc, R, e, pa)
        med, _ = photutils_sky(data, r < R, max(8, n // 16))
        print("%-28s %9.2f %9.2f %9.2f %9.2f %10.2f %9.2f" % ("disc %d (%dx%d, h %g)" % (k + 1, n, n, h), sky_true,
                                                                 sky, err, (sky - sky_true) / noise, med, fill))


def repair_row(build, tmp, name, data, row, x_click):
    path = os.path.join(tmp, name + ".fits")
    fits.writeto(path, data.astype(np.float32), overwrite=True)
    lst = os.path.join(tmp, name + ".list")
    with open(lst, "w") as f:
        f.write("7 %g %g 0\n" % (x_click, row))
    out = os.path.join(tmp, name + ".rout")
    r = zelvo(build, ["remove", path, "--list", lst, "--out", out, "--seed", "5"])
    clean = os.path.join(out, name + ".clean.fits")
    if not os.path.exists(clean):
        return None, r.stderr.strip()
    return fits.getdata(clean).astype(float), r.stdout.strip()


def lines_part(build, tmp):
    print()
    print("Row repair (zelvo run remove, a type 7 entry clicked on the row)")
    print("%-26s %14s %12s %12s %14s" % ("frame", "run repaired", "row before", "row after", "knot beside"))
    d = fits.getdata(M51).astype(float)
    after, why = repair_row(build, tmp, "m51row", d, 110, 256)
    if after is None:
        print("M51 row 110: not repaired:", why)
    else:
        changed = np.nonzero(after[109] != d[109])[0] + 1
        around = 0.5 * (d[107] + d[111])
        print("%-26s %14s %12.1f %12.1f %7.0f->%-6.0f" % (
            "M51 row 110", "%d-%d" % (changed.min(), changed.max()) if changed.size else "none",
            np.median(d[109] - around), np.median(after[109] - around), d[108, 87], after[108, 87]))
    rng = np.random.default_rng(3)
    for k in (2, 4, 8):
        n, noise, row = 200, 5.0, 100
        y, x = np.mgrid[1:n + 1, 1:n + 1]
        data = 300.0 + rng.normal(0.0, noise, (n, n))
        data += 400.0 * np.exp(-((x - 60) ** 2 + (y - (row + 1)) ** 2) / 4.5)  # a knot on the next row
        data += 400.0 * np.exp(-((x - 140) ** 2 + (y - row) ** 2) / 4.5)  # a knot crossing the row
        truth = data.copy()
        data[row - 1] -= k * noise
        after, why = repair_row(build, tmp, "low%d" % k, data, row, 100)
        if after is None:
            print("%-26s not repaired: %s" % ("%d sigma low row" % k, why))
            continue
        changed = np.nonzero(after[row - 1] != data[row - 1])[0] + 1
        print("%-26s %14s %12.1f %12.1f %7.0f->%-6.0f" % (
            "%d sigma low row %d" % (k, row), "%d-%d" % (changed.min(), changed.max()) if changed.size else "none",
            np.median(data[row - 1] - truth[row - 1]), np.median(after[row - 1] - truth[row - 1]), data[row, 59],
            after[row, 59]))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as tmp:
        sky_part(sys.argv[1], tmp)
        lines_part(sys.argv[1], tmp)


if __name__ == "__main__":
    main()
