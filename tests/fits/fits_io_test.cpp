// FITS reading and writing: files are made with CFITSIO (or byte by byte) in a scratch folder.
#include "fits/fits_io.h"

#include <fitsio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>

#include "platform/console.h"
#include "platform/list_io.h"
#include "support/session_harness.h"
#include "support/without_root.h"

namespace zelvo {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::ScratchFolder;
using testing::without_root;
namespace fs = std::filesystem;

// What one call of the reader did.
struct Load {
  ReadOutcome outcome;
  std::string out;
  int status;
};

// Loads `path` into the given values, with a console on string streams.
Load load(const std::string& path, Image& img, SlotHeader& hdr, HeaderTexts& texts) {
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  int status = -1;
  const ReadOutcome r = READ_FITS_2D_IMAGE(path, img, hdr, texts, status, con);
  return {r, out.str(), status};
}

Load load(const std::string& path, Image& img) {
  SlotHeader hdr;
  HeaderTexts texts;
  return load(path, img, hdr, texts);
}

// How a load of `path` describes its file.
FileOrigin loaded_origin(const std::string& path) {
  Image img;
  SlotHeader hdr;
  HeaderTexts texts;
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  int status = 0;
  FileOrigin origin;
  READ_FITS_2D_IMAGE(path, img, hdr, texts, status, con, &origin);
  return origin;
}

std::string fits_report(int status) {
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  PRINT_FITS_ERROR(status, con);
  return out.str();
}

// Writes an image with CFITSIO (extended file-name syntax, so ".gz" and "[compress]" work).
// `raw` are the stored values: BSCALE/BZERO given in `cards` are not applied while writing.
void write_image(const std::string& name, int bitpix, std::vector<long> axes, const std::vector<double>& raw,
                 const std::vector<std::string>& cards = {}) {
  fitsfile* f = nullptr;
  int status = 0;
  fits_create_file(&f, name.c_str(), &status);
  fits_create_img(f, bitpix, static_cast<int>(axes.size()), axes.data(), &status);
  bool scaled = false;
  for (const auto& c : cards) {
    fits_write_record(f, c.c_str(), &status);
    scaled = scaled || c.rfind("BSCALE", 0) == 0 || c.rfind("BZERO", 0) == 0;
  }
  if (scaled) fits_set_bscale(f, 1.0, 0.0, &status);
  if (bitpix == SHORT_IMG) {
    // The data type must match exactly when CFITSIO writes a tile-compressed image.
    std::vector<short> v(raw.begin(), raw.end());
    fits_write_img(f, TSHORT, 1, static_cast<LONGLONG>(v.size()), v.data(), &status);
  } else if (!raw.empty()) {
    fits_write_img(f, TDOUBLE, 1, static_cast<LONGLONG>(raw.size()), const_cast<double*>(raw.data()), &status);
  }
  fits_close_file(f, &status);
  ASSERT_EQ(status, 0) << "writing " << name;
}

// A file written byte by byte: the cards, END, blank padding to 2880 bytes, then `data`.
void write_raw(const std::string& path, const std::vector<std::string>& cards, const std::string& data = "") {
  std::string h;
  for (const auto& c : cards) {
    std::string card = c;
    card.resize(80, ' ');
    h += card;
  }
  std::string end = "END";
  end.resize(80, ' ');
  h += end;
  h.resize((h.size() + 2879) / 2880 * 2880, ' ');
  FILE* fp = std::fopen(path.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  std::fwrite(h.data(), 1, h.size(), fp);
  std::fwrite(data.data(), 1, data.size(), fp);
  std::fclose(fp);
}

// An 80-column card: `left`, blanks up to column `col`, then `text`.
std::string card_at(const std::string& left, std::size_t col, const std::string& text) {
  std::string c = left;
  c.resize(col - 1, ' ');
  c += text;
  c.resize(80, ' ');
  return c;
}

Image ramp(int nx, int ny) {
  Image img(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) img.at(x, y) = static_cast<float>(100 * y + x);
  return img;
}

std::string file_bytes(const std::string& path) {
  FILE* fp = std::fopen(path.c_str(), "rb");
  std::string s;
  if (!fp) return s;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) s.append(buf, n);
  std::fclose(fp);
  return s;
}

// ---------------------------------------------------------------------------------------
// Reading pixels

TEST(FitsRead, FloatRoundTripIsExactAndPrintsTheThreeLines) {
  ScratchFolder dir;
  Image img(7, 5);
  const float specials[] = {0.0f, -0.0f, 1.0f, -1.5e-30f, 3.4e36f, -65536.25f, 1.0f / 3.0f};
  for (std::size_t i = 0; i < img.px.size(); ++i) img.px[i] = specials[i % 7] * static_cast<float>(i + 1);
  const std::string path = dir.file("m31.fits");
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, img.view()), 0);

  Image back;
  SlotHeader hdr{12.5f, "previous object     ", {}};
  HeaderTexts texts;
  const Load r = load(path, back, hdr, texts);
  ASSERT_EQ(r.outcome, ReadOutcome::Loaded);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, " Reading in " + path + "\n nxpix, nypix = 7 5\n\n");
  ASSERT_EQ(back.nx, 7);
  ASSERT_EQ(back.ny, 5);
  EXPECT_EQ(back.px, img.px);  // exactly (CFITSIO reads -0.0 as 0.0, which compares equal)
  // The written file carries no OBJECT or EXPTIME: nothing of the previous values stays.
  EXPECT_EQ(hdr.exptime, 0.0f);
  EXPECT_EQ(hdr.object, std::string(20, ' '));
}

