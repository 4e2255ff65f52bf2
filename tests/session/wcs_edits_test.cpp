// Whole sessions: after crops, turns, mirrors, arithmetic and the colour images, M gives each
// pixel the sky position that the original file's WCS (read by astropy) gives the pixel it
// came from.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/astropy_wcs.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;

namespace {

// The real frame's WCS (IRAF's M51 plate) on a 120 x 90 image whose pixel (x, y) holds x + 1000 y.
const std::vector<std::string> kWcs{
    card("CTYPE1", "'RA---TAN'"),    card("CTYPE2", "'DEC--TAN'"),      card("CRPIX1", "257.75"),
    card("CRPIX2", "258.93"),        card("CRVAL1", "201.94541667302"), card("CRVAL2", "47.45444"),
    card("CDELT1", "-2.1277777E-4"), card("CDELT2", "2.1277777E-4"),    card("EXPTIME", "600.0")};

Image coded(int nx, int ny) {
  Image img(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) img.at(x, y) = static_cast<float>(x + 1000 * y);
  return img;
}

// Per M click: the value shown (where the pixel came from) and the sky position shown.
struct Shown {
  double value;
  SkyPoint sky;
};
std::vector<Shown> shown(const std::string& out) {
  std::vector<Shown> all;
  std::istringstream lines(out);
  std::string prev;
  for (std::string l; std::getline(lines, l); prev = l) {
    const std::string lead = " Sky position of the pixel: ";
    if (l.rfind(lead, 0) != 0) continue;
    Shown s{};
    std::istringstream v(prev.substr(prev.find(": ") + 2)), d(l.substr(l.find(" = ") + 3));
    v >> s.value;
    d >> s.sky.lng >> s.sky.lat;
    all.push_back(s);
  }
  return all;
}

TEST(WcsThroughSession, CropTurnMirrorAndArithmeticKeepEveryPixelsSkyPosition) {
  ScratchFolder dir;
  dir.write_fits("m51.fits", coded(120, 90), kWcs);
  const auto run = run_session(
      dir, {"",  "l", "m51.fits", "c", "60 45", "11 100 21 80", "t",    "a",    "f",     "b",         "t",   "b", "f",
            "a", "a", "* 1",      "m", "2",     "1 1",          "59 1", "1 89", "59 89", "30.4 45.8", "0 0", "0", "q"});
  const auto s = shown(run.out);
  ASSERT_EQ(s.size(), 5u) << run.out;
  std::vector<std::pair<double, double>> origin;
  for (const auto& p : s) origin.emplace_back(static_cast<int>(p.value) % 1000, static_cast<int>(p.value) / 1000);
  const auto truth = astropy_sky(kWcs, origin);
  if (!truth) GTEST_SKIP() << "/usr/bin/python3 with astropy is not installed";
  ASSERT_EQ(truth->sky.size(), s.size());
  for (std::size_t k = 0; k < s.size(); ++k)
    EXPECT_LT(separation_arcsec(s[k].sky, truth->sky[k]), 1e-6 * 3600.0)
        << "pixel from " << origin[k].first << " " << origin[k].second;
}

// The saved file carries the edited WCS: read back by astropy (header) and CFITSIO (pixels),
// its corners and centre have the sky positions the original header gives their origins.
TEST(WcsThroughSession, TheSavedFileAfterEveryEditPointsAtTheSameSky) {
  ScratchFolder dir;
  dir.write_fits("m51.fits", coded(120, 90), kWcs);
  const auto run =
      run_session(dir, {"",  "l",        "m51.fits", "c", "60 45", "7 110 3 85", "t", "c", "f",         "a", "a", "+ 0",
                        "s", "out.fits", "",         "t", "a",     "f",          "b", "s", "out2.fits", "",  "q"});
  for (const std::string name : {"out.fits", "out2.fits"}) {
    SCOPED_TRACE(name);
    const Image saved = dir.read_fits(name);
    ASSERT_FALSE(saved.empty());
    SkyQuery original{kWcs, {}}, edited{astropy_cards(dir.file(name)), {}};
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {1, 1}, {saved.nx, 1}, {1, saved.ny}, {saved.nx, saved.ny}, {(saved.nx + 1) / 2, (saved.ny + 1) / 2}}) {
      const int code = static_cast<int>(saved.at(x, y));
      original.pixels.emplace_back(code % 1000, code / 1000);
      edited.pixels.emplace_back(x, y);
    }
    const auto sky = astropy_sky_batch({original, edited});
    if (!sky) GTEST_SKIP() << "/usr/bin/python3 with astropy is not installed";
    ASSERT_EQ((*sky)[0].sky.size(), 5u);
    ASSERT_EQ((*sky)[1].sky.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k)
      EXPECT_LT(separation_arcsec((*sky)[0].sky[k], (*sky)[1].sky[k]), 1e-6 * 3600.0) << "position " << k;
  }
}

