// WRITE_FITS_2D_IMAGE and replace_fits_2d_image: the files they leave and the ones they refuse.
#include <fitsio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "fits/fits_io.h"
#include "fits/fits_test_files.h"
#include "support/session_harness.h"
#include "support/without_root.h"

namespace zelvo {
namespace {

using namespace fits_test;
using testing::ScratchFolder;
using ::testing::StartsWith;
using testing::without_root;
namespace fs = std::filesystem;

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
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(dir.file("out.fits"), ramp(5, 3).view()).status, 0);
  const WrittenFile w = read_written(dir.file("out.fits"));
  EXPECT_EQ(w.hdus, 1);
  EXPECT_EQ(w.bitpix, -32);
  EXPECT_EQ(w.naxis, 2);
  EXPECT_EQ(w.naxes[0], 5);
  EXPECT_EQ(w.naxes[1], 3);
  EXPECT_THAT(keywords(w.cards), ::testing::ElementsAre("SIMPLE  ", "BITPIX  ", "NAXIS   ", "NAXIS1  ", "NAXIS2  ",
                                                        "EXTEND  ", "COMMENT ", "COMMENT ", "HISTORY "));
  EXPECT_THAT(
      w.cards.back(),
      ::testing::MatchesRegex("HISTORY Zelvo wrote this file on 20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-9:]{8} UTC\\."));
}

TEST(FitsWrite, KeepsTheSourceCardsButNotThoseOfTheOldData) {
  ScratchFolder dir;
  const std::vector<std::string> source = {
      "SIMPLE  =                    T",
      "BITPIX  =                   16",
      "NAXIS   =                    3",
      "NAXIS1  =                    5",
      "NAXIS2  =                    3",
      "NAXIS3  =                    4",
      "EXTEND  =                    T",
      "BSCALE  =                  2.0",
      "BZERO   =              32768.0",
      "BLANK   =                   -1",
      "COMMENT   FITS (Flexible Image Transport System) format is defined in 'Astronomy",
      "OBJECT  = 'NGC 1068'           / target",
      "EXPTIME =                300.0 / [s]",
      "DATE-OBS= '2001-10-12T23:14:05'",
      "CTYPE1  = 'RA---TAN'",
      "CRVAL1  =            40.669629",
      "CD1_1   =         -0.000138889",
      "WCSAXES =                    3",
      "ZCMPTYPE= 'RICE_1  '",
      "ZTILE1  =                    5",
      "HIERARCH ESO DET CHIP NAME = 'CCD-42'",
      "HISTORY flat-fielded",
      "LONGSTR = 'this value goes on and on beyond one card of eighty columns, so it &'",
      "CONTINUE  'needs a second card'",
      "CHECKSUM= 'hcHjjc9ghcEghc9g'   / HDU checksum",
      "DATASUM = '1234567'",
      "        / a card without a keyword",
      "BAD KEY = 'a damaged name'",
      "END"};
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(dir.file("kept.fits"), ramp(5, 3).view(), source).status, 0);
  const WrittenFile w = read_written(dir.file("kept.fits"));
  EXPECT_EQ(w.bitpix, -32);
  EXPECT_EQ(w.naxis, 2);
  std::vector<std::string> written;
  for (const auto& c : w.cards) written.push_back(trim_right(c));
  // The writer's own structural cards and the two standard comments, then the source's
  // cards that still describe the image, in their order, then the HISTORY and checksums.
  const std::vector<std::string> expected_middle = {
      "OBJECT  = 'NGC 1068'           / target",
      "EXPTIME =                300.0 / [s]",
      "DATE-OBS= '2001-10-12T23:14:05'",
      "CTYPE1  = 'RA---TAN'",
      "CRVAL1  =            40.669629",
      "CD1_1   =         -0.000138889",
      "WCSAXES =                    3",
      "HIERARCH ESO DET CHIP NAME = 'CCD-42'",
      "HISTORY flat-fielded",
      "LONGSTR = 'this value goes on and on beyond one card of eighty columns, so it &'",
      "CONTINUE  'needs a second card'",
      "        / a card without a keyword",
      "COMMENT BAD KEY = 'a damaged name'"};  // not writable as a keyword: kept as a comment
  ASSERT_EQ(written.size(), 8 + expected_middle.size() + 3);
  EXPECT_EQ(
      std::vector<std::string>(written.begin() + 8, written.begin() + 8 + static_cast<long>(expected_middle.size())),
      expected_middle);
  EXPECT_THAT(written[written.size() - 3], StartsWith("HISTORY Zelvo wrote this file on "));
  EXPECT_THAT(keywords(w.cards), ::testing::Contains("CHECKSUM").Times(1));
  EXPECT_THAT(keywords(w.cards), ::testing::Contains("DATASUM ").Times(1));
  EXPECT_EQ(w.datasum_ok, 1);  // fresh checksums, true of the new data
  EXPECT_EQ(w.hdusum_ok, 1);
  Image back;
  ASSERT_EQ(load(dir.file("kept.fits"), back).outcome, ReadOutcome::loaded);
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
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, img.view(), {"OBJECT  = 'M51     '", "RA      = '13:29:52.70'"}, &written).status,
            0);
  EXPECT_EQ(written.kind, GetParam().second);
  EXPECT_TRUE(written.lone_image);
  EXPECT_TRUE(written.identity == identity_of(path));
  EXPECT_EQ(file_bytes(path).substr(0, 2) == "\x1f\x8b", GetParam().second == FileKind::gzip);
  const WrittenFile w = read_written(path);
  EXPECT_EQ(w.hdus, GetParam().second == FileKind::tile_compressed ? 2 : 1);
  const FitsRead back = READ_FITS_2D_IMAGE(path);
  ASSERT_EQ(back.outcome, ReadOutcome::loaded);
  EXPECT_EQ(back.image.px, img.px);
  EXPECT_EQ(back.header.object, "M51" + std::string(17, ' '));
  EXPECT_EQ(back.texts.hdrra, "13:29:52.70    ");
  EXPECT_EQ(back.origin.kind, GetParam().second);
  EXPECT_TRUE(back.origin.lone_image);
}