TEST(FitsRead, PixelOrderIsTheFileOrderWithXFastest) {
  ScratchFolder dir;
  std::vector<double> raw;
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 4; ++x) raw.push_back(10 * x + y);
  write_image(dir.file("order.fits"), FLOAT_IMG, {4, 3}, raw);
  Image img;
  ASSERT_EQ(load(dir.file("order.fits"), img).outcome, ReadOutcome::Loaded);
  EXPECT_EQ(img.at(1, 1), 11.0f);
  EXPECT_EQ(img.at(4, 1), 41.0f);
  EXPECT_EQ(img.at(2, 3), 23.0f);
}

TEST(FitsRead, IntegerImagesApplyBscaleAndBzero) {
  ScratchFolder dir;
  // Unsigned 16-bit data as cameras write them: BITPIX 16, BZERO 32768.
  write_image(dir.file("u16.fits"), SHORT_IMG, {3, 2}, {-32768, -32767, 0, 1, 32766, 32767},
              {"BZERO   =                32768", "BSCALE  =                    1"});
  Image img;
  ASSERT_EQ(load(dir.file("u16.fits"), img).outcome, ReadOutcome::Loaded);
  EXPECT_THAT(img.px, ::testing::ElementsAre(0.0f, 1.0f, 32768.0f, 32769.0f, 65534.0f, 65535.0f));

  write_image(dir.file("scaled.fits"), SHORT_IMG, {2, 2}, {-4, 0, 3, 1000},
              {"BSCALE  =                  0.5", "BZERO   =                100.0"});
  ASSERT_EQ(load(dir.file("scaled.fits"), img).outcome, ReadOutcome::Loaded);
  EXPECT_THAT(img.px, ::testing::ElementsAre(98.0f, 100.0f, 101.5f, 600.0f));
}

TEST(FitsRead, EveryBitpixLoadsAsFloat) {
  ScratchFolder dir;
  const std::vector<double> raw = {0, 1, 2, 100, 127, 5, 6, 7};
  for (int bitpix : {BYTE_IMG, SHORT_IMG, LONG_IMG, LONGLONG_IMG, FLOAT_IMG, DOUBLE_IMG}) {
    const std::string path = dir.file("b" + std::to_string(bitpix + 100) + ".fits");
    write_image(path, bitpix, {4, 2}, raw);
    Image img;
    ASSERT_EQ(load(path, img).outcome, ReadOutcome::Loaded) << "BITPIX " << bitpix;
    EXPECT_THAT(img.px, ::testing::ElementsAre(0.0f, 1.0f, 2.0f, 100.0f, 127.0f, 5.0f, 6.0f, 7.0f))
        << "BITPIX " << bitpix;
  }
}

TEST(FitsRead, UndefinedPixelsBecomeMinus999) {
  ScratchFolder dir;
  write_image(dir.file("blank.fits"), SHORT_IMG, {3, 1}, {-32768, 5, -32768},
              {"BLANK   =               -32768"});
  Image img;
  ASSERT_EQ(load(dir.file("blank.fits"), img).outcome, ReadOutcome::Loaded);
  EXPECT_THAT(img.px, ::testing::ElementsAre(-999.0f, 5.0f, -999.0f));

  // In float data the undefined values are NaN (CFITSIO counts infinities with them).
  write_image(dir.file("nan.fits"), FLOAT_IMG, {3, 1},
              {std::numeric_limits<double>::quiet_NaN(), 2.5, std::numeric_limits<double>::infinity()});
  ASSERT_EQ(load(dir.file("nan.fits"), img).outcome, ReadOutcome::Loaded);
  EXPECT_THAT(img.px, ::testing::ElementsAre(-999.0f, 2.5f, -999.0f));
}

TEST(FitsRead, CrvalCardsDoNotMovePixels) {
  ScratchFolder dir;
  const Image img = ramp(6, 4);
  std::vector<double> raw(img.px.begin(), img.px.end());
  // Sky coordinates of an M51 frame, then values that would round to other offsets.
  for (const auto& pair : std::vector<std::pair<std::string, std::string>>{
           {"202.4696292", "47.1951722"}, {"1.5", "0.6"}, {"-3.0", "2.7"}}) {
    write_image(dir.file("wcs.fits"), FLOAT_IMG, {6, 4}, raw,
                {card_at("CRVAL1  =", 31 - pair.first.size(), pair.first),
                 card_at("CRVAL2  =", 31 - pair.second.size(), pair.second)});
    Image back;
    ASSERT_EQ(load(dir.file("wcs.fits"), back).outcome, ReadOutcome::Loaded);
    EXPECT_EQ(back.px, img.px) << "CRVAL1 " << pair.first;
    fs::remove(dir.file("wcs.fits"));
  }
}

TEST(FitsRead, FileNameWithTrailingBlanksAndLiteralSpecialCharacters) {
  ScratchFolder dir;
  const Image img = ramp(3, 3);
  // Brackets and a leading "!" are ordinary characters of a file name here.
  for (const std::string name : {"frame[1].fits", "!frame.fits"}) {
    const std::string path = dir.file(name);
    ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, ramp(3, 3).view()), 0) << name;
    ASSERT_TRUE(fs::exists(path)) << name;
    Image back;
    const Load r = load(path + std::string(80 - path.size() % 80, ' '), back);
    ASSERT_EQ(r.outcome, ReadOutcome::Loaded) << name;
    EXPECT_THAT(r.out, StartsWith(" Reading in " + path + "\n"));
    EXPECT_EQ(back.px, img.px);
  }
  EXPECT_FALSE(fs::exists(dir.file("frame.fits")));
}

