// The header values a load takes from the cards of a file.
#include <fitsio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "fits/fits_io.h"
#include "fits/fits_test_files.h"
#include "support/session_harness.h"

namespace zelvo {
namespace {

using namespace fits_test;
using testing::ScratchFolder;

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
  ASSERT_EQ(load(dir.file("h.fits"), img, hdr, texts).outcome, ReadOutcome::loaded);
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
                  "STATUS  = 'READOUT-OK'",  // not the sidereal time
                  "RA      = '13:29:52.70'",
                  "RA      = '13:29:53.10'",  // a second RA card: the last one wins
                  "RADESYS = 'FK5     '",     // not the right ascension
                  "DECSYS  = 'FK5     '",
                  "OBJECT  = 'Stephan''s Quintet group' / apostrophes become blanks",
                  card_at("HIEFILT =", 32, "FILTER  "),  // first marker
                  card_at("HIE1    =", 32, "B"),
                  card_at("HIERARCH A =", 32, "FILTER  "),  // the last marker wins
                  card_at("HIERARCH B =", 32, "I"),
              });
  Image img;
  SlotHeader hdr;
  HeaderTexts texts;
  ASSERT_EQ(load(dir.file("h.fits"), img, hdr, texts).outcome, ReadOutcome::loaded);
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
  ASSERT_EQ(load(dir.file("r-band.fits"), img, hdr, texts).outcome, ReadOutcome::loaded);
  EXPECT_EQ(hdr.exptime, 120.5f);
  EXPECT_EQ(texts.hdrfilter, "R              ");
  ASSERT_EQ(load(dir.file("b-band.fits"), img, hdr, texts).outcome, ReadOutcome::loaded);
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
  write_raw(dir.file("v.fits"),
            {"SIMPLE  =                    T", "BITPIX  =                  -32", "NAXIS   =                    2",
             "NAXIS1  =                    1", "NAXIS2  =                    1", GetParam().card},
            std::string(2880, '\0'));
  Image img;
  SlotHeader hdr;
  HeaderTexts texts;
  ASSERT_EQ(load(dir.file("v.fits"), img, hdr, texts).outcome, ReadOutcome::loaded);
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
  ASSERT_EQ(load(dir.file("e.fits"), img, hdr, texts).outcome, ReadOutcome::loaded);
  EXPECT_EQ(hdr.exptime, GetParam().exptime);
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, FitsExposure,
    ::testing::Values(ExposureCase{{"EXPTIME =                300.0"}, 300.0f},
                      ExposureCase{{"ITIME   =                 45.0 / integration time [s]"}, 45.0f},
                      ExposureCase{{"ITIME   =                 45.0", "EXPTIME =                 90.0"}, 90.0f},
                      ExposureCase{{"EXPTIME = 'unknown '", "ITIME   =                 45.0"}, 45.0f},
                      ExposureCase{{"ITIMEX  =                 45.0"}, 0.0f}, ExposureCase{{}, 0.0f}));

TEST(FitsHeader, NumbersRightJustifiedToColumn30AreReadWhole) {
  ScratchFolder dir;
  // A long value reaches past column 25; a short one lies wholly beyond it.
  for (const auto& [card, expected] :
       std::vector<std::pair<std::string, float>>{{"EXPTIME =              1200.00 / [s]", 1200.0f},
                                                  {"EXPTIME =                  60. / [s]", 60.0f},
                                                  {"EXPTIME =               1.5D+2", 150.0f}}) {
    write_image(dir.file("e.fits"), FLOAT_IMG, {1, 1}, {0}, {card});
    Image img;
    SlotHeader hdr;
    HeaderTexts texts;
    ASSERT_EQ(load(dir.file("e.fits"), img, hdr, texts).outcome, ReadOutcome::loaded);
    EXPECT_EQ(hdr.exptime, expected) << card;
    std::filesystem::remove(dir.file("e.fits"));
  }
}

}  // namespace
}  // namespace zelvo
