// FITS image reading and writing through CFITSIO's C API.
//
// File names are taken literally (fits_open_diskfile / fits_create_diskfile): a name typed
// at L or S is a file on disk, never CFITSIO's extended syntax, so "-" does not read the
// command input, "!name" does not clobber a file and brackets are plain characters.
// Gzip-compressed files are still recognised by their content.
#include "fits/fits_io.h"

#include <fcntl.h>
#include <fitsio.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "fits/plain_read.h"
#include "numeric/large_pages.h"
#include "platform/console.h"
#include "platform/list_io.h"
#include "platform/log_file.h"
#include "platform/memory.h"

namespace zelvo {

namespace {

// Fixed texts of the reader (printed list-style, with their leading blank).
constexpr const char* kReadingIn = " Reading in ";
constexpr const char* kNaxisSize = "nxpix, nypix = ";
constexpr const char* kNoNaxis = "READIMAGE failed to read the NAXISn keywords.";
constexpr const char* kNoPixels = "The image has an axis of length 0 or less; nothing was loaded.";
constexpr const char* kTooLarge = "There is not enough memory for an image of this size; nothing was loaded.";
constexpr const char* kTruncated = "the file holds less data than its header describes (truncated?)";
constexpr const char* kDamagedGzip = "the gzip file is damaged: its size field cannot belong to its data";
constexpr const char* kUnpackFailed = "the compressed image is damaged: unpacking it failed";
constexpr const char* kExtensionsFailed = "the file is damaged: reading the headers of its extensions failed";
constexpr long long kAllPixelsCap = 1LL << 50;  // the pixel count of every axis, capped
constexpr const char* kDamagedTiles = "the compressed image is damaged: one of its tiles cannot be unpacked soundly";
constexpr const char* kErrorStatus = "FITSIO Error Status = ";

// Value given to pixels that CFITSIO reports as undefined (BLANK, or NaN in float data).
constexpr float kNullPixel = kUndefinedPixel;

constexpr std::size_t kCardLength = 80;

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

// Columns first..last (1-based, inclusive) of an 80-column card.
std::string_view columns(const std::string& card, std::size_t first, std::size_t last) {
  return std::string_view(card).substr(first - 1, last - first + 1);
}

bool starts(const std::string& card, std::string_view name) { return card.compare(0, name.size(), name) == 0; }

// The number a free-format read of `field` gives, or nothing when the first item is
// missing, null or not a number. The whole value field is read (a slash, the start of
// the card's comment, ends it), so a value right-justified to column 30, as FITS writes
// numbers, is read whole.
std::optional<float> free_format_number(std::string_view field) {
  bool slash = false;
  const auto items = split_list_items(field, slash);
  if (items.empty() || items.front().null) return std::nullopt;
  return parse_real(items.front().text);
}

// The keyword of a card: its first eight columns without trailing blanks.
std::string keyword_of(const std::string& card) { return trim_right(std::string_view(card).substr(0, 8)); }

// A card's value as CFITSIO parses it: a string without its quotes ('' read as one ') and
// without surrounding blanks, or a number or other value as written; empty when the card
// has none.
std::string card_value(const std::string& card) {
  char value[FLEN_VALUE] = {};
  char comment[FLEN_COMMENT] = {};
  std::string c = pad_right(card, kCardLength);
  int s = 0;
  if (fits_parse_value(c.data(), value, comment, &s) > 0) {
    fits_clear_errmsg();
    return {};
  }
  std::string v = value;
  if (!v.empty() && v.front() == '\'') {
    std::string text;
    for (std::size_t i = 1; i < v.size(); ++i) {
      if (v[i] == '\'') {
        if (i + 1 < v.size() && v[i + 1] == '\'') {
          text += '\'';
          ++i;
          continue;
        }
        break;
      }
      text += v[i];
    }
    v = text;
  }
  const std::size_t first = v.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : trim_right(std::string_view(v).substr(first));
}

// Takes the header values the program uses from the cards of one header (each padded to 80
// columns), from these cards alone: a value the header lacks is 0 or blank. The exposure time
// is EXPTIME, or ITIME when there is no readable EXPTIME. ST, RA and DEC are the values of
// the cards of exactly those names (so RADESYS or STATUS never stand in for them), cut to
// 15 characters; when several cards match, the last one read wins.
void take_header_values(const std::vector<std::string>& cards, SlotHeader& hdr, HeaderTexts& texts) {
  hdr.exptime = 0.0f;
  hdr.object = std::string(20, ' ');
  texts = HeaderTexts{};
  std::optional<float> exptime, itime;
  std::size_t filter_card = 0;  // 1-based number of the card after the last HIE...FILTER marker
  for (std::size_t k = 1; k <= cards.size(); ++k) {
    const std::string& card = cards[k - 1];
    const std::string key = keyword_of(card);
    if (starts(card, "EXPTIME")) {
      if (const auto v = free_format_number(columns(card, 11, kCardLength))) exptime = v;
    }
    if (key == "ITIME") {
      if (const auto v = free_format_number(columns(card, 11, kCardLength))) itime = v;
    }
    if (starts(card, "OBJECT")) hdr.object = std::string(columns(card, 12, 25)) + std::string(6, ' ');
    for (char& c : hdr.object)
      if (c == '\'') c = ' ';
    if (key == "ST") texts.hdrst = pad_right(card_value(card), 15);
    if (key == "RA") texts.hdrra = pad_right(card_value(card), 15);
    if (key == "DEC") texts.hdrdec = pad_right(card_value(card), 15);
    if (starts(card, "HIE") && columns(card, 32, 39) == "FILTER  ") filter_card = k + 1;
  }
  if (exptime) {
    hdr.exptime = *exptime;
  } else if (itime) {
    hdr.exptime = *itime;
  }
  // A marker on the last card has no filter card after it: the filter stays blank.
  if (filter_card >= 1 && filter_card <= cards.size())
    texts.hdrfilter = std::string(1, cards[filter_card - 1][31]) + std::string(14, ' ');
}

// Moves to the first HDU holding an image with data: the primary array, or for files
// whose primary array is empty (tile-compressed .fz files, multi-extension files) the
// first image extension. Stays on the primary HDU when there is none.
void move_to_first_image(fitsfile* f, int& status) {
  int naxis = 0;
  fits_get_img_dim(f, &naxis, &status);
  if (status > 0 || naxis > 0) return;
  for (int hdu = 2;; ++hdu) {
    int type = 0;
    int s = 0;
    if (fits_movabs_hdu(f, hdu, &type, &s) > 0) break;
    int n = 0;
    if (type == IMAGE_HDU && fits_get_img_dim(f, &n, &s) <= 0 && n > 0) return;
  }
  fits_clear_errmsg();  // running off the end of the file is the expected way out
  int type = 0;
  fits_movabs_hdu(f, 1, &type, &status);
}

// Reads all header cards of the current HDU, each padded to 80 columns, END excluded. Of a
// tile-compressed image, the header of the image it holds, as CFITSIO restores it (the
// compression table's own cards left out).
std::vector<std::string> read_cards(fitsfile* f, int& status) {
  std::vector<std::string> cards;
  int compressed_status = 0;
  if (fits_is_compressed_image(f, &compressed_status)) {
    char* header = nullptr;
    int nkeys = 0;
    if (fits_convert_hdr2str(f, 0, nullptr, 0, &header, &nkeys, &status) > 0) return cards;
    const std::size_t length = std::strlen(header);
    for (std::size_t at = 0; at < length; at += kCardLength) {
      std::string card = pad_right(std::string_view(header + at, std::min(kCardLength, length - at)), kCardLength);
      if (keyword_of(card) != "END") cards.push_back(std::move(card));
    }
    int ignored = 0;
    fits_free_memory(header, &ignored);
    return cards;
  }
  int nkeys = 0;
  int nspace = 0;
  fits_get_hdrspace(f, &nkeys, &nspace, &status);
  if (status > 0) return cards;
  cards.reserve(static_cast<std::size_t>(nkeys));
  for (int k = 1; k <= nkeys; ++k) {
    char card[FLEN_CARD] = {};
    if (fits_read_record(f, k, card, &status) > 0) break;
    cards.push_back(pad_right(card, kCardLength));
  }
  return cards;
}

// Whether the file begins with the two bytes of the gzip format.
bool is_gzip(const std::string& path);

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

// Whether the file begins with the two bytes of the gzip format.
bool is_gzip(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char head[2] = {0, 0};
  const bool gz = std::fread(head, 1, 2, f) == 2 && head[0] == 0x1f && head[1] == 0x8b;
  std::fclose(f);
  return gz;
}

// Whether a gzip file's trailer gives an unpacked size that its compressed size can hold.
// CFITSIO unpacks into a buffer of the size the last four bytes give, so a damaged or cut
// .gz file could make it allocate up to 4 GB first. Deflate packs at most about 1032:1 and
// the size field wraps at 4 GB (a larger file only looks smaller), so a sound file always
// passes. A size below the packed size CFITSIO takes for a wrapped one and adds 4 GB; a
// FITS file's header blocks alone pack far smaller than they are, so that is damage unless
// the packed file is big enough to unpack beyond 4 GB. A size field of 0 makes CFITSIO take
// 4 GB at once; it belongs to an empty file or to one of a multiple of 2^32 bytes, which a
// FITS file (2880-byte blocks) is only from 193 GB on, so it is refused too. Files that are
// not gzip pass.
bool gzip_size_plausible(const std::string& path) {
  // Opened without blocking and checked again on the descriptor: a FIFO put in place of the
  // file after the caller's check must not stall the load.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return true;  // the open below reports it
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  std::FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) {
    ::close(fd);
    return true;
  }
  unsigned char head[2] = {0, 0}, tail[4] = {0, 0, 0, 0};
  bool plausible = true;
  if (std::fread(head, 1, 2, f) == 2 && head[0] == 0x1f && head[1] == 0x8b && std::fseek(f, -4, SEEK_END) == 0) {
    const long end = std::ftell(f) + 4;
    if (std::fread(tail, 1, 4, f) == 4) {
      const unsigned long long isize = tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<unsigned long long>(tail[3]) << 24);
      const unsigned long long packed = static_cast<unsigned long long>(end);
      plausible = isize != 0 && isize <= packed * 1100ULL + 65536ULL;
      // A size below the packed size means CFITSIO takes the field to have wrapped and
      // allocates 4 GB more; that needs a file big enough to unpack beyond 4 GB at all.
      if (isize < packed && packed * 1100ULL < (1ULL << 32)) plausible = false;
    }
  }
  std::fclose(f);
  return plausible;
}

