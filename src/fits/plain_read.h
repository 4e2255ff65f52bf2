// Reading the pixels of a plain (uncompressed) FITS image straight from its data block,
// converted exactly as CFITSIO converts them to 32-bit floats. CFITSIO reads and checks the
// header; only the pixels bypass its buffers, which costs it a copy per pixel.
#pragma once

#include <fitsio.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "numeric/image_range.h"

namespace zelvo {

// How the data block of an image is laid out and scaled.
struct RawLayout {
  int bitpix = 0;            // 8, 16, 32, -32 or -64 (big-endian in the file)
  double scale = 1.0;        // BSCALE
  double zero = 0.0;         // BZERO
  bool blank_check = false;  // integer data with a usable BLANK value
  int64_t blank = 0;         // BLANK
  long long offset = 0;      // byte offset of the first pixel in the file
};

// Converts `out.size()` raw big-endian values at `raw` into floats as CFITSIO's reader does
// with the null value `nullval`: integers equal to BLANK and floats with an all-ones
// exponent (NaN, infinity) become `nullval`; floats with an all-zero exponent (zero and
// denormals) become 0, or BZERO when the data are scaled; everything else is
// value * BSCALE + BZERO formed in double precision and rounded to float. Returns false when
// a value converted to a non-finite float (out of range of a float): CFITSIO treats that
// case in its own way, so the caller leaves it to CFITSIO.
bool convert_raw_pixels(const unsigned char* raw, const RawLayout& layout, float nullval, std::span<float> out);

// Reads the first `out.size()` pixels of the current image HDU of `f` (opened from the plain
// file `path`) into `out` through the file's own descriptor, in chunks of at most
// kRawChunkBytes. Returns false, with `out` in an undefined state, when the file or HDU is
// not one this path handles (compressed or gzip data, random groups, 64-bit integers, a
// layout CFITSIO describes otherwise), when the file cannot be read to the end of the data,
// or when convert_raw_pixels refuses a value: the caller then reads with CFITSIO, which
// reports any error itself. On success it returns the smallest and largest finite pixel
// read (undefined ones hold `nullval`), as finite_range gives them, found while each chunk
// is still in cache.
inline constexpr std::size_t kRawChunkBytes = std::size_t{1} << 18;
std::optional<ValueRange> read_plain_pixels(fitsfile* f, const std::string& path, float nullval, std::span<float> out);

}  // namespace zelvo