TEST(FitsRead, GzipAndTileCompressedFilesLoadTheirFirstImage) {
  ScratchFolder dir;
  std::vector<double> raw;
  for (int i = 0; i < 40 * 30; ++i) raw.push_back((i * 37) % 1000);
  const std::vector<std::string> cards = {"OBJECT  = 'M51     '", "EXPTIME =                 60.0"};

  // CFITSIO gzips a file whose name ends in .gz when it closes it.
  write_image(dir.file("g.fits.gz"), SHORT_IMG, {40, 30}, raw, cards);
  ASSERT_EQ(file_bytes(dir.file("g.fits.gz")).substr(0, 2), "\x1f\x8b");
  // Tile compression: an empty primary array and the image in extension 1.
  write_image(dir.file("t.fits.fz[compress]"), SHORT_IMG, {40, 30}, raw, cards);
  {
    fitsfile* f = nullptr;
    int status = 0, naxis = -1, hdus = 0;
    fits_open_diskfile(&f, dir.file("t.fits.fz").c_str(), READONLY, &status);
    fits_get_img_dim(f, &naxis, &status);
    fits_get_num_hdus(f, &hdus, &status);
    fits_close_file(f, &status);
    ASSERT_EQ(naxis, 0);
    ASSERT_EQ(hdus, 2);
  }
  for (const char* name : {"g.fits.gz", "t.fits.fz"}) {
    Image img;
    SlotHeader hdr;
    HeaderTexts texts;
    const Load r = load(dir.file(name), img, hdr, texts);
    ASSERT_EQ(r.outcome, ReadOutcome::Loaded) << name;
    EXPECT_THAT(r.out, HasSubstr(" nxpix, nypix = 40 30\n")) << name;
    ASSERT_EQ(img.px.size(), raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) ASSERT_EQ(img.px[i], static_cast<float>(raw[i])) << name << i;
    EXPECT_EQ(hdr.object, "M51" + std::string(17, ' ')) << name;
    EXPECT_EQ(hdr.exptime, 60.0f) << name;
  }
}

TEST(FitsRead, CubeLoadsItsFirstPlane) {
  ScratchFolder dir;
  std::vector<double> raw;
  for (int i = 0; i < 4 * 3 * 2; ++i) raw.push_back(i);
  write_image(dir.file("cube.fits"), FLOAT_IMG, {4, 3, 2}, raw);
  Image img;
  const Load r = load(dir.file("cube.fits"), img);
  ASSERT_EQ(r.outcome, ReadOutcome::Loaded);
  EXPECT_THAT(r.out, HasSubstr(" nxpix, nypix = 4 3\n"));
  ASSERT_EQ(img.px.size(), 12u);
  EXPECT_EQ(img.px.front(), 0.0f);
  EXPECT_EQ(img.px.back(), 11.0f);
}

// ---------------------------------------------------------------------------------------
// Header values

TEST(FitsHeader, TakesTheValuesFromTheirColumns) {
  ScratchFolder dir;
  write_image(dir.file("h.fits"), FLOAT_IMG, {2, 2}, {1, 2, 3, 4},
              {
                  "EXPTIME =                300.0 / Exposure time [s]",
                  "OBJECT  = 'NGC 1234'           / the opening apostrophe is in column 11",
                  card_at("ST      =", 35, "06:12:34.56 sidereal"),
                  card_at("RA      =", 35, "13:29:52.70 J2000"),
                  card_at("DEC     =", 35, "+47:11:42.93 J2000"),
                  card_at("HIERARCH DET FILT ID =", 32, "FILTER  "),
                  card_at("HIERARCH DET FILT NAME =", 32, "V"),
              });
  Image img;
  SlotHeader hdr;
  HeaderTexts texts;
  ASSERT_EQ(load(dir.file("h.fits"), img, hdr, texts).outcome, ReadOutcome::Loaded);
  EXPECT_EQ(hdr.exptime, 300.0f);
  EXPECT_EQ(hdr.object, "NGC 1234            ");
  EXPECT_EQ(texts.hdrst, "06:12:34.56    ");
  EXPECT_EQ(texts.hdrra, "13:29:52.70    ");
  EXPECT_EQ(texts.hdrdec, "+47:11:42.93   ");
  EXPECT_EQ(texts.hdrfilter, "V              ");
}

TEST(FitsHeader, OnlyCardsOfExactlyTheseNamesCountAndTheLastOneWins) {
  ScratchFolder dir;
  write_image(dir.file("h.fits"), FLOAT_IMG, {2, 2}, {1, 2, 3, 4},
              {
                  "ST      = '06:12:34.56'",
                  "STATUS  = 'READOUT-OK'",            // not the sidereal time
                  "RA      = '13:29:52.70'",
                  "RA      = '13:29:53.10'",           // a second RA card: the last one wins
                  "RADESYS = 'FK5     '",              // not the right ascension
                  "DECSYS  = 'FK5     '",
                  "OBJECT  = 'Stephan''s Quintet group' / apostrophes become blanks",
                  card_at("HIEFILT =", 32, "FILTER  "),               // first marker
                  card_at("HIE1    =", 32, "B"),
                  card_at("HIERARCH A =", 32, "FILTER  "),            // the last marker wins
                  card_at("HIERARCH B =", 32, "I"),
              });
  Image img;
  SlotHeader hdr;
  HeaderTexts texts;
  ASSERT_EQ(load(dir.file("h.fits"), img, hdr, texts).outcome, ReadOutcome::Loaded);
  EXPECT_EQ(texts.hdrst, "06:12:34.56    ");
  EXPECT_EQ(texts.hdrra, "13:29:53.10    ");
  EXPECT_EQ(texts.hdrdec, std::string(15, ' '));
  // Columns 12-25 of the card are "Stephan''s Qui": both apostrophes blanked.
  EXPECT_EQ(hdr.object, "Stephan  s Qui      ");
  EXPECT_EQ(texts.hdrfilter, "I              ");
}

