// Inputs the fuzz harnesses of fuzz/ found to break a check, kept as regression tests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fitsio.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "platform/console.h"
#include "platform/list_io.h"
#include "session/fits_reports.h"
#include "support/session_harness.h"

namespace zelvo {
namespace {

struct Loaded {
  ReadOutcome outcome;
  int status = 0;
  std::string out;
  Image img{2, 2, 7.0f};  // what the slot held before
};

Loaded load(const std::string& path) {
  Loaded l;
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  FitsRead r = read_fits_reported(con, path);
  l.outcome = r.outcome;
  l.status = r.error.status;
  if (r.outcome == ReadOutcome::loaded) l.img = std::move(r.image);
  l.out = out.str();
  return l;
}

// The 32 x 32 test picture, values 0 to 999.
std::vector<short> picture() {
  std::vector<short> v(32 * 32);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<short>((i * 37) % 1000);
  return v;
}

// Writes the picture tile-compressed (one tile per row) with CFITSIO.
void write_compressed(const std::string& path, int comptype) {
  fitsfile* f = nullptr;
  int status = 0;
  long axes[2] = {32, 32};
  std::vector<short> v = picture();
  fits_create_diskfile(&f, path.c_str(), &status);
  fits_set_compression_type(f, comptype, &status);
  fits_create_img(f, SHORT_IMG, 2, axes, &status);
  fits_write_img(f, TSHORT, 1, static_cast<LONGLONG>(v.size()), v.data(), &status);
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0) << path;
}

// Where the table of tile descriptors and the heap of a compressed file begin, in bytes.
struct TileTable {
  long long table = 0;
  long long heap = 0;
};
TileTable tile_table(const std::string& path) {
  fitsfile* f = nullptr;
  int status = 0, type = 0;
  LONGLONG head = 0, data = 0, end = 0, row_bytes = 0, rows = 0;
  fits_open_diskfile(&f, path.c_str(), READONLY, &status);
  fits_movabs_hdu(f, 2, &type, &status);
  fits_get_hduaddrll(f, &head, &data, &end, &status);
  fits_read_key(f, TLONGLONG, "NAXIS1", &row_bytes, nullptr, &status);
  fits_read_key(f, TLONGLONG, "NAXIS2", &rows, nullptr, &status);
  fits_close_file(f, &status);
  EXPECT_EQ(status, 0);
  return {data, data + row_bytes * rows};
}

uint32_t big_endian(const std::string& b, long long at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(b[static_cast<std::size_t>(at + i)]);
  return v;
}
void put_big_endian(std::string& b, long long at, uint32_t v) {
  for (int i = 3; i >= 0; --i, v >>= 8) b[static_cast<std::size_t>(at + i)] = static_cast<char>(v & 0xff);
}

// list_reader_fuzz: an item beginning with a vertical tab or form feed (which the item
// splitter does not treat as a separator) was read as an integer, because strtoll skips
// leading white space, but refused as a real. Both parsers now refuse it alike.
TEST(FoundByFuzzing, WhiteSpaceInsideAnItemIsNoNumberOfEitherKind) {
  for (const char* item : {"\v7", "\f7", "7\v", "\v-2"}) {
    EXPECT_FALSE(parse_integer(item).has_value()) << item;
    EXPECT_FALSE(parse_real(item).has_value()) << item;
  }
  std::istringstream in(" 12 -,\v7\n5\n");
  std::ostringstream out;
  Console con(in, out);
  int32_t a = 0, b = 0;
  con.read_list({&a, &b});
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, 5);  // "-" and the tabbed item were refused and asked for again
  EXPECT_THAT(out.str(), ::testing::HasSubstr("Expected a whole number but read '-'"));
}