// Whether the file holds the bytes of the first nx x ny plane of the current image HDU. A
// truncated or damaged file can describe far more data than it has; it is refused before
// the pixels are allocated, so it cannot make the program fill gigabytes only to fail at
// the end of the file. Tile-compressed images keep their pixels elsewhere and pass; for a
// gzip file CFITSIO's logical size is that of the uncompressed data. The sizes are within
// image_size_reasonable (at most 2^40 pixels), so the byte count cannot overflow.
bool data_present(fitsfile* f, int bitpix, long long nx, long long ny) {
  int status = 0;
  if (fits_is_compressed_image(f, &status)) return true;
  LONGLONG headstart = 0, datastart = 0, dataend = 0;
  if (fits_get_hduaddrll(f, &headstart, &datastart, &dataend, &status) > 0) return true;
  const LONGLONG bytes = static_cast<LONGLONG>(nx) * ny * (bitpix < 0 ? -bitpix : bitpix) / 8;
  return datastart + bytes <= f->Fptr->logfilesize;
}

// Bytes that `length` elements of a table column of type `typecode` take (variable arrays
// have negative codes); `length` is at most 2^50, so the product cannot overflow.
long long column_bytes(int typecode, long long length) {
  switch (typecode < 0 ? -typecode : typecode) {
    case TBIT: return (length + 7) / 8;
    case TSHORT: case TUSHORT: return 2 * length;
    case TINT: case TUINT: case TLONG: case TULONG: case TFLOAT: return 4 * length;
    case TLONGLONG: case TULONGLONG: case TDOUBLE: case TCOMPLEX: return 8 * length;
    case TDBLCOMPLEX: return 16 * length;
    default: return length;
  }
}