TEST(FitsHeader, EveryLoadTakesItsValuesFromThatFileAlone) {
  ScratchFolder dir;
  write_image(dir.file("r-band.fits"), FLOAT_IMG, {2, 2}, {1, 2, 3, 4},
              {"RA      = '10:00:00.00'", "EXPTIME = 120.5 / free-format value", "OBJECT  = 'M51     '",
               card_at("HIERARCH FLT =", 32, "FILTER  "), card_at("HIERARCH NAME =", 32, "R")});
  // No RA, no filter, no OBJECT, an exposure time that is not a number.
  write_image(dir.file("b-band.fits"), FLOAT_IMG, {2, 2}, {1, 2, 3, 4},
              {"EXPTIME = 'long'             / not a number", "DEC     = '-05:00:00.00'"});
  Image img;
  SlotHeader hdr;
  HeaderTexts texts;
  ASSERT_EQ(load(dir.file("r-band.fits"), img, hdr, texts).outcome, ReadOutcome::Loaded);
  EXPECT_EQ(hdr.exptime, 120.5f);
  EXPECT_EQ(texts.hdrfilter, "R              ");
  ASSERT_EQ(load(dir.file("b-band.fits"), img, hdr, texts).outcome, ReadOutcome::Loaded);
  EXPECT_EQ(hdr.exptime, 0.0f);
  EXPECT_EQ(hdr.object, std::string(20, ' '));
  EXPECT_EQ(texts.hdrra, std::string(15, ' '));
  EXPECT_EQ(texts.hdrfilter, std::string(15, ' '));
  EXPECT_EQ(texts.hdrdec, "-05:00:00.00   ");
}

// One card and the text the reader shows for it: the value as CFITSIO parses it, a string
// without quotes and surrounding blanks, a number as written, cut to 15 characters.
struct ValueCase {
  std::string card;
  std::string HeaderTexts::*field;
  std::string shown;
};

class FitsHeaderValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(FitsHeaderValue, ShowsTheValueNotTheComment) {
  ScratchFolder dir;
  write_raw(dir.file("v.fits"), {"SIMPLE  =                    T", "BITPIX  =                  -32",
                                 "NAXIS   =                    2", "NAXIS1  =                    1",
                                 "NAXIS2  =                    1", GetParam().card},
            std::string(2880, '\0'));
  Image img;
  SlotHeader hdr;
  HeaderTexts texts;
  ASSERT_EQ(load(dir.file("v.fits"), img, hdr, texts).outcome, ReadOutcome::Loaded);
  EXPECT_EQ(texts.*GetParam().field, pad_right(GetParam().shown, 15));
}

INSTANTIATE_TEST_SUITE_P(
    Cards, FitsHeaderValue,
    ::testing::Values(
        // Standard cards: columns 35-46 hold the comment, never shown.
        ValueCase{"RA      = '13:29:24.00'  / RIGHT ASCENSION", &HeaderTexts::hdrra, "13:29:24.00"},
        ValueCase{"DEC     = '+47:11:43.00' / DECLINATION", &HeaderTexts::hdrdec, "+47:11:43.00"},
        ValueCase{"ST      = '06:12:34'     / SIDEREAL TIME", &HeaderTexts::hdrst, "06:12:34"},
        // The value laid out in columns 35-46 inside the quotes.
        ValueCase{card_at("RA      = '", 35, "13:29:52.70'"), &HeaderTexts::hdrra, "13:29:52.70"},
        ValueCase{card_at("DEC     = '", 35, "+47:11:42.93'"), &HeaderTexts::hdrdec, "+47:11:42.93"},
        // Numbers as written.
        ValueCase{"ST      =              6.20935 / sidereal time [h]", &HeaderTexts::hdrst, "6.20935"},
        ValueCase{"DEC     =           4.7195E+01 / [deg]", &HeaderTexts::hdrdec, "4.7195E+01"},
        // A long value is cut to the text's 15 characters; an apostrophe in it stays one.
        ValueCase{"RA      = '202.35167 degrees J2000'", &HeaderTexts::hdrra, "202.35167 degre"},
        ValueCase{"ST      = 'O''clock'", &HeaderTexts::hdrst, "O'clock"},
        // No value at all.
        ValueCase{"RA      =                      / unknown", &HeaderTexts::hdrra, ""}));

struct ExposureCase {
  std::vector<std::string> cards;
  float exptime;
};

class FitsExposure : public ::testing::TestWithParam<ExposureCase> {};