// G 3 and 4 write into a new image (no header) the colour of the B and I images: the result
// lies on the I image's grid and takes its header, so M shows the same sky positions there.
TEST(WcsThroughSession, ColourAndCalibratedImagesCarryTheIImagesWcs) {
  ScratchFolder dir;
  dir.write_fits("b.fits", coded(120, 90));
  dir.write_fits("i.fits", coded(120, 90), kWcs);
  const auto run = run_session(
      dir, {"",  "l", "b.fits", "2",   "l",   "i.fits",  "m", "2", "40.5 30.5", "0 0",       "0",   "3", "n", "120 90",
            "g", "3", "1 2",    "1",   "0",   "0 0 1 1", "m", "2", "40.5 30.5", "0 0",       "0",   "4", "n", "120 90",
            "g", "4", "0 0 0",  "2 3", "1 1", "0",       "0", "m", "2",         "40.5 30.5", "0 0", "0", "q"});
  const auto s = shown(run.out);
  ASSERT_EQ(s.size(), 3u) << run.out;
  EXPECT_EQ(s[1].sky.lng, s[0].sky.lng);
  EXPECT_EQ(s[1].sky.lat, s[0].sky.lat);
  EXPECT_EQ(s[2].sky.lng, s[0].sky.lng);
  EXPECT_EQ(s[2].sky.lat, s[0].sky.lat);
}

// Old forms of a WCS through C, T and F, saved, against astropy reading the original header
// (with FITS's D exponent read as E: that is what it means). The DSS plate solution becomes a
// fitted TAN projection, within kDssFitTolerance pixels (1.7" here) of the plate's polynomial.
struct OldForm {
  const char* name;
  std::vector<std::string> cards;
  double tolerance_arcsec;
  const char* line;  // what the first edit says
};

// A DSS plate solution of a 300 x 200 cutout near M51 (PLTRAH... AMDXn, CNPIXn), with small
// higher-order terms like a real plate's.
std::vector<std::string> dss_cards() {
  std::vector<std::string> c{card("PLTRAH", "13"),        card("PLTRAM", "29"),        card("PLTRAS", "52.37"),
                             card("PLTDECSN", "'+'"),     card("PLTDECD", "47"),       card("PLTDECM", "11"),
                             card("PLTDECS", "43.0"),     card("EQUINOX", "2000.0"),   card("PLTSCALE", "67.2"),
                             card("XPIXELSZ", "25.2845"), card("YPIXELSZ", "25.2845"), card("PPO3", "177500.0"),
                             card("PPO6", "177500.0"),    card("CNPIX1", "6850"),      card("CNPIX2", "6900")};
  const char* x[] = {"67.15",  "0.012",   "-40.0",  "-2.0E-5", "1.1E-5", "-1.0E-5", "0.0",
                     "1.2E-6", "-3.0E-7", "2.0E-6", "-1.5E-7", "0.0",    "0.0"};
  const char* y[] = {"67.16",  "-0.011",  "60.0",   "1.5E-5", "-1.2E-5", "1.0E-5", "0.0",
                     "1.1E-6", "-2.0E-7", "1.8E-6", "1.0E-7", "0.0",     "0.0"};
  for (int i = 0; i < 13; ++i) {
    c.push_back(card("AMDX" + std::to_string(i + 1), x[i]));
    c.push_back(card("AMDY" + std::to_string(i + 1), y[i]));
  }
  return c;
}

std::vector<std::string> old_matrix_cards(const char* kind) {
  std::vector<std::string> c{card("CTYPE1", "'RA---TAN'"), card("CTYPE2", "'DEC--TAN'"), card("CRPIX1", "150.5"),
                             card("CRPIX2", "90.25"),      card("CRVAL1", "202.4695"),   card("CRVAL2", "47.1952")};
  if (std::string(kind) == "CD") {
    for (const auto& [k, v] :
         {std::pair{"CD001001", "-4.7E-4"}, {"CD001002", "1.1E-5"}, {"CD002001", "1.3E-5"}, {"CD002002", "4.7E-4"}})
      c.push_back(card(k, v));
  } else {
    for (const auto& [k, v] : {std::pair{"CDELT1", "-4.7E-4"},
                               {"CDELT2", "4.7E-4"},
                               {"PC001001", "0.99"},
                               {"PC001002", "0.14"},
                               {"PC002001", "-0.14"},
                               {"PC002002", "0.99"}})
      c.push_back(card(k, v));
  }
  return c;
}

const std::vector<std::string> kCdAndPc = {
    card("CTYPE1", "'RA---TAN'"), card("CTYPE2", "'DEC--TAN'"), card("CRPIX1", "150.5"),   card("CRPIX2", "90.25"),
    card("CRVAL1", "202.4695"),   card("CRVAL2", "47.1952"),    card("CDELT1", "-4.7E-4"), card("CDELT2", "4.7E-4"),
    card("PC1_1", "0.99"),        card("PC1_2", "0.14"),        card("PC2_1", "-0.14"),    card("PC2_2", "0.99"),
    card("CD1_1", "-4.7E-4"),     card("CD1_2", "0.0"),         card("CD2_1", "0.0"),      card("CD2_2", "4.7E-4")};

class OldWcsForms : public ::testing::TestWithParam<OldForm> {};