// Whether every tile of a GZIP_1 or GZIP_2 compressed image unpacks completely within the
// largest size a tile can have (`tile_pixels` of at most 8 bytes). CFITSIO's unpacker keeps
// growing its buffer while a damaged stream neither ends nor makes progress, so the program
// would hang; each tile is unpacked here first, and one that does not come to its end within
// that size is damaged. Other compression types pass. Runs after the descriptors were found
// to lie inside the heap.
bool gzip_tiles_end(fitsfile* f, LONGLONG rows, long long tile_pixels) {
  int status = 0;
  char type[FLEN_VALUE] = {};
  if (fits_read_key(f, TSTRING, "ZCMPTYPE", type, nullptr, &status) > 0) {
    fits_clear_errmsg();
    return true;
  }
  const std::string_view kind(type);
  if (kind != "GZIP_1" && kind != "GZIP_2") return true;
  int col = 0;
  if (fits_get_colnum(f, CASEINSEN, const_cast<char*>("COMPRESSED_DATA"), &col, &status) > 0) {
    fits_clear_errmsg();
    return true;
  }
  std::vector<unsigned char> packed;
  std::vector<unsigned char> unpacked;
  try {
    unpacked.resize(static_cast<std::size_t>(tile_pixels) * 8 + 1);
  } catch (const std::exception&) {
    return false;  // no memory for one tile: CFITSIO would fail to unpack it too
  }
  for (LONGLONG row = 1; row <= rows; ++row) {
    LONGLONG length = 0, offset = 0;
    if (fits_read_descriptll(f, col, row, &length, &offset, &status) > 0) {
      fits_clear_errmsg();
      return false;  // a descriptor CFITSIO cannot read (a negative length, say)
    }
    if (length == 0) continue;  // the tile is kept elsewhere, uncompressed
    try {
      packed.resize(static_cast<std::size_t>(length));
    } catch (const std::exception&) {
      return false;
    }
    int anynull = 0;
    if (fits_read_col(f, TBYTE, col, row, 1, length, nullptr, packed.data(), &anynull, &status) > 0) {
      fits_clear_errmsg();
      return false;
    }
    z_stream z{};
    if (inflateInit2(&z, 15 + 32) != Z_OK) return true;  // gzip or zlib header
    z.next_in = packed.data();
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(packed.size(), UINT_MAX));
    z.next_out = unpacked.data();
    z.avail_out = static_cast<uInt>(std::min<std::size_t>(unpacked.size(), UINT_MAX));
    const int rc = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    if (rc != Z_STREAM_END) return false;
  }
  return true;
}