TEST_P(FitsExposure, IsExptimeOrElseItime) {
  ScratchFolder dir;
  write_image(dir.file("e.fits"), FLOAT_IMG, {1, 1}, {0}, GetParam().cards);
  Image img;
  SlotHeader hdr{7.0f, std::string(20, ' '), {}};
  HeaderTexts texts;
  ASSERT_EQ(load(dir.file("e.fits"), img, hdr, texts).outcome, ReadOutcome::Loaded);
  EXPECT_EQ(hdr.exptime, GetParam().exptime);
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, FitsExposure,
    ::testing::Values(ExposureCase{{"EXPTIME =                300.0"}, 300.0f},
                      ExposureCase{{"ITIME   =                 45.0 / integration time [s]"}, 45.0f},
                      ExposureCase{{"ITIME   =                 45.0", "EXPTIME =                 90.0"}, 90.0f},
                      ExposureCase{{"EXPTIME = 'unknown '", "ITIME   =                 45.0"}, 45.0f},
                      ExposureCase{{"ITIMEX  =                 45.0"}, 0.0f},
                      ExposureCase{{}, 0.0f}));

TEST(FitsHeader, NumbersRightJustifiedToColumn30AreReadWhole) {
  ScratchFolder dir;
  // A long value reaches past column 25; a short one lies wholly beyond it.
  for (const auto& [card, expected] : std::vector<std::pair<std::string, float>>{
           {"EXPTIME =              1200.00 / [s]", 1200.0f},
           {"EXPTIME =                  60. / [s]", 60.0f},
           {"EXPTIME =               1.5D+2", 150.0f}}) {
    write_image(dir.file("e.fits"), FLOAT_IMG, {1, 1}, {0}, {card});
    Image img;
    SlotHeader hdr;
    HeaderTexts texts;
    ASSERT_EQ(load(dir.file("e.fits"), img, hdr, texts).outcome, ReadOutcome::Loaded);
    EXPECT_EQ(hdr.exptime, expected) << card;
    fs::remove(dir.file("e.fits"));
  }
}

// ---------------------------------------------------------------------------------------
// Files that cannot be loaded: the caller's values stay exactly as they were

// Read and search rights for everyone on a folder, so that a check run without root reaches it.
constexpr fs::perms kOpenFolder = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec;

struct Untouched {
  Image img = ramp(3, 2);
  SlotHeader hdr{42.0f, "old object          ", {}};
  HeaderTexts texts;
  Untouched() { texts.hdrra = "01:02:03.04    "; }
  bool unchanged() const {
    return img.nx == 3 && img.ny == 2 && img.px == ramp(3, 2).px && hdr.exptime == 42.0f &&
           hdr.object == "old object          " && texts.hdrra == "01:02:03.04    ";
  }
  void expect_unchanged() const {
    EXPECT_EQ(img.nx, 3);
    EXPECT_EQ(img.ny, 2);
    EXPECT_EQ(img.px, ramp(3, 2).px);
    EXPECT_EQ(hdr.exptime, 42.0f);
    EXPECT_EQ(hdr.object, "old object          ");
    EXPECT_EQ(texts.hdrra, "01:02:03.04    ");
  }
};

TEST(FitsReadFailure, OneAxisGivesTheNaxisMessage) {
  ScratchFolder dir;
  write_image(dir.file("spectrum.fits"), FLOAT_IMG, {5}, {1, 2, 3, 4, 5},
              {"EXPTIME =                 10.0", card_at("RA      =", 35, "99:99:99.99")});
  Untouched u;
  const Load r = load(dir.file("spectrum.fits"), u.img, u.hdr, u.texts);
  EXPECT_EQ(r.outcome, ReadOutcome::NoNaxis);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, " Reading in " + dir.file("spectrum.fits") + "\n READIMAGE failed to read the NAXISn keywords.\n");
  u.expect_unchanged();

  // NAXIS = 2 without its NAXIS2 card is a broken header: CFITSIO says so.
  write_raw(dir.file("no-naxis2.fits"), {"SIMPLE  =                    T", "BITPIX  =                  -32",
                                         "NAXIS   =                    2", "NAXIS1  =                    5"},
            std::string(2880, '\0'));
  const Load m = load(dir.file("no-naxis2.fits"), u.img, u.hdr, u.texts);
  EXPECT_EQ(m.outcome, ReadOutcome::FitsError);
  EXPECT_THAT(m.out, HasSubstr(" FITSIO Error Status = 224 : missing NAXISn keywords"));
  u.expect_unchanged();
}

TEST(FitsReadFailure, FilesThatAreNotFitsGiveTheErrorReport) {
  ScratchFolder dir;
  dir.write("notes.fits", "These are my observing notes, not an image.\n");
  fs::create_directory(dir.file("folder.fits"));
  write_image(dir.file("full.fits"), FLOAT_IMG, {100, 100}, std::vector<double>(10000, 7.0));
  dir.write("short-header.fits", file_bytes(dir.file("full.fits")).substr(0, 1000));

  for (const char* name : {"notes.fits", "folder.fits", "short-header.fits", "missing.fits"}) {
    Untouched u;
    const Load r = load(dir.file(name), u.img, u.hdr, u.texts);
    EXPECT_EQ(r.outcome, ReadOutcome::FitsError) << name;
    EXPECT_GT(r.status, 0) << name;
    EXPECT_THAT(r.out, StartsWith(" Reading in " + dir.file(name) + "\n")) << name;
    EXPECT_THAT(r.out, HasSubstr(" FITSIO Error Status = " + std::to_string(r.status) + " : ")) << name;
    u.expect_unchanged();
  }
}

