// Whole scripted sessions of the O submenu on the synthetic field: menu, radii and exposure
// dialogues, the photometry loop, the saturated star and the log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "photometry/apphot.h"
#include "session/mouse_menu.h"
#include "support/session_harness.h"
#include "synthetic_field.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// The zoom menu's head, pinned by the mouse-menu tests.
const std::string kMenu = "\n " + std::string(kZoomMenuHead) + "\n " + std::string(kZoomMenuSetBox) + "\n";

std::string menu_radii(const std::string& values) {
  return "   2) Set the aperture photometry radii; current radii (star,\n"
         "       inner background, outer background) = " +
         values + "\n";
}

const std::string kMenuTail =
    "   4) Get aperture photometry of a clicked object \n"
    "       [Click outside the zoom box, or press q or Esc, to return to menu]\n"
    "   5) Set the detector gain (e-/count) and read noise (e-); current:\n"
    "       gain 1.0 e-/count (none in the header, 1 assumed), read noise unknown\n"
    "   0) Return back to the main options \n"
    "\n";

const std::string kHeader =
    "\n"
    " This is the aperture photometry log of the Zelvo program; it\n"
    " contains these five lines and N lines, one for each star for \n"
    " which aperture photometry was measured, with the coordinates \n"
    " and brightness of the star in the following format: \n"
    " x  y  flux  magnitude [-2.5 log10(flux/exptime); exptime 0: -2.5 log10(flux)]. \n"
    "\n";

std::string at(double x, double y) {
  std::ostringstream s;
  s << x << " " << y;
  return s.str();
}

// A 400 x 400 field with its saturated star, and three ordinary stars that stand alone:
// far from the edges, the galaxy, the saturated star and its column, and each other.
struct Field {
  FieldOptions opt;
  SyntheticField f;
  std::vector<FieldStar> alone;
};

Field make_field() {
  Field fd;
  fd.opt.nx = fd.opt.ny = 400;
  fd.opt.seed = 11;
  fd.opt.stars = 20;
  fd.opt.faintest_flux = 20000.0f;
  fd.opt.brightest_flux = 150000.0f;
  fd.f = synthetic_field(fd.opt);
  const auto far = [](const FieldStar& a, double x, double y, double d) { return std::hypot(a.x - x, a.y - y) > d; };
  for (const FieldStar& s : fd.f.stars) {
    if (s.x < 60 || s.x > 340 || s.y < 60 || s.y > 340) continue;
    if (!far(s, fd.f.galaxy.x, fd.f.galaxy.y, 3.0 * fd.f.galaxy.r_eff + 30.0)) continue;
    if (!far(s, fd.f.saturated.x, fd.f.saturated.y, 60.0) || std::fabs(s.x - fd.f.bleed.x) < 30.0) continue;
    bool alone = true;
    for (const FieldStar& o : fd.f.stars)
      if (&o != &s && !far(s, o.x, o.y, 30.0)) alone = false;
    if (alone) fd.alone.push_back(s);
  }
  return fd;
}

// A Gaussian star of total flux `flux` (sigma 1.5 pixels) at (x0, y0) on a sky of 100 with
// Gaussian noise of 2.
Image known_star(double x0, double y0, double flux) {
  Image img(120, 120);
  std::mt19937 gen(3);
  std::normal_distribution<double> gauss(0.0, 2.0);
  const double s2 = 1.5 * 1.5;
  for (int y = 1; y <= img.ny; ++y)
    for (int x = 1; x <= img.nx; ++x) {
      const double r2 = (x - x0) * (x - x0) + (y - y0) * (y - y0);
      img.at(x, y) = static_cast<float>(100.0 + flux / (2.0 * M_PI * s2) * std::exp(-r2 / (2.0 * s2)) + gauss(gen));
    }
  return img;
}

