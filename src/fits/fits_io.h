// FITS image reading and writing through CFITSIO. Only this module includes fitsio.h.
#pragma once

#include <string>
#include <vector>

#include "fits/header_values.h"
#include "numeric/image_view.h"

namespace zelvo {

class Console;

enum class ReadOutcome {
  Loaded,     // `image`, `slot_header` and `texts` hold the new values
  NoNaxis,    // "READIMAGE failed to read the NAXISn keywords." was printed
  NoPixels,   // an axis of length 0 or less; a message was printed
  FitsError,  // the FITS error report was printed
  TooLarge,   // the image could not be allocated; a message was printed
};

// READ_FITS_2D_IMAGE: reads the first image of `filename` (plain, gzip or tile-compressed;
// the name is a plain file name, trailing blanks ignored) as 32-bit floats with
// BSCALE/BZERO applied and undefined pixels set to -999.0; of a cube, the first plane.
// Pixels load where they are in the file (CRVALn are sky coordinates, not offsets).
// Prints " Reading in <name>", " nxpix, nypix = nx ny" and an empty line; on failure the
// NAXISn message, a one-line refusal or the FITS error report. Only on Loaded are `image`,
// `slot_header` (EXPTIME, OBJECT) and `texts` (ST, RA, DEC, filter) changed; header values
// absent from the file, or not readable as numbers, keep their previous values.
// `status` receives the CFITSIO status (0 unless the outcome is FitsError).
// When `range` is given and the reader met every pixel on the way (plain files), it receives
// the smallest and largest finite pixel, as finite_range would give them; otherwise its
// `known` stays false.
struct LoadedRange {
  bool known = false;
  float lo = 0.0f, hi = 0.0f;
};
ReadOutcome READ_FITS_2D_IMAGE(const std::string& filename, Image& image, SlotHeader& slot_header,
                               HeaderTexts& texts, int& status, Console& con, LoadedRange* range = nullptr);

// WRITE_FITS_2D_IMAGE: creates a new FITS file of BITPIX -32 holding `image`. An existing
// file (or folder) of that name is never overwritten (CFITSIO status 105). The data go to a
// temporary file in the same folder, renamed to `filename` only after a complete, closed
// write, so no partial file ever carries the name. Returns the CFITSIO status (0 on
// success); a failure leaves no file behind and puts its reason on the message stack.
int WRITE_FITS_2D_IMAGE(const std::string& filename, const ImageView& image);

// Writes `image` over the existing file `filename`: the data go to a temporary file in the
// same folder, which is renamed over the original only after a complete, closed write (a
// symbolic link is kept and its target replaced; the file's permissions are kept). Returns
// 0 on success or a CFITSIO status; a failed rename is WRITE_ERROR (106) with the system's
// reason on the CFITSIO message stack, so PRINT_FITS_ERROR shows it. The original file is
// untouched on failure and no temporary file is left.
int REPLACE_FITS_2D_IMAGE(const std::string& filename, const ImageView& image);

// PRINT_FITS_ERROR: for status > 0 prints "FITSIO Error Status = <status>: <text>" and
// the CFITSIO message stack, oldest first. Returns; the caller goes back to its menu.
void PRINT_FITS_ERROR(int status, Console& con);

}  // namespace zelvo