TEST(FitsReadFailure, TruncatedDataAreRefused) {
  ScratchFolder dir;
  // A complete header, but only part of the 100 x 100 pixels.
  write_image(dir.file("full.fits"), FLOAT_IMG, {100, 100}, std::vector<double>(10000, 7.0));
  dir.write("truncated.fits", file_bytes(dir.file("full.fits")).substr(0, 2880 + 20000));
  Untouched u;
  const Load r = load(dir.file("truncated.fits"), u.img, u.hdr, u.texts);
  EXPECT_NE(r.outcome, ReadOutcome::Loaded);
  // After the size line comes the reason (the FITS error report or one line), no empty line.
  const std::string head = " Reading in " + dir.file("truncated.fits") + "\n nxpix, nypix = 100 100\n";
  EXPECT_THAT(r.out, StartsWith(head));
  EXPECT_GT(r.out.size(), head.size() + 2);
  EXPECT_EQ(r.out.find("\n\n"), std::string::npos);
  u.expect_unchanged();
}

TEST(FitsReadFailure, UnreadableFileGivesTheErrorReport) {
  ScratchFolder dir;
  const std::string path = dir.file("secret.fits");
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, ramp(2, 2).view()), 0);
  fs::permissions(path, fs::perms::none);
  fs::permissions(dir.path(), kOpenFolder);
  const std::optional<bool> refused = without_root([&] {
    Untouched u;
    const Load r = load(path, u.img, u.hdr, u.texts);
    return r.outcome == ReadOutcome::FitsError && r.status == FILE_NOT_OPENED && u.unchanged();
  });
  if (!refused) GTEST_SKIP() << "could not give up root";
  EXPECT_TRUE(*refused);
}

TEST(FitsReadFailure, EmptyAxesAreRefused) {
  ScratchFolder dir;
  write_raw(dir.file("empty.fits"), {"SIMPLE  =                    T", "BITPIX  =                  -32",
                                     "NAXIS   =                    2", "NAXIS1  =                    0",
                                     "NAXIS2  =                    5"});
  Untouched u;
  const Load r = load(dir.file("empty.fits"), u.img, u.hdr, u.texts);
  EXPECT_EQ(r.outcome, ReadOutcome::NoPixels);
  EXPECT_THAT(r.out, HasSubstr(" nxpix, nypix = 0 5\n"));
  EXPECT_THAT(r.out, HasSubstr("length 0"));
  u.expect_unchanged();

  write_raw(dir.file("negative.fits"), {"SIMPLE  =                    T", "BITPIX  =                  -32",
                                        "NAXIS   =                    2", "NAXIS1  =                   -4",
                                        "NAXIS2  =                    5"});
  const Load n = load(dir.file("negative.fits"), u.img, u.hdr, u.texts);
  EXPECT_NE(n.outcome, ReadOutcome::Loaded);
  u.expect_unchanged();
}

TEST(FitsReadFailure, AnImageTooLargeToHoldIsRefusedWithOneLine) {
  ScratchFolder dir;
  // Headers only: the sizes claimed are far beyond any memory (the last overflows 64 bits).
  for (const std::string n : {"100000000", "2147483647"}) {
    write_raw(dir.file("huge.fits"), {"SIMPLE  =                    T", "BITPIX  =                  -32",
                                      "NAXIS   =                    2", card_at("NAXIS1  =", 31 - n.size(), n),
                                      card_at("NAXIS2  =", 31 - n.size(), n)});
    Untouched u;
    const Load r = load(dir.file("huge.fits"), u.img, u.hdr, u.texts);
    EXPECT_EQ(r.outcome, ReadOutcome::TooLarge) << n;
    EXPECT_EQ(r.out, " Reading in " + dir.file("huge.fits") + "\n nxpix, nypix = " + n + " " + n +
                         "\n There is not enough memory for an image of this size; nothing was loaded.\n");
    u.expect_unchanged();
  }
}

// ---------------------------------------------------------------------------------------
// Writing

// Every card of the first HDU holding an image, END excluded, and the image's BITPIX and axes.
struct WrittenFile {
  int hdus = 0, bitpix = 0, naxis = 0;
  long naxes[3] = {};
  std::vector<std::string> cards;
  int datasum_ok = 0, hdusum_ok = 0;
};

WrittenFile read_written(const std::string& path) {
  WrittenFile w;
  fitsfile* f = nullptr;
  int status = 0;
  fits_open_diskfile(&f, path.c_str(), READONLY, &status);
  fits_get_num_hdus(f, &w.hdus, &status);
  int type = 0;
  if (w.hdus == 2) fits_movabs_hdu(f, 2, &type, &status);
  fits_get_img_param(f, 3, &w.bitpix, &w.naxis, w.naxes, &status);
  int nkeys = 0, nspace = 0;
  fits_get_hdrspace(f, &nkeys, &nspace, &status);
  for (int k = 1; k <= nkeys; ++k) {
    char card[FLEN_CARD] = {};
    fits_read_record(f, k, card, &status);
    w.cards.push_back(card);
  }
  fits_verify_chksum(f, &w.datasum_ok, &w.hdusum_ok, &status);
  fits_close_file(f, &status);
  EXPECT_EQ(status, 0) << path;
  return w;
}

std::vector<std::string> keywords(const std::vector<std::string>& cards) {
  std::vector<std::string> k;
  for (const auto& c : cards) k.push_back(c.substr(0, std::min<std::size_t>(8, c.size())));
  return k;
}