TEST_P(OldWcsForms, CropTurnAndMirrorCarryThemAsAstropyReadsTheOriginal) {
  const OldForm& f = GetParam();
  ScratchFolder dir;
  dir.write_fits("old.fits", coded(300, 200), f.cards);
  const auto run = run_session(
      dir, {"", "l", "old.fits", "c", "150 100", "21 270 11 190", "t", "a", "f", "b", "s", "out.fits", "", "q"});
  EXPECT_THAT(run.out, HasSubstr(std::string(" ") + f.line));
  const Image saved = dir.read_fits("out.fits");
  ASSERT_FALSE(saved.empty()) << run.out;
  std::vector<std::string> truth_cards;
  for (std::string c : f.cards) {
    if (c.find("D+") != std::string::npos || c.find("D-") != std::string::npos) c[c.find('D', 10)] = 'E';
    truth_cards.push_back(c);
  }
  SkyQuery original{truth_cards, {}}, edited{astropy_cards(dir.file("out.fits")), {}};
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{
           {1, 1}, {saved.nx, 1}, {1, saved.ny}, {saved.nx, saved.ny}, {(saved.nx + 1) / 2, (saved.ny + 1) / 2}}) {
    const int code = static_cast<int>(saved.at(x, y));
    original.pixels.emplace_back(code % 1000, code / 1000);
    edited.pixels.emplace_back(x, y);
  }
  for (const std::string& c : edited.cards)
    for (const char* old : {"CD00", "PC00", "PLTRAH", "AMDX", "CNPIX"}) EXPECT_NE(c.rfind(old, 0), 0u) << c;
  const auto sky = astropy_sky_batch({original, edited});
  if (!sky) GTEST_SKIP() << "/usr/bin/python3 with astropy is not installed";
  ASSERT_EQ((*sky)[0].sky.size(), 5u);
  ASSERT_EQ((*sky)[1].sky.size(), 5u);
  for (std::size_t k = 0; k < 5; ++k)
    EXPECT_LT(separation_arcsec((*sky)[0].sky[k], (*sky)[1].sky[k]), f.tolerance_arcsec) << "position " << k;
}

std::vector<std::string> d_exponent_cards() {
  std::vector<std::string> c = kWcs;
  c[4] = card("CRVAL1", "2.0194541667302D+02");
  c[6] = card("CDELT1", "-2.1277777D-4");
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, OldWcsForms,
    ::testing::Values(
        OldForm{"dss", dss_cards(), 1.0,
                "The header's DSS plate solution is replaced by a TAN projection with a CD matrix (within 0.000 pixels "
                "over the image).\n"},
        OldForm{"cd00", old_matrix_cards("CD"), 1e-6 * 3600.0,
                "The header's old CD00i00j/PC00i00j matrix is rewritten as CDi_j/PCi_j cards."},
        OldForm{"pc00", old_matrix_cards("PC"), 1e-6 * 3600.0,
                "The header's old CD00i00j/PC00i00j matrix is rewritten as CDi_j/PCi_j cards."},
        OldForm{"d_exponent", d_exponent_cards(), 1e-6 * 3600.0, "Reading in old.fits"},
        // Both matrices, turned 8 degrees apart: the PC matrix is the one read, so it is kept.
        OldForm{"cd_and_pc", kCdAndPc, 1e-6 * 3600.0,
                "The header gives both a CD and a PC matrix: the PC matrix, which its sky coordinates are read "
                "with, is kept and the CD cards are removed."},
        // A second copy with the same value is no ambiguity; the edit must not leave it stale.
        OldForm{"same_card_twice",
                [] {
                  auto c = kWcs;
                  c.push_back(kWcs[2]);
                  return c;
                }(),
                1e-6 * 3600.0, "Reading in old.fits"}),
    [](const auto& info) { return std::string(info.param.name); });

// A WCS card given twice: M refuses the WCS, and the first edit removes it rather than carry
// one copy and leave the other.
TEST(WcsThroughSession, AWcsCardGivenTwiceIsRefusedAndRemovedAtTheFirstEdit) {
  ScratchFolder dir;
  std::vector<std::string> cards = kWcs;
  cards.push_back(card("CRPIX1", "300.0"));
  dir.write_fits("twice.fits", coded(120, 90), cards);
  const auto run = run_session(dir, {"", "l", "twice.fits", "m", "2", "10 10", "0 0", "0", "c", "60 45", "11 100 21 80",
                                     "s", "out.fits", "", "q"});
  EXPECT_THAT(run.out, HasSubstr("none. The header's sky coordinates cannot be used: it gives CRPIX1 twice\n"));
  EXPECT_THAT(run.out, HasSubstr(" The header gives CRPIX1 twice, so its sky coordinates are ambiguous: they are "
                                 "removed, not carried wrong through the edit.\n"));
  for (const std::string& c : astropy_cards(dir.file("out.fits")))
    for (const char* k : {"CRPIX", "CRVAL", "CTYPE", "CDELT"}) EXPECT_NE(c.rfind(k, 0), 0u) << c;
}

}  // namespace
