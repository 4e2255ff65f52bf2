// READ_FITS_2D_IMAGE in its steps: open the file (refusing special files and damaged
// archives), read the axes, read the cards and the values taken from them, read the pixels,
// and tell how and where the file is stored.
#include <fitsio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>

#include "fits/damage_checks.h"
#include "fits/fits_io.h"
#include "fits/header_cards.h"
#include "fits/plain_read.h"
#include "numeric/large_pages.h"
#include "platform/log_file.h"
#include "platform/memory.h"
#include "text/list_format.h"

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
  r.outcome = ReadOutcome::fits_error;
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
    return stopped(r, ReadOutcome::not_regular);
  }
  if (!gzip_size_plausible(name)) return failed(r, DATA_DECOMPRESSION_ERR, {kDamagedGzip});
  int status = 0;
  if (fits_open_diskfile(&file.f, cfitsio_name(name).c_str(), READONLY, &status) > 0) {
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
  if (axes.naxis < 2) return stopped(r, ReadOutcome::no_naxis);
  r.size_read = true;
  r.nx = axes.n[0];
  r.ny = axes.n[1];
  for (int i = 0; i < axes.naxis && i < 9; ++i)
    if (axes.n[i] <= 0) return stopped(r, ReadOutcome::no_pixels);
  for (int i = 2; i < axes.naxis && i < 9; ++i)
    r.planes = axes.n[i] > kAllPixelsCap / r.planes ? kAllPixelsCap : r.planes * axes.n[i];
  return true;
}

// The card `key` of the current header, blanks at its end removed; empty when it is absent.
std::string card_text(fitsfile* f, const char* key) {
  char card[FLEN_CARD] = {};
  int status = 0;
  if (fits_read_card(f, key, card, &status) > 0) {
    fits_clear_errmsg();
    return "";
  }
  return trim_right(card);
}

// CFITSIO takes a BSCALE or BZERO it cannot read as 1 or 0 and goes on, showing the stored
// integers as if they were the values: such a file is refused, naming the card.
bool scaling_readable(fitsfile* f, FitsRead& r) {
  for (const char* key : {"BSCALE", "BZERO"}) {
    const std::string card = card_text(f, key);
    if (card.empty()) continue;
    int status = 0;
    double v = 0.0;
    if (fits_read_key(f, TDOUBLE, key, &v, nullptr, &status) <= 0 && std::isfinite(v)) continue;
    fits_clear_errmsg();
    r.refusal = std::string("The ") + key + " card is not a number, so the pixel values are unknown (" + card +
                "); nothing was loaded.";
    return stopped(r, ReadOutcome::refused);
  }
  return true;
}

bool read_header(fitsfile* f, FitsRead& r) {
  int status = 0;
  std::vector<std::string> cards = read_cards(f, status);
  if (status > 0) return failed(r, status);
  if (!scaling_readable(f, r)) return false;
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
  if (!image_size_reasonable(nx, ny)) return stopped(r, ReadOutcome::too_large);
  // Reported as the end-of-file error that reading the pixels would have met.
  if (!data_present(f, axes.bitpix, nx, ny)) return failed(r, END_OF_FILE, {kTruncated});
  if (!compressed_tiles_sound(f, axes.all_pixels(), nx * ny)) return failed(r, DATA_DECOMPRESSION_ERR, {kDamagedTiles});
  if (!allocate_image(r.image, nx, ny)) return stopped(r, ReadOutcome::too_large);
  float nullval = kNullPixel;
  int compressed_status = 0;
  if (fits_is_compressed_image(f, &compressed_status)) {
    pending = read_compressed_pixels(f, r.image, nullval);
  } else if (const std::optional<ValueRange> range = read_plain_pixels(f, name, nullval, r.image.px)) {
    r.range.known = true;
    r.range.lo = range->lo;
    r.range.hi = range->hi;
  } else {
    int anynull = 0;
    fits_read_img(f, TFLOAT, 1, static_cast<LONGLONG>(r.image.px.size()), &nullval, r.image.px.data(), &anynull,
                  &pending.status);
  }
  return true;
}

// What the file's values are beside the floats loaded from them, found by reading the plane
// again as doubles.
struct ValueSurvey {
  long long beyond_float = 0;     // finite values beyond the range of floats
  long long undefined = 0;        // BLANK, NaN or infinite values
  bool exact = true;              // every other value is exactly its loaded float
  bool beyond_2_24 = false;       // some value's magnitude exceeds 2^24
  bool sentinel_defined = false;  // some defined value is kUndefinedPixel itself
};

ValueSurvey survey_values(fitsfile* f, const Image& img, int& status) {
  ValueSurvey v;
  constexpr std::size_t kChunk = std::size_t{1} << 16;
  std::vector<double> buf(std::min(kChunk, img.px.size()));
  double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t first = 0; first < img.px.size() && status <= 0; first += kChunk) {
    const std::size_t n = std::min(kChunk, img.px.size() - first);
    int anynull = 0;
    if (fits_read_img(f, TDOUBLE, static_cast<LONGLONG>(first + 1), static_cast<LONGLONG>(n), &nan, buf.data(),
                      &anynull, &status) > 0)
      break;
    for (std::size_t i = 0; i < n; ++i) {
      const double d = buf[i];
      if (!std::isfinite(d)) {
        ++v.undefined;
      } else if (std::fabs(d) > FLT_MAX) {
        ++v.beyond_float;
      } else {
        v.exact = v.exact && static_cast<double>(img.px[first + i]) == d;
        v.beyond_2_24 = v.beyond_2_24 || std::fabs(d) > 16777216.0;
        v.sentinel_defined = v.sentinel_defined || d == static_cast<double>(kUndefinedPixel);
      }
    }
  }
  if (status < 0) status = 0;  // CFITSIO's overflow warning: the values were counted here
  return v;
}

