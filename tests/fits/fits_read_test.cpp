// READ_FITS_2D_IMAGE: pixels, sizes and the files it refuses, made with CFITSIO or byte by byte in a
// scratch folder.
#include <fitsio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "fits/fits_io.h"
#include "fits/fits_test_files.h"
#include "support/session_harness.h"
#include "support/without_root.h"

namespace zelvo {
namespace {

using namespace fits_test;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::ScratchFolder;
using ::testing::StartsWith;
using testing::without_root;
namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------
// Reading pixels

TEST(FitsRead, FloatRoundTripIsExactAndPrintsTheThreeLines) {
  ScratchFolder dir;
  Image img(7, 5);
  const float specials[] = {0.0f, -0.0f, 1.0f, -1.5e-30f, 3.4e36f, -65536.25f, 1.0f / 3.0f};
  for (std::size_t i = 0; i < img.px.size(); ++i) img.px[i] = specials[i % 7] * static_cast<float>(i + 1);
  const std::string path = dir.file("m31.fits");
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, img.view()).status, 0);

  Image back;
  SlotHeader hdr{12.5f, "previous object     ", {}};
  HeaderTexts texts;
  const Load r = load(path, back, hdr, texts);
  ASSERT_EQ(r.outcome, ReadOutcome::loaded);
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
  ASSERT_EQ(load(dir.file("order.fits"), img).outcome, ReadOutcome::loaded);
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
  ASSERT_EQ(load(dir.file("u16.fits"), img).outcome, ReadOutcome::loaded);
  EXPECT_THAT(img.px, ::testing::ElementsAre(0.0f, 1.0f, 32768.0f, 32769.0f, 65534.0f, 65535.0f));

  write_image(dir.file("scaled.fits"), SHORT_IMG, {2, 2}, {-4, 0, 3, 1000},
              {"BSCALE  =                  0.5", "BZERO   =                100.0"});
  ASSERT_EQ(load(dir.file("scaled.fits"), img).outcome, ReadOutcome::loaded);
  EXPECT_THAT(img.px, ::testing::ElementsAre(98.0f, 100.0f, 101.5f, 600.0f));
}

TEST(FitsRead, EveryBitpixLoadsAsFloat) {
  ScratchFolder dir;
  const std::vector<double> raw = {0, 1, 2, 100, 127, 5, 6, 7};
  for (int bitpix : {BYTE_IMG, SHORT_IMG, LONG_IMG, LONGLONG_IMG, FLOAT_IMG, DOUBLE_IMG}) {
    const std::string path = dir.file("b" + std::to_string(bitpix + 100) + ".fits");
    write_image(path, bitpix, {4, 2}, raw);
    Image img;
    ASSERT_EQ(load(path, img).outcome, ReadOutcome::loaded) << "BITPIX " << bitpix;
    EXPECT_THAT(img.px, ::testing::ElementsAre(0.0f, 1.0f, 2.0f, 100.0f, 127.0f, 5.0f, 6.0f, 7.0f))
        << "BITPIX " << bitpix;
  }
}

TEST(FitsRead, UndefinedPixelsBecomeMinus999) {
  ScratchFolder dir;
  write_image(dir.file("blank.fits"), SHORT_IMG, {3, 1}, {-32768, 5, -32768}, {"BLANK   =               -32768"});
  Image img;
  ASSERT_EQ(load(dir.file("blank.fits"), img).outcome, ReadOutcome::loaded);
  EXPECT_THAT(img.px, ::testing::ElementsAre(-999.0f, 5.0f, -999.0f));

  // In float data the undefined values are NaN (CFITSIO counts infinities with them).
  write_image(dir.file("nan.fits"), FLOAT_IMG, {3, 1},
              {std::numeric_limits<double>::quiet_NaN(), 2.5, std::numeric_limits<double>::infinity()});
  ASSERT_EQ(load(dir.file("nan.fits"), img).outcome, ReadOutcome::loaded);
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
    ASSERT_EQ(load(dir.file("wcs.fits"), back).outcome, ReadOutcome::loaded);
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
    ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, ramp(3, 3).view()).status, 0) << name;
    ASSERT_TRUE(fs::exists(path)) << name;
    Image back;
    const Load r = load(path + std::string(80 - path.size() % 80, ' '), back);
    ASSERT_EQ(r.outcome, ReadOutcome::loaded) << name;
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
    ASSERT_EQ(r.outcome, ReadOutcome::loaded) << name;
    EXPECT_THAT(r.out, HasSubstr(" nxpix, nypix = 40 30\n")) << name;
    ASSERT_EQ(img.px.size(), raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) ASSERT_EQ(img.px[i], static_cast<float>(raw[i])) << name << i;
    EXPECT_EQ(hdr.object, "M51" + std::string(17, ' ')) << name;
    EXPECT_EQ(hdr.exptime, 60.0f) << name;
  }
}