// Whether a tile-compressed image can be unpacked without trusting damaged numbers. Each
// tile's compressed bytes are found through a descriptor, a length and an offset into the
// table's heap, and CFITSIO allocates a buffer of the length a descriptor gives before it
// reads the bytes; a tile's pixels get a buffer of the tile's size. So a damaged descriptor
// or ZTILEn could make an 11 kB file allocate gigabytes. Required: the table and its heap
// lie within the file, every descriptor points inside the heap, and no tile holds more
// pixels than the whole image. Sound files always pass; others go to CFITSIO unchecked
// only when these header values cannot be read, and then it reports them itself.
bool compressed_tiles_sound(fitsfile* f, long long image_pixels, long long plane_pixels) {
  int status = 0;
  if (!fits_is_compressed_image(f, &status)) return true;
  LONGLONG row_bytes = 0, rows = 0, pcount = 0, headstart = 0, datastart = 0, dataend = 0;
  if (fits_read_key(f, TLONGLONG, "NAXIS1", &row_bytes, nullptr, &status) > 0 ||
      fits_read_key(f, TLONGLONG, "NAXIS2", &rows, nullptr, &status) > 0 ||
      fits_read_key(f, TLONGLONG, "PCOUNT", &pcount, nullptr, &status) > 0 ||
      fits_get_hduaddrll(f, &headstart, &datastart, &dataend, &status) > 0) {
    fits_clear_errmsg();
    return true;
  }
  constexpr LONGLONG kFileLimit = 1LL << 50;  // keeps every sum below from overflowing
  if (row_bytes < 0 || rows < 0 || pcount < 0 || row_bytes > kFileLimit || rows > kFileLimit || pcount > kFileLimit)
    return false;
  if (rows != 0 && row_bytes > kFileLimit / rows) return false;
  const LONGLONG table_bytes = row_bytes * rows;  // at most 2^50
  LONGLONG theap = table_bytes;
  int s = 0;
  if (fits_read_key(f, TLONGLONG, "THEAP", &theap, nullptr, &s) > 0) {
    theap = table_bytes;
    fits_clear_errmsg();
  }
  if (theap < table_bytes || theap > table_bytes + pcount) return false;
  if (datastart + table_bytes + pcount > f->Fptr->logfilesize) return false;
  const LONGLONG heap_bytes = table_bytes + pcount - theap;

  int znaxis = 0;
  if (fits_read_key(f, TINT, "ZNAXIS", &znaxis, nullptr, &status) > 0 || znaxis < 1 || znaxis > 9) {
    fits_clear_errmsg();
    return true;
  }
  // The pixels of one tile; a tile reaching beyond the image holds only the image's part.
  long long tile_pixels = 1;
  for (int i = 1; i <= znaxis; ++i) {
    const std::string n = std::to_string(i);
    LONGLONG axis = 1;
    if (fits_read_key(f, TLONGLONG, ("ZNAXIS" + n).c_str(), &axis, nullptr, &status) > 0) {
      fits_clear_errmsg();
      return true;
    }
    LONGLONG tile = i == 1 ? axis : 1;  // CFITSIO's default: whole rows
    if (fits_read_key(f, TLONGLONG, ("ZTILE" + n).c_str(), &tile, nullptr, &s) > 0) {
      s = 0;
      fits_clear_errmsg();
    }
    if (tile < 1 || axis < 1) return false;
    tile_pixels *= std::min(tile, axis);
    if (tile_pixels > image_pixels) return false;  // cannot be: the axes multiply to the image
  }
  // A tile is unpacked whole, also when only the first plane of a cube is wanted: one far
  // larger than that plane (a damaged ZTILE3 on a deep cube, say) is refused before CFITSIO
  // or the check below allocates for it.
  if (tile_pixels > std::max(plane_pixels, 1LL << 20) * 16) return false;

  int columns = 0;
  if (fits_get_num_cols(f, &columns, &status) > 0) {
    fits_clear_errmsg();
    return true;
  }
  for (int col = 1; col <= columns; ++col) {
    int typecode = 0;
    long repeat = 0, width = 0;
    if (fits_get_coltype(f, col, &typecode, &repeat, &width, &status) > 0) {
      fits_clear_errmsg();
      return true;
    }
    if (typecode >= 0) continue;  // fixed-width columns live in the rows themselves
    for (LONGLONG row = 1; row <= rows; ++row) {
      LONGLONG length = 0, offset = 0;
      if (fits_read_descriptll(f, col, row, &length, &offset, &status) > 0) {
        fits_clear_errmsg();
        return false;  // a descriptor CFITSIO cannot read (a negative length, say)
      }
      if (length < 0 || offset < 0 || length > heap_bytes || offset > heap_bytes ||
          offset + column_bytes(typecode, length) > heap_bytes)
        return false;
    }
  }
  return gzip_tiles_end(f, rows, tile_pixels);
}

// Runs `work` in a child process and waits for it: true when the child came to its end,
// false when it died (a crash ends it quietly, for the program to report), nothing when no
// child could be started. The child also ends with the program, and leaves with _exit, so
// no buffered output is written twice and the graphics connection is left alone.
template <typename Work>
std::optional<bool> survives_in_child(Work work) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(sig, SIG_DFL);
    work();
    ::_exit(0);
  }
  int wstatus = 0;
  pid_t waited = -1;
  do {
    waited = ::waitpid(child, &wstatus, 0);
  } while (waited < 0 && errno == EINTR);
  return waited == child && WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
}

// What the child that unpacks a tile-compressed image hands back, ahead of the pixels in the
// memory it shares with the program.
struct UnpackResult {
  int status;
  int messages;
  char message[8][FLEN_ERRMSG];
};

// Reads the pixels of a tile-compressed image into `img` (already of the image's size) in a
// child process. CFITSIO's decompressors trust the compressed bytes: a damaged Rice stream
// makes fits_rdecomp read far past its buffer and crash, which would end the session and
// lose every image in it. The child writes the pixels, the status and CFITSIO's messages
// into memory shared with this process and ends; if it dies instead, the load is refused.
// It touches nothing but that memory and the open file, which this process only closes after.
void read_compressed_pixels(fitsfile* f, Image& img, float nullval, int& status) {
  const std::size_t pixels = img.px.size();
  const std::size_t bytes = sizeof(UnpackResult) + pixels * sizeof(float);
  void* shared = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    status = MEMORY_ALLOCATION;
    return;
  }
  auto* result = static_cast<UnpackResult*>(shared);
  auto* px = reinterpret_cast<float*>(static_cast<char*>(shared) + sizeof(UnpackResult));
  result->status = DATA_DECOMPRESSION_ERR;
  result->messages = 0;
  const std::optional<bool> survived = survives_in_child([&] {
    int st = 0;
    int anynull = 0;
    fits_read_img(f, TFLOAT, 1, static_cast<LONGLONG>(pixels), &nullval, px, &anynull, &st);
    char msg[FLEN_ERRMSG];
    while (result->messages < 8 && fits_read_errmsg(msg) != 0) {
      std::memcpy(result->message[result->messages], msg, FLEN_ERRMSG);
      ++result->messages;
    }
    result->status = st;
  });
  if (!survived) {
    status = MEMORY_ALLOCATION;  // no process for the unpacking: as good as no memory
  } else if (!*survived) {
    status = DATA_DECOMPRESSION_ERR;
    fits_write_errmsg(kUnpackFailed);
  } else {
    status = result->status;
    for (int k = 0; k < result->messages; ++k) {
      result->message[k][FLEN_ERRMSG - 1] = '\0';
      fits_write_errmsg(result->message[k]);
    }
    if (status <= 0) {
      std::memcpy(img.px.data(), px, pixels * sizeof(float));
    } else {
      fits_write_errmsg(kUnpackFailed);
    }
  }
  ::munmap(shared, bytes);
}

