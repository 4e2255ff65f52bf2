// Checks that keep damaged FITS files from crashing, hanging or exhausting the program:
// each looks at the numbers a file claims before CFITSIO trusts them, and the two steps
// CFITSIO may die in run in a child process. Used inside the fits folder only.
#pragma once

#include <fitsio.h>

#include <string>

#include "fits/fits_error.h"
#include "numeric/image_view.h"

namespace zelvo {

// The program's messages for the damage these checks find.
inline constexpr const char* kTruncated = "the file holds less data than its header describes (truncated?)";
inline constexpr const char* kDamagedGzip = "the gzip file is damaged: its size field cannot belong to its data";
inline constexpr const char* kUnpackFailed = "the compressed image is damaged: unpacking it failed";
inline constexpr const char* kExtensionsFailed = "the file is damaged: reading the headers of its extensions failed";
inline constexpr const char* kDamagedTiles =
    "the compressed image is damaged: one of its tiles cannot be unpacked soundly";

// Whether the file begins with the two bytes of the gzip format.
bool is_gzip(const std::string& path);

// Whether a gzip file's trailer gives an unpacked size that its compressed size can hold
// (files that are not gzip pass). A FIFO put in place of the file is refused unread.
bool gzip_size_plausible(const std::string& path);

// Whether CFITSIO can look through the extensions of `name` (find its image, read its size
// and cards) without dying; tried in a child process.
bool extensions_readable(const std::string& name);

// Whether the file holds the bytes of the first nx x ny plane of the current image HDU
// (tile-compressed images pass: their pixels are elsewhere).
bool data_present(fitsfile* f, int bitpix, long long nx, long long ny);

// Whether a tile-compressed image can be unpacked without trusting damaged numbers: the
// table and heap within the file, every descriptor inside the heap, no tile larger than the
// image (`image_pixels`, every axis) or far larger than its first plane (`plane_pixels`),
// and every GZIP tile coming to its end. Images that are not tile-compressed pass.
bool compressed_tiles_sound(fitsfile* f, long long image_pixels, long long plane_pixels);

// Reads the pixels of a tile-compressed image into `img` (already of the image's size) in a
// child process, so that a decompressor crashing on damaged data ends only the child. The
// result holds the status and, in order, the messages CFITSIO held before, those of the
// unpacking and the program's own; status 0 with `img` filled on success.
FitsError read_compressed_pixels(fitsfile* f, Image& img, float nullval);

}  // namespace zelvo
