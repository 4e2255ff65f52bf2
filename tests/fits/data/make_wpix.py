#!/usr/bin/python3
"""Rebuilds wpix.fits.gz from the test image that Debian's `iraf` package ships.

IRAF keeps it in its own image format: the header dev/wpix.imh (its cards start at byte
2046, one per line) and the pixels in dev/pix.pix (512 x 512 big-endian 16-bit integers
after a 2048-byte header). The FITS file keeps every card and the pixels unchanged and
names the image's title, "m51  B  600s", in OBJECT.

    apt-get download iraf && dpkg-deb -x iraf_*.deb iraf
    tests/fits/data/make_wpix.py iraf/usr/lib/iraf/dev tests/fits/data/wpix.fits.gz
"""
import sys

import numpy as np
from astropy.io import fits

dev, out = sys.argv[1], sys.argv[2]
raw = open(dev + "/wpix.imh", "rb").read()
cards = [line for line in raw[2046:].rstrip(b"\0").decode("ascii").split("\n") if line.strip()]
title = raw[0x27E:0x27E + 80].split(b"\0")[0].decode("ascii")
pixels = np.frombuffer(open(dev + "/pix.pix", "rb").read()[2048:], dtype=">i2").reshape(512, 512)

hdu = fits.PrimaryHDU(pixels)
hdu.header["OBJECT"] = title
for c in cards:
    hdu.header.append(fits.Card.fromstring(c), end=True)
hdu.writeto(out, overwrite=True)