// Whether CFITSIO can look through the extensions of `name` without dying. A file whose
// primary array is empty keeps its image in an extension, and CFITSIO works out the layout
// of a compressed image as soon as it reaches its header: a ZTILEn of 0 there divides by
// zero and would end the program. So a child process opens the file itself (its own file
// offset, so this process's reads are undisturbed), finds the image and reads its size and
// cards; if the child dies, the file is refused.
bool extensions_readable(const std::string& name) {
  const std::optional<bool> survived = survives_in_child([&] {
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_open_diskfile(&f, name.c_str(), READONLY, &status) <= 0) {
      move_to_first_image(f, status);
      int bitpix = 0, naxis = 0;
      LONGLONG naxes[9] = {};
      fits_get_img_paramll(f, 9, &bitpix, &naxis, naxes, &status);
      read_cards(f, status);
      int closed = 0;
      fits_close_file(f, &closed);
    }
  });
  return survived.value_or(true);  // no process to try it in: CFITSIO is trusted as before
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

// What one write puts into a file.
struct WriteSpec {
  ImageView image;
  const std::vector<std::string>& cards;  // the image's source header; filtered on writing
  FileKind kind = FileKind::Plain;
  std::string primary_from;  // tile-compressed: the file whose primary HDU is kept, if any
};

// Whether a card with this keyword describes the old data rather than the image: the
// structural, scaling, checksum and compression cards. The writer makes its own.
bool describes_old_data(const std::string& key) {
  static constexpr std::string_view kNames[] = {
      "SIMPLE",   "XTENSION", "BITPIX",   "NAXIS",    "EXTEND",   "PCOUNT",   "GCOUNT",   "GROUPS",   "END",
      "BSCALE",   "BZERO",    "BLANK",    "CHECKSUM", "DATASUM",  "ZIMAGE",   "ZCMPTYPE", "ZBITPIX",  "ZNAXIS",
      "ZSIMPLE",  "ZEXTEND",  "ZBLOCKED", "ZPCOUNT",  "ZGCOUNT",  "ZTENSION", "ZHECKSUM", "ZDATASUM", "ZQUANTIZ",
      "ZDITHER0", "ZMASKCMP", "ZBLANK",   "ZSCALE",   "ZZERO"};
  for (const auto n : kNames)
    if (key == n) return true;
  // Numbered families: NAXISn, ZNAXISn, ZTILEn, ZNAMEn, ZVALn.
  for (const std::string_view stem : {"NAXIS", "ZNAXIS", "ZTILE", "ZNAME", "ZVAL"}) {
    if (key.size() > stem.size() && key.compare(0, stem.size(), stem) == 0 &&
        key.find_first_not_of("0123456789", stem.size()) == std::string::npos)
      return true;
  }
  return false;
}

bool commentary(const std::string& key) { return key.empty() || key == "COMMENT" || key == "HISTORY"; }

// Writes the source cards that still describe the image into the current header, after the
// cards CFITSIO wrote itself (which are not repeated), then the HISTORY card of this write.
// Tells whether the source carried a CHECKSUM. A card CFITSIO refuses as not valid FITS
// (a control character, say) is written with its offending characters made blanks, or as a
// COMMENT if even that is refused: a damaged card never stops the image from being saved.
void write_source_cards(fitsfile* f, const std::vector<std::string>& cards, bool& had_checksum, int& status) {
  int nkeys = 0, nspace = 0;
  fits_get_hdrspace(f, &nkeys, &nspace, &status);
  std::vector<std::string> fresh;
  std::vector<std::string> fresh_keys;
  for (int k = 1; k <= nkeys && status <= 0; ++k) {
    char card[FLEN_CARD] = {};
    fits_read_record(f, k, card, &status);
    fresh.push_back(pad_right(card, kCardLength));
    fresh_keys.push_back(keyword_of(fresh.back()));
  }
  for (const std::string& source : cards) {
    if (status > 0) return;
    const std::string card = pad_right(source, kCardLength);
    const std::string key = keyword_of(card);
    if (key == "CHECKSUM") had_checksum = true;
    if (describes_old_data(key) || std::find(fresh.begin(), fresh.end(), card) != fresh.end()) continue;
    if (!commentary(key) && std::find(fresh_keys.begin(), fresh_keys.end(), key) != fresh_keys.end()) {
      if (key == "EXTNAME") fits_update_card(f, const_cast<char*>("EXTNAME"), card.c_str(), &status);
      continue;  // otherwise one of CFITSIO's own cards for the new data
    }
    int s = 0;
    if (fits_write_record(f, card.c_str(), &s) > 0) {
      fits_clear_errmsg();
      std::string clean = card;
      for (char& c : clean)
        if (c < ' ' || c > '~') c = ' ';
      s = 0;
      if (fits_write_record(f, clean.c_str(), &s) > 0) {
        // Not a keyword CFITSIO can write (a blank inside the name, say): its text is kept
        // as a comment.
        fits_clear_errmsg();
        s = 0;
        if (fits_write_comment(f, trim_right(clean).c_str(), &s) > 0) fits_clear_errmsg();
      }
    }
  }
  char when[32] = {};
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &utc);
  fits_write_history(f, (std::string("Zelvo wrote this file on ") + when + " UTC.").c_str(), &status);
}

// Writes the plain FITS file `from` gzip-compressed as the new file `to`. Returns 0, or
// WRITE_ERROR with the reason on the message stack (no file `to` is left then).
int gzip_into(const std::string& from, const std::string& to) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (in == nullptr) return WRITE_ERROR;
  gzFile out = gzopen(to.c_str(), "wbx");  // x: a new file, never an existing one
  if (out == nullptr) {
    std::fclose(in);
    return FILE_NOT_CREATED;
  }
  std::vector<char> buf(1 << 16);
  bool ok = true;
  for (std::size_t n; ok && (n = std::fread(buf.data(), 1, buf.size(), in)) > 0;)
    ok = gzwrite(out, buf.data(), static_cast<unsigned>(n)) == static_cast<int>(n);
  ok = !std::ferror(in) && ok;
  const int err = errno;
  std::fclose(in);
  ok = gzclose(out) == Z_OK && ok;
  if (ok) return 0;
  std::remove(to.c_str());
  fits_write_errmsg(("could not compress the file: " + std::string(std::strerror(err))).substr(0, FLEN_ERRMSG - 1).c_str());
  return WRITE_ERROR;
}

