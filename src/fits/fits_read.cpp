// READ_FITS_2D_IMAGE in its steps: open the file (refusing special files and damaged
// archives), read the axes, read the cards and the values taken from them, read the pixels,
// and tell how and where the file is stored.
#include <fitsio.h>
#include <sys/stat.h>

#include <new>
#include <stdexcept>

#include "fits/damage_checks.h"
#include "fits/fits_io.h"
#include "fits/header_cards.h"
#include "fits/plain_read.h"
#include "numeric/large_pages.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "platform/memory.h"

namespace zelvo {

namespace {

constexpr long long kAllPixelsCap = 1LL << 50;  // the pixel count of every axis, capped

// Value given to pixels that CFITSIO reports as undefined (BLANK, or NaN in float data).
constexpr float kNullPixel = kUndefinedPixel;

// Closes a CFITSIO file on every way out of a routine that has not closed it itself.
struct OpenFits {
  fitsfile* f = nullptr;
  OpenFits() = default;
  OpenFits(const OpenFits&) = delete;
  OpenFits& operator=(const OpenFits&) = delete;
  ~OpenFits() {
    if (f != nullptr) {
      int ignored = 0;
      fits_close_file(f, &ignored);
    }
  }
  // Closes the file, adding any error to `status` (CFITSIO frees the handle either way).
  void close(int& status) {
    int s = 0;
    fits_close_file(f, &s);
    f = nullptr;
    if (status <= 0) status = s;
  }
};

// The image HDU's type and axes: NAXIS1 and NAXIS2 give the size, a third axis only counts
// for its first plane.
struct Axes {
  int bitpix = 0;
  int naxis = 0;
  LONGLONG n[9] = {};