TEST(FitsWrite, ANewImageGetsTheMandatoryCardsAndOneHistoryCard) {
  ScratchFolder dir;
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(dir.file("out.fits"), ramp(5, 3).view()), 0);
  const WrittenFile w = read_written(dir.file("out.fits"));
  EXPECT_EQ(w.hdus, 1);
  EXPECT_EQ(w.bitpix, -32);
  EXPECT_EQ(w.naxis, 2);
  EXPECT_EQ(w.naxes[0], 5);
  EXPECT_EQ(w.naxes[1], 3);
  EXPECT_THAT(keywords(w.cards), ::testing::ElementsAre("SIMPLE  ", "BITPIX  ", "NAXIS   ", "NAXIS1  ", "NAXIS2  ",
                                                        "EXTEND  ", "COMMENT ", "COMMENT ", "HISTORY "));
  EXPECT_THAT(w.cards.back(), ::testing::MatchesRegex(
                                  "HISTORY Zelvo wrote this file on 20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-9:]{8} UTC\\."));
}

TEST(FitsWrite, KeepsTheSourceCardsButNotThoseOfTheOldData) {
  ScratchFolder dir;
  const std::vector<std::string> source = {
      "SIMPLE  =                    T", "BITPIX  =                   16", "NAXIS   =                    3",
      "NAXIS1  =                    5", "NAXIS2  =                    3", "NAXIS3  =                    4",
      "EXTEND  =                    T", "BSCALE  =                  2.0", "BZERO   =              32768.0",
      "BLANK   =                   -1", "COMMENT   FITS (Flexible Image Transport System) format is defined in 'Astronomy",
      "OBJECT  = 'NGC 1068'           / target", "EXPTIME =                300.0 / [s]",
      "DATE-OBS= '2001-10-12T23:14:05'", "CTYPE1  = 'RA---TAN'", "CRVAL1  =            40.669629",
      "CD1_1   =         -0.000138889", "WCSAXES =                    3", "ZCMPTYPE= 'RICE_1  '",
      "ZTILE1  =                    5", "HIERARCH ESO DET CHIP NAME = 'CCD-42'", "HISTORY flat-fielded",
      "LONGSTR = 'this value goes on and on beyond one card of eighty columns, so it &'",
      "CONTINUE  'needs a second card'", "CHECKSUM= 'hcHjjc9ghcEghc9g'   / HDU checksum",
      "DATASUM = '1234567'", "        / a card without a keyword", "BAD KEY = 'a damaged name'", "END"};
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(dir.file("kept.fits"), ramp(5, 3).view(), source), 0);
  const WrittenFile w = read_written(dir.file("kept.fits"));
  EXPECT_EQ(w.bitpix, -32);
  EXPECT_EQ(w.naxis, 2);
  std::vector<std::string> written;
  for (const auto& c : w.cards) written.push_back(trim_right(c));
  // The writer's own structural cards and the two standard comments, then the source's
  // cards that still describe the image, in their order, then the HISTORY and checksums.
  const std::vector<std::string> expected_middle = {
      "OBJECT  = 'NGC 1068'           / target", "EXPTIME =                300.0 / [s]",
      "DATE-OBS= '2001-10-12T23:14:05'", "CTYPE1  = 'RA---TAN'", "CRVAL1  =            40.669629",
      "CD1_1   =         -0.000138889", "WCSAXES =                    3", "HIERARCH ESO DET CHIP NAME = 'CCD-42'",
      "HISTORY flat-fielded", "LONGSTR = 'this value goes on and on beyond one card of eighty columns, so it &'",
      "CONTINUE  'needs a second card'", "        / a card without a keyword",
      "COMMENT BAD KEY = 'a damaged name'"};  // not writable as a keyword: kept as a comment
  ASSERT_EQ(written.size(), 8 + expected_middle.size() + 3);
  EXPECT_EQ(std::vector<std::string>(written.begin() + 8, written.begin() + 8 + static_cast<long>(expected_middle.size())),
            expected_middle);
  EXPECT_THAT(written[written.size() - 3], StartsWith("HISTORY Zelvo wrote this file on "));
  EXPECT_THAT(keywords(w.cards), ::testing::Contains("CHECKSUM").Times(1));
  EXPECT_THAT(keywords(w.cards), ::testing::Contains("DATASUM ").Times(1));
  EXPECT_EQ(w.datasum_ok, 1);  // fresh checksums, true of the new data
  EXPECT_EQ(w.hdusum_ok, 1);
  Image back;
  ASSERT_EQ(load(dir.file("kept.fits"), back).outcome, ReadOutcome::Loaded);
  EXPECT_EQ(back.px, ramp(5, 3).px);  // no BSCALE, BZERO or BLANK of the source applied
}

// A name ending .gz or .fz gives that kind of file, read back whole with its cards.
class FitsWriteKind : public ::testing::TestWithParam<std::pair<const char*, FileKind>> {};

TEST_P(FitsWriteKind, TheNameDecidesHowTheFileIsStored) {
  ScratchFolder dir;
  const std::string path = dir.file(GetParam().first);
  Image img = ramp(37, 23);
  img.at(5, 5) = 1.0f / 3.0f;  // a value only a lossless packing keeps
  FileOrigin written;
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, img.view(), {"OBJECT  = 'M51     '", "RA      = '13:29:52.70'"}, &written), 0);
  EXPECT_EQ(written.kind, GetParam().second);
  EXPECT_TRUE(written.lone_image);
  EXPECT_TRUE(written.identity == identity_of(path));
  EXPECT_EQ(file_bytes(path).substr(0, 2) == "\x1f\x8b", GetParam().second == FileKind::Gzip);
  const WrittenFile w = read_written(path);
  EXPECT_EQ(w.hdus, GetParam().second == FileKind::TileCompressed ? 2 : 1);
  Image back;
  SlotHeader hdr;
  HeaderTexts texts;
  FileOrigin origin;
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  int status = 0;
  ASSERT_EQ(READ_FITS_2D_IMAGE(path, back, hdr, texts, status, con, &origin), ReadOutcome::Loaded);
  EXPECT_EQ(back.px, img.px);
  EXPECT_EQ(hdr.object, "M51" + std::string(17, ' '));
  EXPECT_EQ(texts.hdrra, "13:29:52.70    ");
  EXPECT_EQ(origin.kind, GetParam().second);
  EXPECT_TRUE(origin.lone_image);
}

