// One star measured and reported by the photometry dialogue: the printed lines and log
// records, INDEF values, truncated apertures, the gain of a header, the catalogue and region
// file as astropy reads them, and photutils' exact apertures on a synthetic frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fits/sky_coordinates.h"
#include "photometry/apphot.h"
#include "platform/catalogue.h"
#include "platform/console.h"
#include "platform/list_io.h"
#include "session/photometry_menu.h"
#include "support/astropy_table.h"
#include "support/astropy_wcs.h"
#include "support/frame_generator.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using zelvo::test_images::star_field;

namespace {

struct Captured {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream log;
  Console con{in, out};
};

std::string fr(double v) { return format_real(static_cast<float>(v)); }

std::string hcard(const std::string& key, const std::string& value) {
  std::string c = key;
  c.resize(8, ' ');
  c += "= " + value;
  c.resize(80, ' ');
  return c;
}

}  // namespace

TEST(Apphot, PrintsTheLinesWithErrorsAndTheSkyUsedAndAppendsTheRecord) {
  // Flat sky 10 and 100 more in the pixel (20, 20): the radius-2.5 aperture about its centre
  // holds the circle's area, the sky is 10 with no spread, the flux 100 (error 10 at gain 1).
  Image img(40, 40, 10.0f);
  img.at(20, 20) = 110.0f;
  Captured io;
  report_apphot(img.view(), 20.0f, 20.0f, ApertureRadii{}, io.con, &io.log);
  const double area = M_PI * 2.5 * 2.5, ann = M_PI * (144.0 - 81.0);
  int n_sky = 0;
  for (int y = -12; y <= 12; ++y)
    for (int x = -12; x <= 12; ++x) n_sky += x * x + y * y >= 81 && x * x + y * y < 144;
  EXPECT_EQ(io.out.str(),
            " The nro of pixels and total flux within background annulus = " + fr(ann) + " " + fr(10.0 * ann) + "\n" +
                " The number of pixels and total flux within star radius = " + fr(area) + " " +
                fr(10.0 * area + 100.0) + "\n" + " The corrected flux and corresponding magnitude = " + fr(100.0) +
                " -5.0\n" + " The flux error and magnitude error = " + fr(10.0) + " " + fr(0.10857) +
                " (gain 1.0 e-/count, none in the header, 1 assumed)\n" +
                " The sky subtracted (clipped mean of the annulus pixels whose centres lie in it), its spread and "
                "pixel count = " +
                fr(10.0) + " " + fr(0.0) + " " + std::to_string(n_sky) + "\n");
  EXPECT_EQ(io.log.str(), " 20.0 20.0 " + fr(100.0) + " -5.0\n");
}

TEST(Apphot, IndefForNoSkyAndNoMagnitudeAndTheTruncationNote) {
  Image img(40, 40, 10.0f);
  img.at(20, 20) = 4.0f;  // darker than the sky: negative flux, no magnitude
  Captured io;
  report_apphot(img.view(), 20.0f, 20.0f, ApertureRadii{}, io.con, &io.log);
  EXPECT_THAT(io.out.str(), HasSubstr(" The corrected flux and corresponding magnitude = " + fr(-6.0) +
                                      " INDEF\n The corrected flux is not positive"));
  EXPECT_THAT(io.out.str(), HasSubstr(" The flux error and magnitude error = 0.0 INDEF"));
  EXPECT_EQ(io.log.str(), " 20.0 20.0 " + fr(-6.0) + " INDEF\n");
  // Every aperture off the image: no pixel, no sky.
  Captured off;
  const Photometry p = report_apphot(img.view(), -30.0f, 20.0f, ApertureRadii{}, off.con, &off.log);
  EXPECT_TRUE(p.sums.truncated);
  EXPECT_EQ(p.sums.outer.area, 0.0);
  EXPECT_THAT(off.out.str(), HasSubstr("The background annulus holds no usable pixels"));
  EXPECT_EQ(off.log.str(), " -30.0 20.0 INDEF INDEF\n");
  EXPECT_THAT(off.out.str(), Not(HasSubstr("NaN")));
  // Near the border only the pixels inside count, and the report says so.
  Image edge(40, 40, 10.0f);
  edge.at(3, 20) = 60.0f;
  Captured cut;
  const Photometry q = report_apphot(edge.view(), 3.0f, 20.0f, ApertureRadii{}, cut.con, &cut.log);
  ASSERT_TRUE(q.corrected.has_value());
  EXPECT_NEAR(*q.corrected, 50.0, 1e-3);
  EXPECT_THAT(cut.out.str(), HasSubstr("(truncated)"));
}

struct GainCards {
  std::vector<std::string> cards;
  double gain;
  std::optional<double> read_noise;
  std::string source;
};