// Writes `spec` as a new file `path`: BITPIX -32, NAXIS 2, the source's cards and the
// HISTORY card, stored as `spec.kind`. CFITSIO refuses an existing name (status 105)
// before anything is touched; a file that was created but not completely written is deleted.
int create_fits_file(const std::string& path, const WriteSpec& spec) {
  int status = 0;
  const ImageView& image = spec.image;
  if (image.empty()) {
    fits_write_errmsg("there is no image to write");
    return BAD_NAXES;
  }
  if (spec.kind == FileKind::Gzip) {
    // A plain file beside it first, then packed into `path`.
    const std::string plain = path + ".fits";
    WriteSpec inner{spec.image, spec.cards, FileKind::Plain, {}};
    status = create_fits_file(plain, inner);
    if (status > 0) return status;
    status = gzip_into(plain, path);
    std::remove(plain.c_str());
    return status;
  }
  fitsfile* f = nullptr;
  if (fits_create_diskfile(&f, path.c_str(), &status) > 0) return status;
  if (spec.kind == FileKind::TileCompressed) {
    if (!spec.primary_from.empty()) {
      // The original's primary header (empty array, observatory cards) stays as it was.
      fitsfile* in = nullptr;
      int type = 0;
      if (fits_open_diskfile(&in, spec.primary_from.c_str(), READONLY, &status) <= 0) {
        fits_movabs_hdu(in, 1, &type, &status);
        fits_copy_hdu(in, f, 0, &status);
        int ignored = 0;
        fits_close_file(in, &ignored);
      }
    }
    // Lossless: the float pixels are packed with gzip, never quantised.
    fits_set_compression_type(f, GZIP_2, &status);
    fits_set_quantize_level(f, 0.0f, &status);
  }
  long naxes[2] = {image.nx, image.ny};
  fits_create_img(f, FLOAT_IMG, 2, naxes, &status);
  bool had_checksum = false;
  write_source_cards(f, spec.cards, had_checksum, status);
  // CFITSIO converts through its own buffer, so the caller's pixels are not changed.
  fits_write_img(f, TFLOAT, 1, static_cast<LONGLONG>(image.size()), image.px, &status);
  if (had_checksum) fits_write_chksum(f, &status);
  if (status > 0) {
    int ignored = 0;
    fits_delete_file(f, &ignored);
    return status;
  }
  fits_close_file(f, &status);  // the final flush can fail too (a full disk)
  if (status > 0) std::remove(path.c_str());
  return status;
}

// Pushes a system error onto CFITSIO's message stack, so the FITS error report shows it.
void push_system_message(const std::string& what, const std::string& name, int err) {
  const std::string msg = what + " " + name + ": " + std::strerror(err);
  fits_write_errmsg(msg.substr(0, FLEN_ERRMSG - 1).c_str());
}

// Gives the finished temporary file the name `target`. Without `replace` an existing name is
// never overwritten, also when it appears while the data were being written: renameat2 with
// RENAME_NOREPLACE, or link and unlink on file systems without it. Returns 0,
// FILE_NOT_CREATED for a name that exists, or WRITE_ERROR with the system's reason.
int move_into_place(const std::string& temp, const std::string& target, bool replace) {
  int rc = replace ? std::rename(temp.c_str(), target.c_str())
                   : ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
    rc = ::link(temp.c_str(), target.c_str());
    if (rc == 0) ::unlink(temp.c_str());
  }
  if (rc == 0) return 0;
  const int err = errno;
  if (!replace && err == EEXIST) {
    fits_write_errmsg("An existing file is never overwritten:");
    fits_write_errmsg(target.substr(0, FLEN_ERRMSG - 1).c_str());
    return FILE_NOT_CREATED;
  }
  push_system_message(replace ? "could not replace" : "could not create", target, err);
  return WRITE_ERROR;
}

