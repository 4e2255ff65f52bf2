#include "fits/damage_checks.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "fits/file_origin.h"
#include "fits/header_cards.h"
#include "platform/child_process.h"

namespace zelvo {

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
      const unsigned long long isize =
          tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<unsigned long long>(tail[3]) << 24);
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

namespace {

// Bytes that `length` elements of a table column of type `typecode` take (variable arrays
// have negative codes); `length` is at most 2^50, so the product cannot overflow.
long long column_bytes(int typecode, long long length) {
  switch (typecode < 0 ? -typecode : typecode) {
    case TBIT: return (length + 7) / 8;
    case TSHORT:
    case TUSHORT: return 2 * length;
    case TINT:
    case TUINT:
    case TLONG:
    case TULONG:
    case TFLOAT: return 4 * length;
    case TLONGLONG:
    case TULONGLONG:
    case TDOUBLE:
    case TCOMPLEX: return 8 * length;
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

}  // namespace

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

// Whether CFITSIO can look through the extensions of `name` without dying. A file whose
// primary array is empty keeps its image in an extension, and CFITSIO works out the layout
// of a compressed image as soon as it reaches its header: a ZTILEn of 0 there divides by
// zero and would end the program. So a child process opens the file itself (its own file
// offset, so this process's reads are undisturbed), finds the image and reads its size and
// cards; if the child dies, the file is refused.
bool extensions_readable(const std::string& name) {
  const ChildOutcome child = run_in_child([&] {
    fitsfile* f = nullptr;
    int status = 0;
    if (fits_open_diskfile(&f, cfitsio_name(name).c_str(), READONLY, &status) <= 0) {
      move_to_first_image(f, status);
      int bitpix = 0, naxis = 0;
      LONGLONG naxes[9] = {};
      fits_get_img_paramll(f, 9, &bitpix, &naxis, naxes, &status);
      read_cards(f, status);
      int closed = 0;
      fits_close_file(f, &closed);
    }
  });
  return child != ChildOutcome::died;  // no process to try it in: CFITSIO is trusted as before
}

namespace {

// What the child that unpacks a tile-compressed image hands back, ahead of the pixels in the
// memory it shares with the program.
struct UnpackResult {
  int status;
  int messages;
  char message[8][FLEN_ERRMSG];
};

}  // namespace

// CFITSIO's decompressors trust the compressed bytes: a damaged Rice stream makes
// fits_rdecomp read far past its buffer and crash, which would end the session and lose every
// image in it. The child writes the pixels, the status and CFITSIO's messages into memory
// shared with this process and ends; if it dies instead, the load is refused. It touches
// nothing but that memory and the open file, which this process only closes after.
FitsError read_compressed_pixels(fitsfile* f, Image& img, float nullval) {
  const std::size_t pixels = img.px.size();
  const std::size_t bytes = sizeof(UnpackResult) + pixels * sizeof(float);
  FitsError e;
  take_fits_messages(e);  // what CFITSIO said before, ahead of the unpacking's messages
  void* shared = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    set_fits_status(e, MEMORY_ALLOCATION);
    return e;
  }
  auto* result = static_cast<UnpackResult*>(shared);
  auto* px = reinterpret_cast<float*>(static_cast<char*>(shared) + sizeof(UnpackResult));
  result->status = DATA_DECOMPRESSION_ERR;
  result->messages = 0;
  const ChildOutcome child = run_in_child([&] {
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
  if (child == ChildOutcome::not_started) {
    set_fits_status(e, MEMORY_ALLOCATION);  // no process for the unpacking: as good as no memory
  } else if (child == ChildOutcome::died) {
    set_fits_status(e, DATA_DECOMPRESSION_ERR);
    e.add(kUnpackFailed);
  } else {
    for (int k = 0; k < result->messages; ++k) {
      result->message[k][FLEN_ERRMSG - 1] = '\0';
      e.add(result->message[k]);
    }
    set_fits_status(e, result->status);
    if (result->status <= 0) {
      std::memcpy(img.px.data(), px, pixels * sizeof(float));
    } else {
      e.add(kUnpackFailed);
    }
  }
  ::munmap(shared, bytes);
  return e;
}

}  // namespace zelvo