// Learns the file's pixel type and what floats made of its values, for the image just read.
// Values beyond the range of floats refuse the load, naming how many and the card that put
// them there. The survey reads the plane a second time, so it runs only where floats may
// not hold the values (BITPIX -64, 32, 64), where CFITSIO reported an overflow or left an
// infinity, or where the image holds kUndefinedPixel (to tell undefined pixels from that value).
bool survey_pixels(fitsfile* f, const Axes& axes, FitsRead& r, FitsError& pending) {
  // A failed read is reported as it is (damaged tiles are never unpacked in this process),
  // except CFITSIO's overflow, which the survey counts and names.
  const bool overflowed = pending.status == NUM_OVERFLOW;
  if (pending.status > 0 && !overflowed) return true;
  PixelType& t = r.origin.type;
  t.bitpix = axes.bitpix;
  int status = 0;
  fits_read_key(f, TDOUBLE, "BSCALE", &t.bscale, nullptr, &status);
  status = 0;
  fits_read_key(f, TDOUBLE, "BZERO", &t.bzero, nullptr, &status);
  status = 0;
  LONGLONG blank = 0;
  t.has_blank = axes.bitpix > 0 && fits_read_key(f, TLONGLONG, "BLANK", &blank, nullptr, &status) <= 0;
  t.blank = blank;
  fits_clear_errmsg();
  const bool wide_type = axes.bitpix == -64 || axes.bitpix == 32 || axes.bitpix == 64;
  // CFITSIO scales integers into floats without an overflow check: an infinity in the image
  // is such an overflow (infinities in the file are undefined pixels).
  // The direct reader refuses overflows and has the range already: only a range that takes
  // in kUndefinedPixel needs a look at the pixels.
  const bool sentinel_in_range = !r.range.known || (r.range.lo <= kUndefinedPixel && r.range.hi >= kUndefinedPixel);
  const bool suspect = sentinel_in_range && std::any_of(r.image.px.begin(), r.image.px.end(),
                                                        [](float v) { return v == kUndefinedPixel || std::isinf(v); });
  if (!wide_type && !overflowed && !suspect) return true;
  status = 0;
  const ValueSurvey v = survey_values(f, r.image, status);
  if (status > 0) return failed(r, status);
  if (overflowed) pending = FitsError();  // counted here instead
  if (v.beyond_float > 0) {
    std::string card = card_text(f, t.bscale != 1.0 ? "BSCALE" : t.bzero != 0.0 ? "BZERO" : "BITPIX");
    if (card.empty()) card = "BITPIX = " + std::to_string(axes.bitpix);
    r.refusal = std::to_string(v.beyond_float) + (v.beyond_float == 1 ? " pixel lies" : " pixels lie") +
                " beyond the range of 32-bit floats (" + card + "); nothing was loaded.";
    return stopped(r, ReadOutcome::refused);
  }
  t.wide = axes.bitpix == -64 || (wide_type && v.beyond_2_24);
  t.floats_exact = v.exact;
  t.undefined_as_null = v.undefined > 0 && !v.sentinel_defined;
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
  o.kind = gz ? FileKind::gzip : compressed ? FileKind::tile_compressed : FileKind::plain;
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
// pixel read's error (or the close's). `changed` tells whether the file changed meanwhile.
bool finish(OpenFits& file, const std::string& name, const FileIdentity& identity, const Axes& axes, FitsRead& r,
            FitsError pending, int attempt, bool& changed) {
  const PixelType type = r.origin.type;
  r.origin = describe_loaded(file.f, name, axes.naxis);
  r.origin.type = type;
  int status = pending.status;
  file.close(status);
  if (status > 0) {
    set_fits_status(pending, status);
    r.error = std::move(pending);
    return stopped(r, ReadOutcome::fits_error);
  }
  if (g_after_pixels_read_hook != nullptr) g_after_pixels_read_hook(name, attempt);
  changed = !(identity_of(name) == identity);
  r.origin.identity = identity;
  r.outcome = ReadOutcome::loaded;
  return true;
}

// One read of the file; `changed` tells whether it changed while it was read.
FitsRead read_once(const std::string& name, int attempt, bool& changed) {
  fits_clear_errmsg();  // the error must hold this read's messages only
  FitsRead r;
  r.name = name;
  const FileIdentity identity = identity_of(r.name);  // compared again after the read
  OpenFits file;
  Axes axes;
  FitsError pending;
  if (open_image(r.name, file, r) && read_axes(file.f, axes, r) && read_header(file.f, r) &&
      read_pixels(file.f, r.name, axes, r, pending) && survey_pixels(file.f, axes, r, pending))
    finish(file, r.name, identity, axes, r, std::move(pending), attempt, changed);
  return r;
}

}  // namespace

void (*g_after_pixels_read_hook)(const std::string& name, int attempt) = nullptr;

FitsRead READ_FITS_2D_IMAGE(const std::string& filename) {
  const std::string name = file_name_meant(filename);
  FitsRead r;
  // A file rewritten while it was read may be a mixture of two versions: it is read once
  // more, and refused if it changed again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool changed = false;
    r = read_once(name, attempt, changed);
    if (r.outcome != ReadOutcome::loaded || !changed) break;
    r.outcome = ReadOutcome::refused;
    r.refusal = "The file changed while it was read, twice; nothing was loaded.";
  }
  if (r.outcome != ReadOutcome::loaded) {
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