TEST(FitsRead, CubeLoadsItsFirstPlaneAndSaysSo) {
  ScratchFolder dir;
  std::vector<double> raw;
  for (int i = 0; i < 4 * 3 * 2; ++i) raw.push_back(i);
  write_image(dir.file("cube.fits"), FLOAT_IMG, {4, 3, 2}, raw);
  write_image(dir.file("flat.fits"), FLOAT_IMG, {4, 3, 1}, std::vector<double>(raw.begin(), raw.begin() + 12));
  Image img;
  EXPECT_THAT(load(dir.file("flat.fits"), img).out, Not(HasSubstr("cube")));  // one plane: nothing to say
  const Load r = load(dir.file("cube.fits"), img);
  ASSERT_EQ(r.outcome, ReadOutcome::loaded);
  EXPECT_THAT(r.out,
              HasSubstr(" nxpix, nypix = 4 3\n The file holds a cube of 2 planes; its first plane is loaded.\n"));
  ASSERT_EQ(img.px.size(), 12u);
  EXPECT_EQ(img.px.front(), 0.0f);
  EXPECT_EQ(img.px.back(), 11.0f);
}

// ---------------------------------------------------------------------------------------
// Files that cannot be loaded: the caller's values stay exactly as they were

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
  EXPECT_EQ(r.outcome, ReadOutcome::no_naxis);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, " Reading in " + dir.file("spectrum.fits") + "\n READIMAGE failed to read the NAXISn keywords.\n");
  u.expect_unchanged();

  // NAXIS = 2 without its NAXIS2 card is a broken header: CFITSIO says so.
  write_raw(dir.file("no-naxis2.fits"),
            {"SIMPLE  =                    T", "BITPIX  =                  -32", "NAXIS   =                    2",
             "NAXIS1  =                    5"},
            std::string(2880, '\0'));
  const Load m = load(dir.file("no-naxis2.fits"), u.img, u.hdr, u.texts);
  EXPECT_EQ(m.outcome, ReadOutcome::fits_error);
  EXPECT_THAT(m.out, HasSubstr(" FITSIO Error Status = 224 : missing NAXISn keywords"));
  u.expect_unchanged();
}

TEST(FitsReadFailure, FilesThatAreNotFitsGiveTheErrorReport) {
  ScratchFolder dir;
  dir.write("notes.fits", "These are my observing notes, not an image.\n");
  write_image(dir.file("full.fits"), FLOAT_IMG, {100, 100}, std::vector<double>(10000, 7.0));
  dir.write("short-header.fits", file_bytes(dir.file("full.fits")).substr(0, 1000));

  for (const char* name : {"notes.fits", "short-header.fits", "missing.fits"}) {
    Untouched u;
    const Load r = load(dir.file(name), u.img, u.hdr, u.texts);
    EXPECT_EQ(r.outcome, ReadOutcome::fits_error) << name;
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
  EXPECT_NE(r.outcome, ReadOutcome::loaded);
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
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, ramp(2, 2).view()).status, 0);
  fs::permissions(path, fs::perms::none);
  fs::permissions(dir.path(), kOpenFolder);
  const std::optional<bool> refused = without_root([&] {
    Untouched u;
    const Load r = load(path, u.img, u.hdr, u.texts);
    return r.outcome == ReadOutcome::fits_error && r.status == FILE_NOT_OPENED && u.unchanged();
  });
  if (!refused) GTEST_SKIP() << "could not give up root";
  EXPECT_TRUE(*refused);
}

TEST(FitsReadFailure, EmptyAxesAreRefused) {
  ScratchFolder dir;
  write_raw(dir.file("empty.fits"),
            {"SIMPLE  =                    T", "BITPIX  =                  -32", "NAXIS   =                    2",
             "NAXIS1  =                    0", "NAXIS2  =                    5"});
  Untouched u;
  const Load r = load(dir.file("empty.fits"), u.img, u.hdr, u.texts);
  EXPECT_EQ(r.outcome, ReadOutcome::no_pixels);
  EXPECT_THAT(r.out, HasSubstr(" nxpix, nypix = 0 5\n"));
  EXPECT_THAT(r.out, HasSubstr("length 0"));
  u.expect_unchanged();

  write_raw(dir.file("negative.fits"),
            {"SIMPLE  =                    T", "BITPIX  =                  -32", "NAXIS   =                    2",
             "NAXIS1  =                   -4", "NAXIS2  =                    5"});
  const Load n = load(dir.file("negative.fits"), u.img, u.hdr, u.texts);
  EXPECT_NE(n.outcome, ReadOutcome::loaded);
  u.expect_unchanged();
}

TEST(FitsReadFailure, AnImageTooLargeToHoldIsRefusedWithOneLine) {
  ScratchFolder dir;
  // Headers only: the sizes claimed are far beyond any memory (the last overflows 64 bits).
  for (const std::string n : {"100000000", "2147483647"}) {
    write_raw(dir.file("huge.fits"),
              {"SIMPLE  =                    T", "BITPIX  =                  -32", "NAXIS   =                    2",
               card_at("NAXIS1  =", 31 - n.size(), n), card_at("NAXIS2  =", 31 - n.size(), n)});
    Untouched u;
    const Load r = load(dir.file("huge.fits"), u.img, u.hdr, u.texts);
    EXPECT_EQ(r.outcome, ReadOutcome::too_large) << n;
    EXPECT_EQ(r.out, " Reading in " + dir.file("huge.fits") + "\n nxpix, nypix = " + n + " " + n +
                         "\n There is not enough memory for an image of this size; nothing was loaded.\n");
    u.expect_unchanged();
  }
}

}  // namespace
}  // namespace zelvo