// The header's saturation level: SATURATE, else SATLEVEL, above 0.
TEST(HeaderSaturation, ComesFromSaturateOrSatlevel) {
  EXPECT_EQ(saturation_from_cards({}), std::nullopt);
  EXPECT_EQ(saturation_from_cards({hcard("SATLEVEL", "30000.")}), 30000.0);
  EXPECT_EQ(saturation_from_cards({hcard("SATURATE", "25000"), hcard("SATLEVEL", "30000.")}), 25000.0);
  EXPECT_EQ(saturation_from_cards({hcard("SATURATE", "0")}), std::nullopt);
}

class HeaderGain : public ::testing::TestWithParam<GainCards> {};

TEST_P(HeaderGain, ComesFromGainOrEgainAndReadNoiseFromRdnoiseOrReadnois) {
  const GainCards c = GetParam();
  const Detector d = detector_from_cards(c.cards);
  EXPECT_EQ(d.gain, c.gain);
  EXPECT_EQ(d.read_noise, c.read_noise);
  EXPECT_EQ(d.source, c.source);
}

INSTANTIATE_TEST_SUITE_P(
    Cards, HeaderGain,
    ::testing::Values(GainCards{{}, 1.0, std::nullopt, "none in the header, 1 assumed"},
                      GainCards{{hcard("GAIN", "2.5 / e-/ADU"), hcard("RDNOISE", "7.1")}, 2.5, 7.1, "header GAIN"},
                      GainCards{{hcard("EGAIN", "1.8"), hcard("READNOIS", "4")}, 1.8, 4.0, "header EGAIN"},
                      GainCards{{hcard("GAIN", "0"), hcard("EGAIN", "3.0")}, 3.0, std::nullopt, "header EGAIN"},
                      GainCards{{hcard("GAIN", "'high'")}, 1.0, std::nullopt, "none in the header, 1 assumed"}));

// Two stars measured through the shared per-star work: astropy reads every column of the
// catalogue, with the sky position of a WCS header (astropy's own) or empty without one,
// and the region file holds each star's three circles.
TEST(Catalogue, AstropyReadsEveryMeasurementAndDs9TheApertures) {
  ScratchFolder dir;
  const PhotometryFiles files{dir.file("ZelvoApPhot.log"), dir.file("ZelvoApPhot.ecsv"), dir.file("ZelvoApPhot.reg")};
  Image img = star_field(80, 80, 100.0f, 30.3f, 40.6f, 3000.0f, 1.3f, 4.0f);
  const std::vector<std::string> wcs_cards = {hcard("CTYPE1", "'RA---TAN'"), hcard("CTYPE2", "'DEC--TAN'"),
                                              hcard("CRPIX1", "40.0"),       hcard("CRPIX2", "40.0"),
                                              hcard("CRVAL1", "202.47"),     hcard("CRVAL2", "47.195"),
                                              hcard("CDELT1", "-0.0003"),    hcard("CDELT2", "0.0003")};
  const SkyCoordinatesParse with = parse_sky_coordinates(wcs_cards), without = parse_sky_coordinates({});
  ASSERT_TRUE(with.wcs);
  dir.write("ZelvoApPhot.ecsv", "x y\n1 2\n3");  // another program's table, cut short: kept, never appended to
  Captured io;
  StarJob job;
  job.image = img.view();
  job.radii = ApertureRadii{4.0f, 9.0f, 12.0f};
  job.exptime = 120.0f;
  job.detector = detector_from_cards({hcard("GAIN", "2.0")});
  job.file = "m51 frame.fits";
  job.files = &files;
  job.psf.sky_upper = 1e6f;
  job.psf.saturation = 1000000;
  job.sky = &with;
  const StarOutcome a = measure_star(job, 30.0f, 41.0f, io.con);
  job.sky = &without;
  job.exptime = 0.0f;
  const StarOutcome b = measure_star(job, 30.0f, 41.0f, io.con);
  ASSERT_FALSE(a.saturated);
  ASSERT_TRUE(a.p.corrected && a.p.flux_err && a.p.mag_err);
  EXPECT_EQ(count_of(io.out.str(), "ZelvoApPhot.ecsv does not hold this version's columns"), 1);
  EXPECT_EQ(dir.read("ZelvoApPhot-old-1.ecsv"), "x y\n1 2\n3");

  const auto t = astropy_read_ecsv(files.catalogue.string());
  if (!t) GTEST_SKIP() << "astropy is not installed";
  ASSERT_THAT(t->columns, ElementsAre("x", "y", "ra", "dec", "r_star", "r_in", "r_out", "area", "flux", "flux_err",
                                      "sky", "sky_sigma", "n_sky", "mag", "mag_err", "exptime", "file"));
  ASSERT_EQ(t->rows.size(), 2u);
  const auto num = [&](std::size_t r, const char* c) { return std::stod(t->cell(r, c)); };
  EXPECT_NEAR(num(0, "x"), a.xcen, 1e-5);
  EXPECT_NEAR(num(0, "area"), 16.0 * M_PI, 1e-9);
  EXPECT_NEAR(num(0, "flux"), *a.p.corrected, 1e-9 * *a.p.corrected);
  EXPECT_NEAR(num(0, "flux_err"), *a.p.flux_err, 1e-9 * *a.p.flux_err);
  EXPECT_NEAR(num(0, "mag"), -2.5 * std::log10(*a.p.corrected / 120.0), 1e-5);
  EXPECT_NEAR(num(1, "mag"), -2.5 * std::log10(*b.p.corrected), 1e-5);
  EXPECT_EQ(t->cell(0, "n_sky"), std::to_string(a.p.sky.n));
  EXPECT_EQ(t->cell(0, "r_in"), "9.0");
  EXPECT_EQ(t->cell(0, "exptime"), "120.0");
  EXPECT_EQ(t->cell(0, "file"), "'m51 frame.fits'");
  EXPECT_EQ(t->cell(1, "ra"), "--");
  EXPECT_EQ(t->cell(1, "dec"), "--");
  const auto truth = astropy_sky(wcs_cards, {{a.xcen, a.ycen}});
  ASSERT_TRUE(truth && truth->sky.size() == 1u);
  EXPECT_NEAR(num(0, "ra"), truth->sky[0].lng, 1e-8);
  EXPECT_NEAR(num(0, "dec"), truth->sky[0].lat, 1e-8);
  const std::string reg = dir.read("ZelvoApPhot.reg");
  EXPECT_THAT(reg, HasSubstr("image"));
  EXPECT_EQ(count_of(reg, "circle("), 6);
  EXPECT_THAT(reg, HasSubstr("circle(" + catalogue_number(a.xcen) + "," + catalogue_number(a.ycen) + ",4)"));
}