// Flux and magnitude of the first measured record of a log.
std::pair<double, double> first_flux_and_magnitude(const std::vector<std::string>& recs) {
  double x = 0, y = 0, flux = NAN, mag = NAN;
  if (!recs.empty()) {
    std::istringstream in(recs[0]);
    in >> x >> y >> flux >> mag;
  }
  return {flux, mag};
}

// The records of the log after the last header.
std::vector<std::string> records_after_header(const std::string& log) {
  std::vector<std::string> out;
  const auto p = log.rfind(kHeader);
  if (p == std::string::npos) return out;
  std::istringstream in(log.substr(p + kHeader.size()));
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

}  // namespace

TEST(PhotometryMenu, EmptySlotIsRefused) {
  ScratchFolder dir;
  const auto run = run_session(dir, {"", "o", "q"});
  EXPECT_THAT(run.out, HasSubstr(" Image slot 1 is empty: load an image (L) or create one (N) first.\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("What do you want to do?")));
  EXPECT_FALSE(dir.exists("ZelvoApPhot.log"));
}

TEST(PhotometryMenu, RadiiDialogueRefusesDisorderAndEachVisitStartsAfresh) {
  ScratchFolder dir;
  dir.write_fits("flat.fits", Image(120, 100, 500.0f), {"EXPTIME =                300.0"});
  const auto run = run_session(
      dir, {"",  "l",     "flat.fits", "o",  "2", "3, 3, 10", "2", "3 10 10", "2", "12 9 15", "2", "3 8", "14",
            "3", "120.5", "3",         "-5", "5", "2.5 6",    "5", "0 3",     "0", "o",       "0", "q"});
  const std::string prompt =
      " Give radii for apertures of the star, and inner and \n"
      "  outer edge of the background annulus: \n";
  const std::string refused = " Star radius must < inner edge that must < outer edge. \n";
  EXPECT_EQ(count_of(run.out, prompt + refused), 3);
  EXPECT_EQ(count_of(run.out, prompt + kMenu), 1);  // the accepted triple
  // Menus: entry, three refusals (defaults), accepted, three exposure times, two gains; second visit: defaults.
  EXPECT_EQ(count_of(run.out, menu_radii("2.5 9.0 12.0")), 5);
  EXPECT_EQ(count_of(run.out, menu_radii("3.0 8.0 14.0")), 5);
  EXPECT_THAT(run.out,
              HasSubstr(kMenu + "       current box size (width x height) = 120 x 100\n" + menu_radii("2.5 9.0 12.0") +
                        "   3) Set variables; current image exposure time = 300.0\n" + kMenuTail));
  EXPECT_THAT(run.out, HasSubstr(" Give image exposure time: \n"));
  EXPECT_THAT(run.out, HasSubstr("   3) Set variables; current image exposure time = 120.5\n"));
  // A negative exposure time is refused and the old one kept; the gain is typed, a gain of 0 refused.
  EXPECT_THAT(run.out, HasSubstr(" Give image exposure time: \n"
                                 " An exposure time cannot be negative; the exposure time stays 120.5\n" +
                                 kMenu));
  EXPECT_EQ(count_of(run.out, "current:\n       gain 2.5 e-/count (typed), read noise 6.0 e-\n"), 2);
  EXPECT_THAT(
      run.out,
      HasSubstr(" The gain must be 0.001 to 100000 and the read noise 0 to 100000; the values stay as they were.\n"));
  // The exposure time stays with the slot; the radii do not.
  const auto second = run.out.rfind(kMenu);
  EXPECT_THAT(run.out.substr(second),
              HasSubstr(menu_radii("2.5 9.0 12.0") + "   3) Set variables; current image exposure time = 120.5\n"));
  EXPECT_EQ(dir.read("ZelvoApPhot.log"), kHeader + kHeader);
}

TEST(PhotometryMenu, MeasuresThreeStarsRefusesTheSaturatedOneAndLogsThem) {
  const Field fd = make_field();
  ASSERT_GE(fd.alone.size(), 3u);
  ASSERT_TRUE(fd.f.has_saturated);
  ScratchFolder dir;
  ASSERT_EQ(write_field_fits(dir.file("field.fits"), fd.f.image, fd.opt), 0);
  const FieldStar* s = fd.alone.data();
  // Clicks a little off each centre; the centroid finds the star. The stars lie far apart
  // (the first two more than half the image height), and every click on the displayed image
  // is judged against the box on display, not the box the last centroid moved.
  const auto run = run_session(dir, {"", "l", "field.fits", "o", "2", "10 20 25", "4", at(s[0].x + 0.8, s[0].y - 0.6),
                                     at(s[1].x - 0.7, s[1].y + 0.4), at(s[2].x + 0.3, s[2].y + 0.9), "420 200", "4",
                                     at(fd.f.saturated.x + 0.4, fd.f.saturated.y - 0.3), "0", "q"});
  EXPECT_EQ(count_of(run.out,
                     " Click on the centre of the aperture photometry object. \n"
                     "  [N.B. The program will find the actual centre for you.] \n"),
            5);
  EXPECT_EQ(count_of(run.out, " Actual centre: "), 3);
  EXPECT_THAT(run.out, HasSubstr(" You clicked at 420.0 200.0\n" + kMenu));
  EXPECT_THAT(run.out, HasSubstr(" Object was saturated, can not proceed...\n" + kMenu));
  EXPECT_THAT(run.out, Not(HasSubstr("NaN")));

  const auto recs = records_after_header(dir.read("ZelvoApPhot.log"));
  ASSERT_EQ(recs.size(), 4u);
  // Moffat stars of beta 3 and FWHM 3.5 (alpha 3.43) hold 98.9 % of their flux within 10 pixels.
  for (int k = 0; k < 3; ++k) {
    std::istringstream in(recs[static_cast<std::size_t>(k)]);
    double x, y, flux, mag;
    ASSERT_TRUE(in >> x >> y >> flux >> mag) << recs[static_cast<std::size_t>(k)];
    EXPECT_NEAR(x, s[k].x, 0.3);
    EXPECT_NEAR(y, s[k].y, 0.3);
    EXPECT_NEAR(flux, 0.989 * s[k].flux, 0.015 * s[k].flux + 300.0) << k;
    EXPECT_NEAR(mag, -2.5 * std::log10(flux / fd.opt.exptime), 1e-4 + 1e-5 * std::fabs(mag));
  }
  std::istringstream sat(recs[3]);
  double x, y;
  std::string word1, word2;
  ASSERT_TRUE(sat >> x >> y >> word1 >> word2);
  EXPECT_NEAR(x, fd.f.saturated.x + 0.4, 1e-3);
  EXPECT_NEAR(y, fd.f.saturated.y - 0.3, 1e-3);
  EXPECT_EQ(word1 + " " + word2, "saturated star");
  EXPECT_EQ(recs[3].back(), ' ');
}

TEST(PhotometryMenu, TheMagnitudeIsPerSecondOfTheExposureTime) {
  ScratchFolder dir;
  dir.write_fits("star.fits", known_star(60.3, 58.6, 50000.0), {"EXPTIME =                100.0"});
  // Measured with EXPTIME 100, then again after setting the exposure time to 0.
  const auto run = run_session(dir, {"",  "l", "star.fits", "o", "2", "8 12 16", "4",         "60.5 58.5", "0 0", "0",
                                     "o", "2", "8 12 16",   "3", "0", "4",       "60.5 58.5", "0 0",       "0",   "q"});
  const std::string log = dir.read("ZelvoApPhot.log");
  const auto per_second = first_flux_and_magnitude(records_after_header(log.substr(0, log.rfind(kHeader))));
  const auto instrumental = first_flux_and_magnitude(records_after_header(log));
  EXPECT_NEAR(per_second.first, 50000.0, 500.0);
  EXPECT_NEAR(per_second.second, -2.5 * std::log10(50000.0 / 100.0), 0.01);
  EXPECT_NEAR(instrumental.second, -2.5 * std::log10(50000.0), 0.01);
}

// photutils, measuring the same file with the same apertures, agrees (skipped where Debian's
// python3 with photutils is not installed).
TEST(PhotometryMenu, TheMagnitudeAgreesWithPhotutils) {
  if (std::system("/usr/bin/python3 -c 'import photutils.aperture, astropy.io.fits' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 with photutils and astropy is not installed";
  ScratchFolder dir;
  dir.write_fits("star.fits", known_star(60.3, 58.6, 50000.0), {"EXPTIME =                100.0"});
  dir.write("measure.py",
            "import sys, numpy as np\n"
            "from astropy.io import fits\n"
            "from photutils.aperture import CircularAperture, CircularAnnulus, ApertureStats, aperture_photometry\n"
            "d = fits.getdata(sys.argv[1]).astype(float)\n"
            "c = (60.3 - 1, 58.6 - 1)\n"
            "ap = CircularAperture(c, r=8)\n"
            "sky = ApertureStats(d, CircularAnnulus(c, 12, 16)).mean\n"
            "f = aperture_photometry(d, ap)['aperture_sum'][0] - sky * ap.area\n"
            "print(-2.5 * np.log10(f / fits.getheader(sys.argv[1])['EXPTIME']))\n");
  const std::string cmd =
      "/usr/bin/python3 " + dir.file("measure.py") + " " + dir.file("star.fits") + " > " + dir.file("photutils.txt");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const double reference = std::stod(dir.read("photutils.txt"));
  const auto run = run_session(dir, {"", "l", "star.fits", "o", "2", "8 12 16", "4", "60.5 58.5", "0 0", "0", "q"});
  EXPECT_NEAR(first_flux_and_magnitude(records_after_header(dir.read("ZelvoApPhot.log"))).second, reference, 0.01);
}

TEST(PhotometryMenu, ClicksOnTheBoxLimitAreMeasuredAndTruncatedAtTheBorder) {
  ScratchFolder dir;
  Image img = small_field(200, 160, 3);
  dir.write_fits("f.fits", img);
  // Whole-image box: clicks on every pixel are accepted, 0.5 <= x < 200.5 and 0.5 <= y < 160.5.
  const auto run = run_session(dir, {"", "l", "f.fits", "o", "4", "200.5 80", "4", "200.4 80", "0 0", "0", "q"});
  EXPECT_THAT(run.out, HasSubstr(" You clicked at 200.5 80.0\n" + kMenu));
  EXPECT_THAT(run.out, HasSubstr(" You clicked at 200.4 80.0\n"));
  EXPECT_THAT(run.out, HasSubstr("     too close to edge \n Actual centre: "));
  EXPECT_THAT(run.out, HasSubstr("(truncated)"));
  const auto recs = records_after_header(dir.read("ZelvoApPhot.log"));
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(count_of(run.out, " Actual centre: "), 1);
}

TEST(PhotometryMenu, ZoomBoxLimitsTheClicks) {
  ScratchFolder dir;
  dir.write_fits("f.fits", small_field(300, 300, 5));
  // A 100 x 100 box around (150, 150): clicks from 101 to 199 are accepted.
  const auto run = run_session(dir, {"", "l", "f.fits", "o", "1", "100 100", "150 150", "4", "205 150", "0", "q"});
  EXPECT_THAT(run.out, HasSubstr(" Give the new zoom box size (width, height); both > 50 \n"));
  EXPECT_THAT(run.out, HasSubstr("       current box size (width x height) = 100 x 100\n"));
  EXPECT_THAT(run.out, HasSubstr(" You clicked at 205.0 150.0\n" + kMenu));
  EXPECT_THAT(run.out, Not(HasSubstr("Actual centre")));
}
