// FITS image reading and writing through CFITSIO: the fits layer's public face. Only the
// fits folder includes fitsio.h. Nothing here prints: a read returns what it found and why
// it stopped, and every failure comes back as a FitsError value (session/fits_reports.h
// prints them).
//
// File names are taken literally (fits_open_diskfile / fits_create_diskfile): a name typed
// at L or S is a file on disk, never CFITSIO's extended syntax, so "-" does not read the
// command input, "!name" does not clobber a file and brackets are plain characters.
// Gzip-compressed files are still recognised by their content.
#pragma once

#include <string>
#include <vector>

#include "fits/file_origin.h"
#include "fits/fits_error.h"
#include "fits/header_values.h"
#include "numeric/image_view.h"

namespace zelvo {

enum class ReadOutcome {
  loaded,       // `image`, `header`, `texts`, `origin` and `range` hold the file's values
  no_naxis,     // fewer than two axes: no NAXISn pair to take the size from
  no_pixels,    // an axis of length 0 or less
  fits_error,   // `error` says what CFITSIO (or a damage check) found
  too_large,    // the image could not be allocated
  not_regular,  // a FIFO, device or folder: refused unopened (`special_kind` says which)
  refused,      // values that would not load honestly (`refusal`, one line, says which)
};

// When the reader met every pixel on the way (plain files): the smallest and largest finite
// pixel, as finite_range would give them; otherwise `known` is false.
struct LoadedRange {
  bool known = false;
  float lo = 0.0f, hi = 0.0f;
};

// What one READ_FITS_2D_IMAGE found.
struct FitsRead {
  ReadOutcome outcome = ReadOutcome::fits_error;
  std::string name;          // the file name read: the one given (see file_name_meant)
  std::string special_kind;  // NotRegular: what the name is ("a folder", ...)
  std::string refusal;       // Refused: why, in one line
  bool size_read = false;    // NAXIS1 and NAXIS2 were read into nx and ny
  long long nx = 0, ny = 0;
  long long planes = 1;  // the planes of a cube (the axes beyond the second together), capped
  FitsError error;       // FitsError: status, CFITSIO's text and the messages
  // Only on Loaded, and then this file's values alone: a value absent from the file (or not
  // readable) is 0 or blank.
  Image image;
  SlotHeader header;
  HeaderTexts texts;
  FileOrigin origin;
  LoadedRange range;
};

// READ_FITS_2D_IMAGE: reads the first image of `filename` (plain, gzip or tile-compressed;
// the name is a plain file name, trailing blanks ignored when no file has them) as 32-bit floats with
// BSCALE/BZERO applied and undefined pixels set to -999.0; of a cube, the first plane.
// Pixels load where they are in the file (CRVALn are sky coordinates, not offsets).
// `header.cards` receives every card of the image's header, END excluded (of a
// tile-compressed image, the header of the image it holds, as CFITSIO restores it).
// `origin` says how the file is stored, whether the image was its only content, its pixel
// type and its identity. A file that changed while it was read is read once more, and
// refused (Refused) if it changed again; so are pixels beyond the range of 32-bit floats and
// BSCALE or BZERO cards that are not numbers.
FitsRead READ_FITS_2D_IMAGE(const std::string& filename);

// Test hook: called after a read has taken the pixels and before it checks the file is
// unchanged (attempt 0 is the first read). Null outside tests.
extern void (*g_after_pixels_read_hook)(const std::string& name, int attempt);

// WRITE_FITS_2D_IMAGE: creates a new FITS file of BITPIX -32 holding `image`, stored as
// kind_for_name(filename) says (plain, gzip or tile-compressed; tile compression is the
// lossless GZIP_2 of the float pixels). The header carries `cards` (80-column cards of the
// image's source) except the structural, scaling, checksum and compression cards, which
// describe the old data and not these, then one HISTORY card saying when Zelvo wrote the
// file; a source with a CHECKSUM gets a fresh one. An existing file (or folder) of that name
// is never overwritten (CFITSIO status 105). The data go to a temporary file in the same
// folder, renamed to `filename` only after a complete, closed write, so no partial file
// ever carries the name; a new file gets mode 0666 less the umask. A failure leaves no file
// behind and comes back with its status and reasons; on success `written`, when given,
// describes the new file.
// With `undefined_as_null`, pixels of kUndefinedPixel are written as NaN.
FitsError WRITE_FITS_2D_IMAGE(const std::string& filename, ConstImageView image,
                              const std::vector<std::string>& cards = {}, FileOrigin* written = nullptr,
                              bool undefined_as_null = false);

// The temporaries of writes by processes that no longer run, in `folder`: removed; returns
// their names. A temporary carries the writing process's id, so a live one's is kept.
std::vector<std::string> remove_stale_temporaries(const std::string& folder);

// Whether X may write an image back over `filename`, the file described by `origin`.
enum class ReplaceVerdict {
  allowed,
  not_lone,         // the file holds more than the one 2-D image (a cube, other HDUs)
  changed,          // the name leads to another file, or the file changed, since the load
  not_writable,     // this user may not write the file itself
  write_protected,  // the file's mode has no write bit (kept for root too)
  not_exact,        // floats did not hold the file's values exactly when it was loaded
  not_own_type,     // the image's values are not all values of the file's (integer) type
};
ReplaceVerdict may_replace(const std::string& filename, const FileOrigin& origin);
// As above, and also whether `image` can go back in the file's own type.
ReplaceVerdict may_replace(const std::string& filename, const FileOrigin& origin, ConstImageView image);

// Writes `image` over the existing file `filename` as WRITE_FITS_2D_IMAGE writes a new one,
// in the file's own kind (`origin.kind`; a tile-compressed file keeps its primary header),
// and a wide file (`origin.type.wide`) in its own BITPIX, BSCALE and BZERO.
// Only when may_replace allows it, checked again just before the temporary file is renamed
// over the original; a symbolic link is kept and its target replaced, the file keeps its
// permission bits. Fails with FILE_NOT_CREATED when the file may not be replaced, WRITE_ERROR
// for a failed rename, or CFITSIO's status; the original file is untouched on failure and no
// temporary file is left. On success `written`, when given, describes the new file.
FitsError replace_fits_2d_image(const std::string& filename, ConstImageView image,
                                const std::vector<std::string>& cards, const FileOrigin& origin,
                                FileOrigin* written = nullptr);

}  // namespace zelvo