// photutils' aperture_photometry(method="exact") at the same centres and radii (photutils
// counts pixels from 0): the star aperture and annulus sums agree within 0.3 % (in fact to
// rounding) on a frame of several stars with noise and a sloping sky.
TEST(Apphot, AgreesWithPhotutilsExactApertures) {
  ScratchFolder dir;
  Image img(200, 150);
  std::mt19937 gen(29);
  std::normal_distribution<float> noise(0.0f, 8.0f);
  const std::vector<std::array<float, 3>> stars = {
      {40.3f, 50.8f, 9000.0f}, {120.0f, 75.5f, 30000.0f}, {160.71f, 30.22f, 4000.0f}, {80.5f, 120.5f, 60000.0f}};
  for (int y = 1; y <= img.ny; ++y)
    for (int x = 1; x <= img.nx; ++x) {
      double v = 300.0 + 0.2 * x - 0.1 * y + noise(gen);
      for (const auto& s : stars)
        v += s[2] / (2 * M_PI * 2.0) * std::exp(-((x - s[0]) * (x - s[0]) + (y - s[1]) * (y - s[1])) / 4.0);
      img.at(x, y) = static_cast<float>(v);
    }
  dir.write_fits("frame.fits", img);
  std::string args = dir.file("frame.fits");
  for (const auto& s : stars) args += " " + std::to_string(s[0]) + " " + std::to_string(s[1]);
  const std::string out = run_python(dir, R"PY(
import sys
import numpy as np
from astropy.io import fits
from photutils.aperture import CircularAperture, CircularAnnulus, aperture_photometry
d = fits.getdata(sys.argv[1]).astype(float)
v = [float(a) for a in sys.argv[2:]]
pos = [(v[i] - 1, v[i + 1] - 1) for i in range(0, len(v), 2)]
t = aperture_photometry(d, [CircularAperture(pos, r=3.5), CircularAnnulus(pos, r_in=9.0, r_out=13.0)], method="exact")
for row in t:
    print(repr(float(row["aperture_sum_0"])), repr(float(row["aperture_sum_1"])))
)PY",
                                     args);
  if (out.empty()) GTEST_SKIP() << "python3 with photutils is not installed";
  std::istringstream in(out);
  for (const auto& s : stars) {
    double star = NAN, annulus = NAN;
    ASSERT_TRUE(in >> star >> annulus);
    const Photometry p = APPHOT(img.view(), s[0], s[1], ApertureRadii{3.5f, 9.0f, 13.0f});
    EXPECT_NEAR(p.sums.star.flux, star, 1e-6 * std::fabs(star)) << s[0];
    EXPECT_NEAR(p.annulus.flux, annulus, 1e-6 * std::fabs(annulus)) << s[0];
  }
}