// fits_loader_fuzz: a gzip file whose size field (its last four bytes) claims 4 GB made
// CFITSIO allocate that much before unpacking a few bytes. Such a file is refused first.
TEST(FoundByFuzzing, AGzipFileClaimingGigabytesIsRefusedBeforeUnpacking) {
  testing::ScratchFolder dir;
  if (std::system("command -v gzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "gzip is not installed";
  dir.write_fits("f.fits", Image(16, 16, 3.0f));
  ASSERT_EQ(std::system(("gzip -n '" + dir.file("f.fits") + "'").c_str()), 0);
  std::string bytes = dir.read("f.fits.gz");
  bytes.replace(bytes.size() - 4, 4, std::string(4, '\xff'));
  dir.write("claims.fits.gz", bytes);

  const Loaded claims = load(dir.file("claims.fits.gz"));
  EXPECT_EQ(claims.outcome, ReadOutcome::fits_error);
  EXPECT_EQ(claims.status, 414);
  EXPECT_THAT(claims.out, ::testing::HasSubstr("the gzip file is damaged: its size field cannot belong to its data"));
  EXPECT_EQ(claims.img.px, Image(2, 2, 7.0f).px);
  // The sound file still loads.
  const Loaded sound = load(dir.file("f.fits.gz"));
  EXPECT_EQ(sound.outcome, ReadOutcome::loaded);
  EXPECT_EQ(sound.img.nx, 16);
}

// Compressed images now unpack in a child process behind checks of their tiles; every
// compression CFITSIO writes still loads the exact pixels.
TEST(FoundByFuzzing, EveryTileCompressionStillLoadsExactly) {
  testing::ScratchFolder dir;
  for (int comptype : {RICE_1, GZIP_1, GZIP_2, PLIO_1, HCOMPRESS_1}) {
    const std::string path = dir.file("c" + std::to_string(comptype) + ".fits.fz");
    write_compressed(path, comptype);
    const Loaded l = load(path);
    ASSERT_EQ(l.outcome, ReadOutcome::loaded) << comptype << l.out;
    ASSERT_EQ(l.img.nx, 32);
    const std::vector<short> v = picture();
    for (std::size_t i = 0; i < v.size(); ++i) ASSERT_EQ(l.img.px[i], static_cast<float>(v[i])) << comptype;
  }
}

// Writes the picture compressed with `comptype`, lets `damage` change the file's bytes
// (knowing where its tile table and heap begin) and loads the damaged file.
template <typename Damage>
Loaded load_damaged(int comptype, Damage damage) {
  testing::ScratchFolder dir;
  write_compressed(dir.file("t.fits.fz"), comptype);
  std::string bytes = dir.read("t.fits.fz");
  damage(bytes, tile_table(dir.file("t.fits.fz")));
  dir.write("damaged.fits.fz", bytes);
  return load(dir.file("damaged.fits.fz"));
}

// A refused load: the FITS error report with the line that names the damage, and the slot
// holding what it held before.
void expect_refused(const Loaded& l, const std::string& why) {
  EXPECT_EQ(l.outcome, ReadOutcome::fits_error) << l.out;
  EXPECT_THAT(l.out, ::testing::HasSubstr(why));
  EXPECT_EQ(l.img.px, Image(2, 2, 7.0f).px);
}

// A tile-compressed image whose header CFITSIO cannot turn back into an image header
// (ZSIMPLE = 'abc'): the conversion failed after allocating the header text, which was never
// freed (the sanitizer build reported the leak). The file is in the fuzzing seed corpus.
TEST(FoundByFuzzing, AnUnconvertibleCompressedHeaderIsRefusedWithoutALeak) {
  const Loaded l = load(std::string(ZELVO_SOURCE_DIR) + "/fuzz/corpus/fits_loader_fuzz/header_unconvertible.fits.fz");
  EXPECT_EQ(l.outcome, ReadOutcome::fits_error) << l.out;
  EXPECT_THAT(l.out, ::testing::HasSubstr("FITSIO Error Status = "));
}

// fits_loader_fuzz: a tile descriptor whose length claims 2.5 GB made CFITSIO allocate that
// much to read an 11 kB file. Descriptors must point inside the heap.
TEST(FoundByFuzzing, ATileDescriptorBeyondTheHeapIsRefused) {
  const Loaded l = load_damaged(GZIP_1, [](std::string& b, TileTable t) { put_big_endian(b, t.table, 0x9585a7c2u); });
  expect_refused(l, "the compressed image is damaged: one of its tiles cannot be unpacked soundly");
  EXPECT_EQ(l.status, DATA_DECOMPRESSION_ERR);
}

// fits_loader_fuzz: a gzip tile that stops short of its end made CFITSIO's unpacker grow its
// buffer for ever (a hang, terabytes of address space). Such a tile is refused first.
TEST(FoundByFuzzing, AGzipTileCutShortIsRefusedInsteadOfUnpackedForEver) {
  expect_refused(load_damaged(GZIP_1,
                              [](std::string& b, TileTable t) {
                                // The stream's last bytes are cut off.
                                put_big_endian(b, t.table, big_endian(b, t.table) - 10);
                              }),
                 "the compressed image is damaged");
}

// fits_loader_fuzz: one changed byte in a Rice tile made CFITSIO's decoder read far past its
// buffer and crash the program. Unpacking runs in a child process now: a damaged tile is
// refused, whether the decoder notices or dies, and the program goes on.
TEST(FoundByFuzzing, GarbageInARiceTileIsRefusedAndTheProgramGoesOn) {
  expect_refused(load_damaged(RICE_1,
                              [](std::string& b, TileTable t) {
                                const uint32_t length = big_endian(b, t.table), offset = big_endian(b, t.table + 4);
                                for (uint32_t k = 2; k < length; ++k)
                                  b[static_cast<std::size_t>(t.heap + offset + k)] = '\xff';
                              }),
                 "the compressed image is damaged");
}

// fits_loader_fuzz: a ZTILE2 of 0 made CFITSIO divide by zero as soon as it reached the
// compressed image's header, ending the program. Extensions are looked through in a child
// process first, and a file that kills it is refused.
TEST(FoundByFuzzing, ATileSizeOfZeroIsRefusedAndTheProgramGoesOn) {
  expect_refused(load_damaged(PLIO_1,
                              [](std::string& b, TileTable) {
                                const std::size_t at = b.find("ZTILE2  = ");
                                ASSERT_NE(at, std::string::npos);
                                b.replace(at + 10, 20, std::string(19, ' ') + "0");
                              }),
                 "the file is damaged: reading the headers of its extensions failed");
}

// fits_loader_fuzz: a gzip file whose size field is 0, or below the packed size (taken for
// a size beyond 4 GB), made CFITSIO allocate 4 GB at once.
TEST(FoundByFuzzing, AGzipSizeFieldOfZeroOrBelowThePackedSizeIsRefused) {
  testing::ScratchFolder dir;
  if (std::system("command -v gzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "gzip is not installed";
  dir.write_fits("f.fits", Image(16, 16, 3.0f));
  ASSERT_EQ(std::system(("gzip -n '" + dir.file("f.fits") + "'").c_str()), 0);
  std::string bytes = dir.read("f.fits.gz");
  // A size of 0, then 16 bytes: fewer than the packed file holds.
  for (const std::string& size : {std::string(4, '\0'), std::string("\x10\0\0\0", 4)}) {
    bytes.replace(bytes.size() - 4, 4, size);
    dir.write("damaged.fits.gz", bytes);
    expect_refused(load(dir.file("damaged.fits.gz")),
                   "the gzip file is damaged: its size field cannot belong to its data");
  }
}

}  // namespace
}  // namespace zelvo