INSTANTIATE_TEST_SUITE_P(Names, FitsWriteKind,
                         ::testing::Values(std::pair{"plain.fits", FileKind::plain},
                                           std::pair{"packed.fits.gz", FileKind::gzip},
                                           std::pair{"PACKED.FITS.GZ", FileKind::gzip},
                                           std::pair{"tiles.fits.fz", FileKind::tile_compressed}));

TEST(FitsWrite, AnExistingFileIsRefusedWithStatus105AndKept) {
  ScratchFolder dir;
  const std::string path = dir.file("m51.fits");
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, ramp(4, 4).view()).status, 0);
  const std::string before = file_bytes(path);
  const FitsError first = WRITE_FITS_2D_IMAGE(path, Image(8, 8, 1.0f).view());
  EXPECT_EQ(first.status, FILE_NOT_CREATED);
  EXPECT_EQ(file_bytes(path), before);
  EXPECT_EQ(first.text, "couldn't create the named file");
  EXPECT_THAT(first.stack, ::testing::ElementsAre("An existing file is never overwritten:", path));
  // Each write's error holds its own messages only.
  const FitsError again = WRITE_FITS_2D_IMAGE(path, Image(8, 8, 1.0f).view());
  EXPECT_EQ(again.stack, first.stack);
}

TEST(FitsWrite, AFailedWriteLeavesNoFile) {
  ScratchFolder dir;
  EXPECT_GT(WRITE_FITS_2D_IMAGE(dir.file("no-such-folder/out.fits"), ramp(2, 2).view()).status, 0);
  EXPECT_GT(WRITE_FITS_2D_IMAGE(dir.file("empty.fits"), Image().view()).status, 0);
  EXPECT_FALSE(fs::exists(dir.file("empty.fits")));
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(FitsReplace, ReplacesTheFileThroughATemporaryInTheSameFolder) {
  ScratchFolder dir;
  const std::string path = dir.file("work.fits");
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, ramp(4, 3).view()).status, 0);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  Image changed = ramp(6, 2);
  changed.at(6, 2) = -5.0f;
  ASSERT_EQ(replace_fits_2d_image(path, changed.view(), {}, loaded_origin(path)).status, 0);
  Image back;
  ASSERT_EQ(load(path, back).outcome, ReadOutcome::loaded);
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
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(dir.file("data/real.fits"), ramp(2, 2).view()).status, 0);
  fs::create_symlink("data/real.fits", dir.file("link.fits"));
  ASSERT_EQ(
      replace_fits_2d_image(dir.file("link.fits"), Image(3, 3, 9.0f).view(), {}, loaded_origin(dir.file("link.fits")))
          .status,
      0);
  EXPECT_TRUE(fs::is_symlink(dir.file("link.fits")));
  Image back;
  ASSERT_EQ(load(dir.file("data/real.fits"), back).outcome, ReadOutcome::loaded);
  EXPECT_EQ(back.px, Image(3, 3, 9.0f).px);
}

TEST(FitsReplace, AFailureLeavesTheOriginalAndNoTemporary) {
  ScratchFolder dir;
  fs::create_directory(dir.file("ro"));
  const std::string path = dir.file("ro/keep.fits");
  ASSERT_EQ(WRITE_FITS_2D_IMAGE(path, ramp(3, 3).view()).status, 0);
  const std::string before = file_bytes(path);
  fs::permissions(dir.path(), kOpenFolder);
  fs::permissions(dir.file("ro"), kOpenFolder & ~(fs::perms::owner_write));
  const FileOrigin origin = loaded_origin(path);
  const std::optional<bool> failed =
      without_root([&] { return replace_fits_2d_image(path, Image(3, 3, 1.0f).view(), {}, origin).status > 0; });
  fs::permissions(dir.file("ro"), fs::perms::owner_all);
  if (!failed) GTEST_SKIP() << "could not give up root";
  EXPECT_TRUE(*failed);
  EXPECT_EQ(file_bytes(path), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("ro")), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace zelvo
