// FITS image reading and writing through CFITSIO. Only this module includes fitsio.h.
#pragma once

#include <string>
#include <vector>

#include "fits/file_origin.h"
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
  NotRegular, // a FIFO, device or folder: refused unopened with one line
};

// READ_FITS_2D_IMAGE: reads the first image of `filename` (plain, gzip or tile-compressed;
// the name is a plain file name, trailing blanks ignored) as 32-bit floats with
// BSCALE/BZERO applied and undefined pixels set to -999.0; of a cube, the first plane.
// Pixels load where they are in the file (CRVALn are sky coordinates, not offsets).
// Prints " Reading in <name>", " nxpix, nypix = nx ny" and an empty line; on failure the
// NAXISn message, a one-line refusal or the FITS error report. Only on Loaded are `image`,
// `slot_header` and `texts` changed, and then they hold this file's values alone: a value
// absent from the file (or not readable) is 0 or blank, never that of an earlier file.
// `slot_header.cards` receives every card of the image's header, END excluded (of a
// tile-compressed image, the header of the image it holds, as CFITSIO restores it).
// `origin`, when given, receives how the file is stored, whether the image was its only
// content, and its identity (left unknown if the file changed while it was read).
// `status` receives the CFITSIO status (0 unless the outcome is FitsError).
// When `range` is given and the reader met every pixel on the way (plain files), it receives
// the smallest and largest finite pixel, as finite_range would give them; otherwise its
// `known` stays false.
struct LoadedRange {
  bool known = false;
  float lo = 0.0f, hi = 0.0f;
};
ReadOutcome READ_FITS_2D_IMAGE(const std::string& filename, Image& image, SlotHeader& slot_header,
                               HeaderTexts& texts, int& status, Console& con, FileOrigin* origin = nullptr,
                               LoadedRange* range = nullptr);

// WRITE_FITS_2D_IMAGE: creates a new FITS file of BITPIX -32 holding `image`, stored as
// kind_for_name(filename) says (plain, gzip or tile-compressed; tile compression is the
// lossless GZIP_2 of the float pixels). The header carries `cards` (80-column cards of the
// image's source) except the structural, scaling, checksum and compression cards, which
// describe the old data and not these, then one HISTORY card saying when Zelvo wrote the
// file; a source with a CHECKSUM gets a fresh one. An existing file (or folder) of that name
// is never overwritten (CFITSIO status 105). The data go to a temporary file in the same
// folder, renamed to `filename` only after a complete, closed write, so no partial file
// ever carries the name; a new file gets mode 0666 less the umask. Returns the CFITSIO
// status (0 on success); a failure leaves no file behind and puts its reason on the message
// stack. On success `written`, when given, describes the new file.
int WRITE_FITS_2D_IMAGE(const std::string& filename, const ImageView& image,
                        const std::vector<std::string>& cards = {}, FileOrigin* written = nullptr);

// Whether X may write an image back over `filename`, the file described by `origin`.
enum class ReplaceVerdict {
  Allowed,
  NotLone,      // the file holds more than the one 2-D image (a cube, other HDUs)
  Changed,      // the name leads to another file, or the file changed, since the load
  NotWritable,  // this user may not write the file itself
};
ReplaceVerdict may_replace(const std::string& filename, const FileOrigin& origin);

// Writes `image` over the existing file `filename` as WRITE_FITS_2D_IMAGE writes a new one,
// in the file's own kind (`origin.kind`; a tile-compressed file keeps its primary header).
// Only when may_replace allows it, checked again just before the temporary file is renamed
// over the original; a symbolic link is kept and its target replaced, the file keeps its
// permission bits. Returns 0 on success or a CFITSIO status with the reason on the message
// stack (FILE_NOT_CREATED when the file may not be replaced, WRITE_ERROR for a failed
// rename). The original file is untouched on failure and no temporary file is left. On
// success `written`, when given, describes the new file.
int REPLACE_FITS_2D_IMAGE(const std::string& filename, const ImageView& image, const std::vector<std::string>& cards,
                          const FileOrigin& origin, FileOrigin* written = nullptr);

// PRINT_FITS_ERROR: for status > 0 prints "FITSIO Error Status = <status>: <text>" and
// the CFITSIO message stack, oldest first. Returns; the caller goes back to its menu.
void PRINT_FITS_ERROR(int status, Console& con);

}  // namespace zelvo