  // The pixels of every axis together, capped at kAllPixelsCap.
  long long all_pixels() const {
    long long all = 1;
    for (int i = 0; i < naxis && i < 9; ++i) all = n[i] > kAllPixelsCap / all ? kAllPixelsCap : all * n[i];
    return all;
  }
};

// Ends the read with a FITS error: CFITSIO's messages, then the program's own.
bool failed(FitsRead& r, int status, std::initializer_list<std::string_view> own = {}) {
  r.outcome = ReadOutcome::FitsError;
  r.error = fits_failure(status, own);
  return false;
}

bool stopped(FitsRead& r, ReadOutcome outcome) {
  r.outcome = outcome;
  return false;
}

// A FIFO, device or folder is refused before anything opens it: reading one could block
// for ever. (CFITSIO finds a missing plain name under .gz itself, so only an existing path
// is looked at.) Then the file is opened and moved to its first image.
bool open_image(const std::string& name, OpenFits& file, FitsRead& r) {
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    r.special_kind = special_file_kind(st.st_mode);
    return stopped(r, ReadOutcome::NotRegular);
  }
  if (!gzip_size_plausible(name)) return failed(r, DATA_DECOMPRESSION_ERR, {kDamagedGzip});
  int status = 0;
  if (fits_open_diskfile(&file.f, name.c_str(), READONLY, &status) > 0) {
    file.f = nullptr;
    return failed(r, status);
  }
  int primary_axes = 0;
  fits_get_img_dim(file.f, &primary_axes, &status);
  if (status <= 0 && primary_axes == 0 && !extensions_readable(name)) return failed(r, READ_ERROR, {kExtensionsFailed});
  move_to_first_image(file.f, status);
  return status > 0 ? failed(r, status) : true;
}

bool read_axes(fitsfile* f, Axes& axes, FitsRead& r) {
  int status = 0;
  if (fits_get_img_paramll(f, 9, &axes.bitpix, &axes.naxis, axes.n, &status) > 0) return failed(r, status);
  if (axes.naxis < 2) return stopped(r, ReadOutcome::NoNaxis);
  r.size_read = true;
  r.nx = axes.n[0];
  r.ny = axes.n[1];
  for (int i = 0; i < axes.naxis && i < 9; ++i)
    if (axes.n[i] <= 0) return stopped(r, ReadOutcome::NoPixels);
  return true;
}

bool read_header(fitsfile* f, FitsRead& r) {
  int status = 0;
  std::vector<std::string> cards = read_cards(f, status);
  if (status > 0) return failed(r, status);
  take_header_values(cards, r.header, r.texts);
  r.header.cards = std::move(cards);
  return true;
}

// Gives `img` storage for nx x ny pixels; false (and `img` unchanged) when the size
// overflows, is beyond what the machine can hold, or the allocation fails.
bool allocate_image(Image& img, long long nx, long long ny) {
  if (!image_size_reasonable(nx, ny)) return false;
  try {
    Image fresh;
    const std::size_t n = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
    fresh.px.reserve(n);
    ask_for_large_pages(fresh.px.data(), n * sizeof(float));
    fresh.px.resize(n);
    fresh.nx = static_cast<int>(nx);
    fresh.ny = static_cast<int>(ny);
    img = std::move(fresh);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

// The first plane's pixels, straight into the new image: any BITPIX converted to float,
// BSCALE and BZERO applied, undefined pixels set to the null value. Damaged sizes and tiles
// are refused before anything is allocated for them. A plain file's data block is read
// directly (as CFITSIO would convert it, without its buffer copies); a tile-compressed one
// is unpacked in a child process; anything else goes through CFITSIO. `pending` receives the
// status and messages of the read.
bool read_pixels(fitsfile* f, const std::string& name, const Axes& axes, FitsRead& r, FitsError& pending) {
  const long long nx = axes.n[0];
  const long long ny = axes.n[1];
  if (!image_size_reasonable(nx, ny)) return stopped(r, ReadOutcome::TooLarge);
  // Reported as the end-of-file error that reading the pixels would have met.
  if (!data_present(f, axes.bitpix, nx, ny)) return failed(r, END_OF_FILE, {kTruncated});
  if (!compressed_tiles_sound(f, axes.all_pixels(), nx * ny)) return failed(r, DATA_DECOMPRESSION_ERR, {kDamagedTiles});
  if (!allocate_image(r.image, nx, ny)) return stopped(r, ReadOutcome::TooLarge);
  float nullval = kNullPixel;
  int compressed_status = 0;
  if (fits_is_compressed_image(f, &compressed_status)) {
    pending = read_compressed_pixels(f, r.image, nullval);
  } else if (read_plain_pixels(f, name, nullval, r.image.px, r.range.lo, r.range.hi)) {
    r.range.known = true;
  } else {
    int anynull = 0;
    fits_read_img(f, TFLOAT, 1, static_cast<LONGLONG>(r.image.px.size()), &nullval, r.image.px.data(), &anynull,
                  &pending.status);
  }
  return true;
}

// How the file holding the current (loaded) image HDU is stored, and whether that image
// of `naxis` axes is all it holds: a 2-D primary array with nothing after it, or an empty
// primary array and a 2-D tile-compressed image with nothing after it (not inside gzip).
// Whatever follows the image HDU (another HDU, or bytes CFITSIO cannot place) makes it
// more than a lone image. The identity is left for the caller.
FileOrigin describe_loaded(fitsfile* f, const std::string& path, int naxis) {
  FileOrigin o;
  int status = 0;
  const bool compressed = fits_is_compressed_image(f, &status) != 0;
  const bool gz = is_gzip(path);
  o.kind = gz ? FileKind::Gzip : compressed ? FileKind::TileCompressed : FileKind::Plain;
  int hdu = 0;
  fits_get_hdu_num(f, &hdu);
  LONGLONG headstart = 0, datastart = 0, dataend = 0;
  if (fits_get_hduaddrll(f, &headstart, &datastart, &dataend, &status) > 0) {
    fits_clear_errmsg();
    return o;
  }
  const bool nothing_after = dataend >= f->Fptr->logfilesize;
  const bool lone_layout = compressed ? (hdu == 2 && !gz) : hdu == 1;
  o.lone_image = naxis == 2 && nothing_after && lone_layout;
  return o;
}

// Tells how the file is stored, closes it and ends the read: loaded, or failed with the
// pixel read's error (or the close's).
bool finish(OpenFits& file, const std::string& name, const FileIdentity& identity, const Axes& axes, FitsRead& r,
            FitsError pending) {
  r.origin = describe_loaded(file.f, name, axes.naxis);
  int status = pending.status;
  file.close(status);
  if (status > 0) {
    set_fits_status(pending, status);
    r.error = std::move(pending);
    return stopped(r, ReadOutcome::FitsError);
  }
  // A file replaced or changed while it was read is not known as the one loaded.
  r.origin.identity = identity_of(name) == identity ? identity : FileIdentity{};
  r.outcome = ReadOutcome::Loaded;
  return true;
}

}  // namespace

FitsRead READ_FITS_2D_IMAGE(const std::string& filename) {
  fits_clear_errmsg();  // the error must hold this read's messages only
  FitsRead r;
  r.name = trim_right(filename);
  const FileIdentity identity = identity_of(r.name);  // compared again after the read
  OpenFits file;
  Axes axes;
  FitsError pending;
  if (open_image(r.name, file, r) && read_axes(file.f, axes, r) && read_header(file.f, r) &&
      read_pixels(file.f, r.name, axes, r, pending))
    finish(file, r.name, identity, axes, r, std::move(pending));
  if (r.outcome != ReadOutcome::Loaded) {
    // Only a whole load hands values on.
    r.image = Image();
    r.header = SlotHeader();
    r.texts = HeaderTexts();
    r.origin = FileOrigin();
    r.range = LoadedRange();
  }
  return r;
}

}  // namespace zelvo