// Writes `image` as the FITS file `target` so that no partial file ever carries that name:
// the data go to a hidden temporary file in the same folder (so the rename cannot cross file
// systems), which is closed, synced and only then renamed to `target`. With `replace` an
// existing file is replaced and keeps its permission bits, but only while it is still the
// file `expected` describes (checked again just before the rename); without it an existing
// name is refused (FILE_NOT_CREATED) and left alone. On failure no temporary file is left,
// the CFITSIO status is returned and the message stack says what went wrong, naming `target`
// or its folder rather than the temporary.
int write_via_temporary(const std::filesystem::path& target, const WriteSpec& spec, bool replace,
                        const FileIdentity* expected = nullptr) {
  namespace fs = std::filesystem;
  struct stat existing {};
  const bool exists = ::lstat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    fits_write_errmsg("The name is that of a folder, not of a file:");
    fits_write_errmsg(target.string().substr(0, FLEN_ERRMSG - 1).c_str());
    return replace ? WRITE_ERROR : FILE_NOT_CREATED;
  }
  if (exists && !replace) {
    fits_write_errmsg("An existing file is never overwritten:");
    fits_write_errmsg(target.string().substr(0, FLEN_ERRMSG - 1).c_str());
    return FILE_NOT_CREATED;
  }
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  // Hidden, unique to this process and attempt, and short enough for any file system.
  const std::string base = target.filename().string().substr(0, 180);
  int status = 0;
  std::string temp;
  std::error_code ec;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = (folder / ("." + base + ".zelvo-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp"))
               .string();
    status = create_fits_file(temp, spec);
    if (status != FILE_NOT_CREATED || !fs::exists(temp, ec)) break;
    fits_clear_errmsg();  // that name was taken; try the next
  }
  if (status == FILE_NOT_CREATED) {
    // The library's message would name the temporary file; say why the folder took no file.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    const int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
      ::close(fd);
      std::remove(temp.c_str());
    }
    if (err != 0) {
      fits_clear_errmsg();
      push_system_message("cannot create a file in the folder", folder.string(), err);
    }
  }
  if (status > 0) {
    fits_write_errmsg(("nothing was written to " + target.string()).substr(0, FLEN_ERRMSG - 1).c_str());
    return status;
  }

  // The data must be on disk before the name points at them.
  const int fd = ::open(temp.c_str(), O_RDONLY);
  if (fd >= 0) {
    const int synced = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (synced != 0 && err != EINVAL && err != EROFS) {
      std::remove(temp.c_str());
      push_system_message("could not write", target.string(), err);
      return WRITE_ERROR;
    }
  }
  if (replace) {
    // The file must still be the one that was loaded, and the new one takes its permission
    // bits (and its owner and group where this user may set them).
    struct stat now {};
    if (expected == nullptr || !(identity_of(target.string()) == *expected) || ::stat(target.c_str(), &now) != 0) {
      std::remove(temp.c_str());
      fits_write_errmsg(("the file changed since it was loaded: " + target.string()).substr(0, FLEN_ERRMSG - 1).c_str());
      return FILE_NOT_CREATED;
    }
    ::chmod(temp.c_str(), now.st_mode & 07777);
    if (::chown(temp.c_str(), now.st_uid, now.st_gid) != 0) (void)!::chown(temp.c_str(), static_cast<uid_t>(-1), now.st_gid);
  }
  status = move_into_place(temp, target.string(), replace);
  if (status > 0) {
    std::remove(temp.c_str());
    return status;
  }
  // The new name itself is made durable with the folder.
  const int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dirfd >= 0) {
    ::fsync(dirfd);
    ::close(dirfd);
  }
  return 0;
}

}  // namespace

ReadOutcome READ_FITS_2D_IMAGE(const std::string& filename, Image& image, SlotHeader& slot_header,
                               HeaderTexts& texts, int& status, Console& con, FileOrigin* origin,
                               LoadedRange* range) {
  status = 0;
  fits_clear_errmsg();  // the report must show this read's messages only
  const std::string name = trim_right(filename);
  con.line(kReadingIn + name);
  const FileIdentity identity = identity_of(name);  // compared again after the read

  // A FIFO, device or folder is refused before anything opens it: reading one could block
  // for ever. (CFITSIO finds a missing plain name under .gz itself, so only an existing
  // path is looked at.)
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    con.text(name + " is " + special_file_kind(st.st_mode) + ", not a regular file; nothing was loaded.");
    return ReadOutcome::NotRegular;
  }

  if (!gzip_size_plausible(name)) {
    status = DATA_DECOMPRESSION_ERR;
    fits_write_errmsg(kDamagedGzip);
    PRINT_FITS_ERROR(status, con);
    return ReadOutcome::FitsError;
  }
  OpenFits file;
  if (fits_open_diskfile(&file.f, name.c_str(), READONLY, &status) > 0) {
    file.f = nullptr;
    PRINT_FITS_ERROR(status, con);
    return ReadOutcome::FitsError;
  }
  int primary_axes = 0;
  fits_get_img_dim(file.f, &primary_axes, &status);
  if (status <= 0 && primary_axes == 0 && !extensions_readable(name)) {
    status = READ_ERROR;
    fits_write_errmsg(kExtensionsFailed);
    PRINT_FITS_ERROR(status, con);
    return ReadOutcome::FitsError;
  }
  move_to_first_image(file.f, status);

  // All axes: NAXIS1 and NAXIS2 give the size, a third axis only counts for its first plane.
  int bitpix = 0;
  int naxis = 0;
  LONGLONG naxes[9] = {};
  if (status <= 0) fits_get_img_paramll(file.f, 9, &bitpix, &naxis, naxes, &status);
  if (status > 0) {
    PRINT_FITS_ERROR(status, con);
    return ReadOutcome::FitsError;
  }
  if (naxis < 2) {
    con.record({kNoNaxis});
    return ReadOutcome::NoNaxis;
  }
  const long long nx = naxes[0];
  const long long ny = naxes[1];
  con.record({kNaxisSize, nx, ny});
  for (int i = 0; i < naxis && i < 9; ++i) {
    if (naxes[i] <= 0) {
      con.record({kNoPixels});
      return ReadOutcome::NoPixels;
    }
  }

  // Header values go to copies; the caller's values change only when the whole load worked.
  SlotHeader hdr = slot_header;
  HeaderTexts txt = texts;
  std::vector<std::string> cards = read_cards(file.f, status);
  if (status > 0) {
    PRINT_FITS_ERROR(status, con);
    return ReadOutcome::FitsError;
  }
  take_header_values(cards, hdr, txt);
  hdr.cards = std::move(cards);

  Image fresh;
  if (!image_size_reasonable(nx, ny)) {
    con.record({kTooLarge});
    return ReadOutcome::TooLarge;
  }
  if (!data_present(file.f, bitpix, nx, ny)) {
    // Reported as the end-of-file error that reading the pixels would have met.
    status = END_OF_FILE;
    fits_write_errmsg(kTruncated);
    PRINT_FITS_ERROR(status, con);
    return ReadOutcome::FitsError;
  }
  long long all_pixels = 1;
  for (int i = 0; i < naxis && i < 9; ++i) all_pixels = naxes[i] > kAllPixelsCap / all_pixels ? kAllPixelsCap : all_pixels * naxes[i];
  if (!compressed_tiles_sound(file.f, all_pixels, nx * ny)) {
    status = DATA_DECOMPRESSION_ERR;
    fits_write_errmsg(kDamagedTiles);
    PRINT_FITS_ERROR(status, con);
    return ReadOutcome::FitsError;
  }
  if (!allocate_image(fresh, nx, ny)) {
    con.record({kTooLarge});
    return ReadOutcome::TooLarge;
  }
  // Straight into the new image: any BITPIX converted to float, BSCALE and BZERO applied,
  // undefined pixels set to the null value. A plain file's data block is read directly
  // (as CFITSIO would convert it, without its buffer copies); anything else goes through
  // CFITSIO.
  float nullval = kNullPixel;
  LoadedRange found_range;
  int anynull = 0;
  int compressed_status = 0;
  if (fits_is_compressed_image(file.f, &compressed_status)) {
    read_compressed_pixels(file.f, fresh, nullval, status);
  } else if (read_plain_pixels(file.f, name, nullval, fresh.px, found_range.lo, found_range.hi)) {
    found_range.known = true;
  } else {
    fits_read_img(file.f, TFLOAT, 1, static_cast<LONGLONG>(fresh.px.size()), &nullval, fresh.px.data(), &anynull,
                  &status);
  }
  const FileOrigin found = describe_loaded(file.f, name, naxis);
  file.close(status);
  if (status > 0) {
    PRINT_FITS_ERROR(status, con);
    return ReadOutcome::FitsError;
  }

  con.blank();
  if (origin != nullptr) {
    *origin = found;
    // A file replaced or changed while it was read is not known as the one loaded.
    origin->identity = identity_of(name) == identity ? identity : FileIdentity{};
  }
  if (range) *range = found_range;
  image = std::move(fresh);
  slot_header = std::move(hdr);
  texts = std::move(txt);
  return ReadOutcome::Loaded;
}