INSTANTIATE_TEST_SUITE_P(Names, FitsWriteKind,
                         ::testing::Values(std::pair{"plain.fits", FileKind::Plain},
                                           std::pair{"packed.fits.gz", FileKind::Gzip},
                                           std::pair{"PACKED.FITS.GZ", FileKind::Gzip},
                                           std::pair{"tiles.fits.fz", FileKind::TileCompressed}));

TEST(FitsWrite, AnExistingFileIsRefusedWithStatus105AndKept) {
  ScratchFolder dir;
  const std::string path = dir.file("m51.fits");
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, ramp(4, 4).view()), 0);
  const std::string before = file_bytes(path);
  EXPECT_EQ(WRITE_FITS_2D_IMAGE(path, Image(8, 8, 1.0f).view()), FILE_NOT_CREATED);
  EXPECT_EQ(file_bytes(path), before);
  const std::string report = fits_report(FILE_NOT_CREATED);
  EXPECT_THAT(report, StartsWith(" FITSIO Error Status = 105 : couldn't create the named file"));
  EXPECT_THAT(report, HasSubstr("\n " + path + "\n"));  // the library's messages follow
  // Reading the messages emptied the stack.
  EXPECT_EQ(fits_report(FILE_NOT_CREATED), " FITSIO Error Status = 105 : couldn't create the named file\n");
}

TEST(FitsWrite, AFailedWriteLeavesNoFile) {
  ScratchFolder dir;
  EXPECT_GT(WRITE_FITS_2D_IMAGE(dir.file("no-such-folder/out.fits"), ramp(2, 2).view()), 0);
  EXPECT_GT(WRITE_FITS_2D_IMAGE(dir.file("empty.fits"), Image().view()), 0);
  EXPECT_FALSE(fs::exists(dir.file("empty.fits")));
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(FitsReplace, ReplacesTheFileThroughATemporaryInTheSameFolder) {
  ScratchFolder dir;
  const std::string path = dir.file("work.fits");
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, ramp(4, 3).view()), 0);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  Image changed = ramp(6, 2);
  changed.at(6, 2) = -5.0f;
  ASSERT_EQ(REPLACE_FITS_2D_IMAGE(path, changed.view(), {}, loaded_origin(path)), 0);
  Image back;
  ASSERT_EQ(load(path, back).outcome, ReadOutcome::Loaded);
  EXPECT_EQ(back.nx, 6);
  EXPECT_EQ(back.px, changed.px);
  // Only the file itself is in the folder, with its permissions.
  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(dir.path())) entries.push_back(e.path().filename().string());
  EXPECT_THAT(entries, ::testing::ElementsAre("work.fits"));
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(FitsReplace, ThroughALinkTheTargetIsReplacedAndTheLinkKept) {
  ScratchFolder dir;
  fs::create_directory(dir.file("data"));
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(dir.file("data/real.fits"), ramp(2, 2).view()), 0);
  fs::create_symlink("data/real.fits", dir.file("link.fits"));
  ASSERT_EQ(REPLACE_FITS_2D_IMAGE(dir.file("link.fits"), Image(3, 3, 9.0f).view(), {}, loaded_origin(dir.file("link.fits"))), 0);
  EXPECT_TRUE(fs::is_symlink(dir.file("link.fits")));
  Image back;
  ASSERT_EQ(load(dir.file("data/real.fits"), back).outcome, ReadOutcome::Loaded);
  EXPECT_EQ(back.px, Image(3, 3, 9.0f).px);
}

TEST(FitsReplace, AFailureLeavesTheOriginalAndNoTemporary) {
  ScratchFolder dir;
  fs::create_directory(dir.file("ro"));
  const std::string path = dir.file("ro/keep.fits");
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, ramp(3, 3).view()), 0);
  const std::string before = file_bytes(path);
  fs::permissions(dir.path(), kOpenFolder);
  fs::permissions(dir.file("ro"), kOpenFolder & ~(fs::perms::owner_write));
  const FileOrigin origin = loaded_origin(path);
  const std::optional<bool> failed =
      without_root([&] { return REPLACE_FITS_2D_IMAGE(path, Image(3, 3, 1.0f).view(), {}, origin) > 0; });
  fs::permissions(dir.file("ro"), fs::perms::owner_all);
  if (!failed) GTEST_SKIP() << "could not give up root";
  EXPECT_TRUE(*failed);
  EXPECT_EQ(file_bytes(path), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("ro")), fs::directory_iterator()), 1);
}

TEST(FitsErrorReport, NothingForStatusZeroAndMessagesOldestFirst) {
  EXPECT_EQ(fits_report(0), "");
  fits_clear_errmsg();
  fits_write_errmsg("first message");
  fits_write_errmsg("second message");
  EXPECT_EQ(fits_report(END_OF_FILE),
            " FITSIO Error Status = 107 : tried to move past end of file\n first message\n second message\n");
}

}  // namespace
}  // namespace zelvo
