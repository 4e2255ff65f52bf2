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
const std::vector<std::string> kWcs{card("CTYPE1", "'RA---TAN'"), card("CTYPE2", "'DEC--TAN'"),
                                    card("CRPIX1", "257.75"),     card("CRPIX2", "258.93"),
                                    card("CRVAL1", "201.94541667302"), card("CRVAL2", "47.45444"),
                                    card("CDELT1", "-2.1277777E-4"),   card("CDELT2", "2.1277777E-4"),
                                    card("EXPTIME", "600.0")};

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
  const auto run = run_session(dir, {"", "l", "m51.fits", "c", "60 45", "11 100 21 80", "t", "a", "f", "b", "t", "b",
                                     "f", "a", "a", "* 1", "m", "2", "1 1", "59 1", "1 89", "59 89", "30.4 45.8",
                                     "0 0", "0", "q"});
  const auto s = shown(run.out);
  ASSERT_EQ(s.size(), 5u) << run.out;
  std::vector<std::pair<double, double>> origin;
  for (const auto& p : s) origin.emplace_back(static_cast<int>(p.value) % 1000, static_cast<int>(p.value) / 1000);
  const auto truth = astropy_sky(kWcs, origin);
  if (!truth) GTEST_SKIP() << "/usr/bin/python3 with astropy is not installed";
  ASSERT_EQ(truth->sky.size(), s.size());
  for (std::size_t k = 0; k < s.size(); ++k)
    EXPECT_LT(separation_arcsec(s[k].sky, truth->sky[k]), 1e-6 * 3600.0) << "pixel from " << origin[k].first << " "
                                                                          << origin[k].second;
}

// The saved file carries the edited WCS: read back by astropy (header) and CFITSIO (pixels),
// its corners and centre have the sky positions the original header gives their origins.
TEST(WcsThroughSession, TheSavedFileAfterEveryEditPointsAtTheSameSky) {
  ScratchFolder dir;
  dir.write_fits("m51.fits", coded(120, 90), kWcs);
  const auto run = run_session(dir, {"", "l", "m51.fits", "c", "60 45", "7 110 3 85", "t", "c", "f", "a", "a",
                                     "+ 0", "s", "out.fits", "", "t", "a", "f", "b", "s", "out2.fits", "", "q"});
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
  const auto run = run_session(dir, {"", "l", "b.fits", "2", "l", "i.fits", "m", "2", "40.5 30.5", "0 0", "0",
                                     "3", "n", "120 90", "g", "3", "1 2", "1", "0", "0 0 1 1", "m", "2", "40.5 30.5",
                                     "0 0", "0", "4", "n", "120 90", "g", "4", "0 0 0", "2 3", "1 1", "0", "0",
                                     "m", "2", "40.5 30.5", "0 0", "0", "q"});
  const auto s = shown(run.out);
  ASSERT_EQ(s.size(), 3u) << run.out;
  EXPECT_EQ(s[1].sky.lng, s[0].sky.lng);
  EXPECT_EQ(s[1].sky.lat, s[0].sky.lat);
  EXPECT_EQ(s[2].sky.lng, s[0].sky.lng);
  EXPECT_EQ(s[2].sky.lat, s[0].sky.lat);
}

}  // namespace