FileKind kind_for_name(const std::string& name) {
  const std::string t = trim_right(name);
  auto ends = [&](std::string_view suffix) {
    if (t.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(t[t.size() - suffix.size() + i])) != suffix[i]) return false;
    return true;
  };
  if (ends(".gz")) return FileKind::Gzip;
  if (ends(".fz")) return FileKind::TileCompressed;
  return FileKind::Plain;
}

FileIdentity identity_of(const std::string& path) {
  FileIdentity id;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return id;
  id.known = true;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.mtime = st.st_mtim;
  return id;
}

namespace {

// What a completed write leaves: a lone image of the given kind, as the file now is.
void describe_written(const std::string& path, FileKind kind, FileOrigin* written) {
  if (written == nullptr) return;
  written->kind = kind;
  written->lone_image = true;
  written->identity = identity_of(path);
}

}  // namespace

int WRITE_FITS_2D_IMAGE(const std::string& filename, const ImageView& image, const std::vector<std::string>& cards,
                        FileOrigin* written) {
  fits_clear_errmsg();
  const std::string name = trim_right(filename);
  const WriteSpec spec{image, cards, kind_for_name(name), {}};
  const int status = write_via_temporary(name, spec, false);
  if (status <= 0) describe_written(name, spec.kind, written);
  return status;
}

ReplaceVerdict may_replace(const std::string& filename, const FileOrigin& origin) {
  const std::string name = trim_right(filename);
  if (!origin.lone_image) return ReplaceVerdict::NotLone;
  if (!(identity_of(name) == origin.identity)) return ReplaceVerdict::Changed;
  // The file itself must be writable by this user: renaming over it needs only the folder.
  if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) return ReplaceVerdict::NotWritable;
  return ReplaceVerdict::Allowed;
}

int REPLACE_FITS_2D_IMAGE(const std::string& filename, const ImageView& image, const std::vector<std::string>& cards,
                          const FileOrigin& origin, FileOrigin* written) {
  namespace fs = std::filesystem;
  fits_clear_errmsg();
  const std::string name = trim_right(filename);
  switch (may_replace(name, origin)) {
    case ReplaceVerdict::Allowed: break;
    case ReplaceVerdict::NotLone:
      fits_write_errmsg(("the file holds more than this image: " + name).substr(0, FLEN_ERRMSG - 1).c_str());
      return FILE_NOT_CREATED;
    case ReplaceVerdict::Changed:
      fits_write_errmsg(("the file changed since it was loaded: " + name).substr(0, FLEN_ERRMSG - 1).c_str());
      return FILE_NOT_CREATED;
    case ReplaceVerdict::NotWritable:
      push_system_message("may not write", name, EACCES);
      return FILE_NOT_CREATED;
  }
  // Through a symbolic link the file it points to is replaced, and the link kept.
  fs::path target = name;
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  const WriteSpec spec{image, cards, origin.kind, origin.kind == FileKind::TileCompressed ? target.string() : ""};
  const int status = write_via_temporary(target, spec, true, &origin.identity);
  if (status <= 0) describe_written(target.string(), spec.kind, written);
  return status;
}

void PRINT_FITS_ERROR(int status, Console& con) {
  if (status <= 0) return;
  char text[FLEN_STATUS] = {};
  fits_get_errstatus(status, text);
  con.record({kErrorStatus, status, ": ", pad_right(text, 30)});
  // The message stack, oldest message first; reading it empties it.
  char message[FLEN_ERRMSG] = {};
  while (fits_read_errmsg(message) > 0) {
    const std::string m = trim_right(message);
    if (m.empty()) break;
    con.record({m});
  }
}

}  // namespace zelvo
