// Centroid and point-spread estimate: analytic images with known centres, sky and flux.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "photometry/psf.h"

using namespace zelvo;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Sky level s plus a circular Gaussian of the given peak and sigma centred at (x0, y0).
Image gaussian_field(int nx, int ny, float s, float x0, float y0, float peak, float sig) {
  Image img(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) {
      const double r2 = (x - x0) * (x - x0) + (y - y0) * (y - y0);
      img.at(x, y) = s + static_cast<float>(peak * std::exp(-r2 / (2.0 * sig * sig)));
    }
  return img;
}

// Runs GETPSF with the lines it reports joined as the command window shows them.
struct PsfRun {
  PsfEstimate e;
  std::string out;
};
PsfRun run_psf(Image& img, float x, float y, PsfRequest req) {
  PsfRun r;
  r.e = GETPSF(img.view(), x, y, req);
  for (const std::string& l : r.e.notes) r.out += l + '\n';
  return r;
}

PsfRequest request(float upper, bool centroid = false, float R = 15.0f) {
  PsfRequest q;
  q.sky_lower = -50.0f;
  q.sky_upper = upper;
  q.search_radius = R;
  q.centroid = centroid;
  q.saturation = 40000;
  return q;
}

// Both an absolute and a relative tolerance.
void expect_close(float got, float want, float abs_tol, float rel_tol = 1e-5f) {
  EXPECT_NEAR(got, want, abs_tol + rel_tol * std::fabs(want)) << "want " << want;
}

}  // namespace

TEST(Limits, CentralRegionSkyUpperLimitAndSaturationLevel) {
  const Box r = central_region(100, 60000);
  EXPECT_EQ(r.x0, 10);
  EXPECT_EQ(r.x1, 89);  // 0.9f x 100 = 89.99999...
  EXPECT_EQ(r.y1, 53999);
  EXPECT_EQ(central_region(5, 3).x0, 1);  // not column 0

  Image img(100, 100, 10.0f);
  img.at(5, 50) = 90000.0f;  // column 5 lies outside columns 10 .. 89
  img.at(50, 89) = 2000.0f;  // row 89 is the last row inside
  EXPECT_FLOAT_EQ(sky_upper_limit(img.view()), 0.95f * 2000.0f);

  img.at(5, 50) = 44444.0f;
  EXPECT_EQ(saturation_level(img.view()), 40000);  // 39999 raised
  img.at(5, 50) = 60000.0f;
  img.at(4, 4) = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(saturation_level(img.view()), 53999);
}

// A frame whose highest value is a flat top (three pixels or more, two side by side) saturates
// just under it, below 40000 too; a lone highest pixel, or three apart, do not make one.
TEST(SaturationLevel, AFlatTopBelowFortyThousandIsTheLevel) {
  struct Case {
    std::vector<std::pair<int, int>> at;  // pixels set to 20000
    int32_t level;
  };
  for (const Case& c :
       {Case{{{50, 50}, {51, 50}, {50, 51}}, 19999}, Case{{{50, 50}, {50, 51}, {50, 52}, {51, 51}}, 19999},
        Case{{{50, 50}}, 40000}, Case{{{20, 20}, {40, 40}, {60, 60}}, 40000}}) {
    Image img = gaussian_field(100, 100, 100.0f, 30.0f, 30.0f, 5000.0f, 2.0f);
    for (const auto& [x, y] : c.at) img.at(x, y) = 20000.0f;
    EXPECT_EQ(saturation_level(img.view()), c.level) << c.at.size() << " pixels";
  }
}

TEST(Getcen, SymmetricStarCentredOnAPixelReturnsThatPixel) {
  Image img = gaussian_field(80, 70, 100.0f, 40.0f, 33.0f, 5000.0f, 2.0f);
  const Centroid c = GETCEN(img.view(), 41.3f, 31.8f);
  expect_close(c.x, 40.0f, 1e-4f);
  expect_close(c.y, 33.0f, 1e-4f);
  EXPECT_FALSE(c.fallback);
  EXPECT_EQ(c.last_ix, 40);
  EXPECT_EQ(c.last_iy, 33);
}

TEST(Getcen, OffCentreGaussianMovesTowardsTheTrueCentre) {
  const float tx = 40.35f, ty = 33.7f;
  Image img = gaussian_field(80, 70, 100.0f, tx, ty, 5000.0f, 2.0f);
  const Centroid c = GETCEN(img.view(), 40.0f, 33.0f);
  EXPECT_GT(c.x, 40.0f);
  EXPECT_GT(c.y, 33.0f);
  EXPECT_LT(std::fabs(c.x - tx), 0.2f);
  EXPECT_LT(std::fabs(c.y - ty), 0.2f);
  // The working centre of the last pass is the pixel nearest to the second-pass centroid.
  EXPECT_EQ(c.last_ix, 40);
  EXPECT_EQ(c.last_iy, 34);
}

TEST(Getcen, NearTheCornerReadsOnlyTheImage) {
  // Guard rows of NaN before and after the image: a read outside it would show up as NaN.
  const int nx = 30, ny = 30;
  std::vector<float> buf(static_cast<std::size_t>(nx * (ny + 2)), std::numeric_limits<float>::quiet_NaN());
  ImageView v{buf.data() + nx, nx, ny};
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x)
      v.at(x, y) = 10.0f + 1000.0f * std::exp(-((x - 2) * (x - 2) + (y - 2) * (y - 2)) / 4.0f);
  const Centroid c = GETCEN(v, 1.6f, 2.4f);
  ASSERT_TRUE(std::isfinite(c.x) && std::isfinite(c.y));
  EXPECT_GE(c.x, 1.0f);
  EXPECT_LE(c.x, 4.0f);
  EXPECT_GE(c.y, 1.0f);
  EXPECT_LE(c.y, 4.0f);
  const Centroid far = GETCEN(v, -40.0f, 500.0f);
  EXPECT_TRUE(far.fallback);
  EXPECT_FLOAT_EQ(far.x, -40.0f);
  EXPECT_FLOAT_EQ(far.y, 500.0f);
}

TEST(Getpsf, FlatImageGivesTheSkyAndNoFlux) {
  Image img(205, 205, 100.0f);
  PsfRun r = run_psf(img, 102.0f, 102.0f, request(1000.0f));
  EXPECT_FLOAT_EQ(r.e.sky, 100.0f);
  EXPECT_FLOAT_EQ(r.e.total, 0.0f);
  EXPECT_FALSE(r.e.too_close_to_edge);
  EXPECT_FALSE(r.e.saturated);
  ASSERT_TRUE(r.e.deathrad.has_value());
  EXPECT_FLOAT_EQ(*r.e.deathrad, 25.0f);  // no half flux to find
  EXPECT_THAT(r.out, HasSubstr(" No flux above the local background around the object;"));
  EXPECT_THAT(r.out, Not(HasSubstr("flux/2")));
  // Rough sky: columns and rows 20 .. 184, 165 pixels each, over the area product 164 x 164.
  expect_close(r.e.rough_sky, 100.0f * 165.0f * 165.0f / (164.0f * 164.0f), 1e-3f);
  EXPECT_THAT(r.out, HasSubstr(" Rough sky = "));
  EXPECT_THAT(r.out, HasSubstr(" and perhaps better sky = 100.0\n"));
  EXPECT_THAT(r.out, HasSubstr(" The so called better sky with 2.5 sigma clip = 100.0\n"));
  EXPECT_THAT(r.out, HasSubstr(" Approximate radius of object = 25.0\n"));
  EXPECT_EQ(r.out.find("NaN"), std::string::npos);
  // Pixels within 45 of a pixel centre: every collected pixel is listed with its radius.
  int inside = 0;
  for (int i = -46; i <= 46; ++i)
    for (int j = -46; j <= 46; ++j)
      if (i * i + j * j < 45 * 45) ++inside;
  EXPECT_EQ(r.e.npix, inside);
  ASSERT_EQ(r.e.radii.size(), static_cast<std::size_t>(inside));
  EXPECT_THAT(r.out, HasSubstr(" npix = " + std::to_string(inside) + "\n"));
  // A flat box has no column above its mean: the centroid keeps the centre and says so.
  const PsfRun c = run_psf(img, 102.3f, 101.6f, request(1000.0f, true));
  EXPECT_THAT(c.out, HasSubstr("the centre is kept there."));
  EXPECT_FLOAT_EQ(c.e.xcen, 102.3f);
}

// On a large frame the rough sky is still the region's sum over the area product: a 32-bit
// running sum over its 2.7 million pixels would have come out percents too low.
TEST(Getpsf, RoughSkyOfALargeFlatFrameIsRight) {
  Image img(2048, 2048, 1000.3f);
  const PsfRun r = run_psf(img, 1024.0f, 1024.0f, request(5000.0f));
  // Columns and rows 204 .. 1843 (1640 each) over (0.9 - 0.1) x 2048 squared.
  const double want = 1000.3 * 1640.0 * 1640.0 / (1638.4 * 1638.4);
  EXPECT_NEAR(r.e.rough_sky, want, 1e-5 * want);
  // The caller's value, from its cache, is taken as it is.
  PsfRequest given = request(5000.0f);
  given.rough_sky = 123.5f;
  EXPECT_EQ(run_psf(img, 1024.0f, 1024.0f, given).e.rough_sky, 123.5f);
}

TEST(Getpsf, GrowthCurveTableStandsUnderItsHeader) {
  // A point of 1000 counts on a flat sky: everything is enclosed from the first ring on.
  Image img(200, 200, 100.0f);
  img.at(100, 100) = 1100.0f;
  PsfRun r = run_psf(img, 100.0f, 100.0f, request(1000.0f));
  const std::string table =
      "      xpmean    enclosed      flux/2        srad\n"
      "      ------    --------      ------        ----\n"
      "       1.500    1000.000     500.000      15.000\n"
      "       2.250    1000.000     500.000      15.000\n";
  EXPECT_THAT(r.out, HasSubstr(table));
  EXPECT_THAT(r.out, HasSubstr("\n      15.000    1000.000     500.000      15.000\n Approximate radius"));
  const std::regex row(R"(( {0,11}-?\d+\.\d{3}){4})");
  int rows = 0;
  std::istringstream lines(r.out);
  for (std::string l; std::getline(lines, l);)
    if (std::regex_match(l, row)) {
      EXPECT_EQ(l.size(), 48u) << l;
      ++rows;
    }
  EXPECT_EQ(rows, 19);  // k = 2 .. 20
}

TEST(Getpsf, CompactStarGivesWhereItMeetsTheSkyAndItsFlux) {
  // A Gaussian star of flux 2 pi sigma^2 peak on a sky of 200.
  const float peak = 3000.0f, sig = 1.5f;
  Image img = gaussian_field(200, 200, 200.0f, 100.0f, 100.0f, peak, sig);
  PsfRun r = run_psf(img, 100.4f, 99.6f, request(1000.0f, true));
  expect_close(r.e.xcen, 100.0f, 1e-3f);
  expect_close(r.e.ycen, 100.0f, 1e-3f);
  expect_close(r.e.sky, 200.0f, 1e-3f);
  const float flux = 2.0f * 3.14159265f * sig * sig * peak;
  expect_close(r.e.total, flux, 2.0f, 1e-3f);
  // The radius is where the star meets the sky, not the 10-pixel floor of the half-flux
  // radius: on a noiseless sky where it falls to a thousandth of its peak.
  ASSERT_TRUE(r.e.deathrad.has_value());
  EXPECT_NEAR(*r.e.deathrad, sig * std::sqrt(2.0f * std::log(1000.0f)), 0.5f);
  ASSERT_TRUE(r.e.centroid_pixel.has_value());
  EXPECT_EQ(*r.e.centroid_pixel, std::make_pair(100, 100));
  // The stamp is the 101 x 101 area around the centre pixel.
  ASSERT_EQ(r.e.stamp.nx, 101);
  ASSERT_EQ(r.e.stamp.ny, 101);
  EXPECT_FLOAT_EQ(r.e.stamp.at(51, 51), img.at(100, 100));
  EXPECT_FLOAT_EQ(r.e.stamp.at(1, 101), img.at(50, 150));
}

// The part of the flux box inside the image counts: a star a few pixels from the edge gets its
// radius; only a centre off the sample area (the last column and row included) is too close.
TEST(Getpsf, AStarNearTheEdgeIsMeasuredOnlyACentreOffTheSampleAreaIsNot) {
  struct Case {
    float x, y;
    bool too_close;
    bool small_annulus;  // less than half of the background annulus inside: said
  };
  for (const Case c :
       {Case{4.0f, 100.0f, false, false}, Case{100.0f, 196.0f, false, false}, Case{4.6f, 4.3f, false, true},
        Case{200.0f, 100.0f, true, false}, Case{100.0f, 0.4f, true, false}}) {
    Image img = gaussian_field(200, 200, 100.0f, c.x, c.y, 500.0f, 1.5f);
    PsfRun r = run_psf(img, c.x, c.y, request(1000.0f));
    EXPECT_EQ(r.e.too_close_to_edge, c.too_close) << c.x << " " << c.y;
    if (c.too_close) {
      EXPECT_THAT(r.out, HasSubstr("\n     too close to edge \n"));
      EXPECT_FALSE(r.e.deathrad.has_value());
      EXPECT_THAT(r.out, Not(HasSubstr("npix")));
    } else {
      EXPECT_THAT(r.out, Not(HasSubstr("too close")));
      ASSERT_TRUE(r.e.deathrad.has_value()) << c.x << " " << c.y;
      // Where the noiseless star falls to a thousandth of its height.
      EXPECT_NEAR(*r.e.deathrad, 1.5f * std::sqrt(2.0f * std::log(1000.0f)), 0.7f) << c.x << " " << c.y;
      EXPECT_EQ(r.out.find("% of the background annulus lies inside the image") != std::string::npos, c.small_annulus);
    }
  }
}

TEST(Getpsf, LowCentreLeavesTheSkySampleEmptyWithoutNaN) {
  Image img(200, 200, 100.0f);
  PsfRun r = run_psf(img, 100.0f, 26.9f, request(1000.0f));
  EXPECT_THAT(r.out, HasSubstr("No sky pixels 15 to 25 pixels from the object"));
  EXPECT_FLOAT_EQ(r.e.sky, r.e.rough_sky);
  EXPECT_FALSE(r.e.too_close_to_edge);  // the part of the flux box inside the image is measured
  EXPECT_EQ(r.out.find("NaN"), std::string::npos);
  // One row higher the sample holds pixels again.
  PsfRun s = run_psf(img, 100.0f, 27.0f, request(1000.0f));
  EXPECT_THAT(s.out, Not(HasSubstr("No sky pixels")));
  EXPECT_FLOAT_EQ(s.e.sky, 100.0f);
}

TEST(Getpsf, SingleSkyPixelIsUsedWithSigmaOne) {
  // Only one pixel of the annulus lies within the sky limits (the rest are above them).
  Image img(200, 200, 5000.0f);
  img.at(118, 100) = 300.0f;  // offset 18 from the centre column
  PsfRun r = run_psf(img, 100.0f, 100.0f, request(1000.0f));
  EXPECT_THAT(r.out, HasSubstr("Only one sky pixel"));
  EXPECT_THAT(r.out, HasSubstr(" The so called better sky with 2.5 sigma clip = 300.0\n"));
  EXPECT_EQ(r.out.find("NaN"), std::string::npos);
}

TEST(Getpsf, SaturatedPixelWithinThreeRStopsSilently) {
  Image img = gaussian_field(200, 200, 100.0f, 100.0f, 100.0f, 45000.0f, 2.0f);
  PsfRun r = run_psf(img, 100.0f, 100.0f, request(1000.0f, true));
  EXPECT_TRUE(r.e.saturated);
  EXPECT_FALSE(r.e.deathrad.has_value());
  EXPECT_THAT(r.out, Not(HasSubstr("npix")));
  EXPECT_THAT(r.out, Not(HasSubstr("aturat")));
  // The same star below the level is measured.
  PsfRequest q = request(1000.0f, true);
  q.saturation = 46000;
  EXPECT_FALSE(run_psf(img, 100.0f, 100.0f, q).e.saturated);
}

TEST(Getpsf, WithoutCentroidNoWorkingPixelIsReported) {
  Image img = gaussian_field(200, 200, 100.0f, 100.0f, 100.0f, 2000.0f, 2.0f);
  PsfRun r = run_psf(img, 101.2f, 99.1f, request(1000.0f, false));
  EXPECT_FALSE(r.e.centroid_pixel.has_value());
  EXPECT_FLOAT_EQ(r.e.xcen, 101.2f);
  EXPECT_FLOAT_EQ(r.e.ycen, 99.1f);
}

TEST(Getpsf, StampMarksTheLastColumnAndPixelsBeyondTheImage) {
  // R = 3 keeps the flux box (offsets -10 .. 10) inside columns and rows 1 .. 59; the stamp
  // reaches beyond the image on two sides.
  Image img = gaussian_field(60, 60, 100.0f, 49.0f, 12.0f, 2000.0f, 1.0f);
  PsfRun r = run_psf(img, 49.0f, 12.0f, request(1000.0f, false, 3.0f));
  ASSERT_FALSE(r.e.stamp.empty());
  // Stamp (i, j) shows image (i - 2, j - 39): the centre (49, 12) at (51, 51).
  EXPECT_FLOAT_EQ(r.e.stamp.at(51, 51), img.at(49, 12));
  EXPECT_FLOAT_EQ(r.e.stamp.at(61, 51), img.at(59, 12));
  EXPECT_FLOAT_EQ(r.e.stamp.at(62, 51), kStampOffImage);  // column 60, the last one
  EXPECT_FLOAT_EQ(r.e.stamp.at(51, 39), kStampOffImage);  // row 0
  EXPECT_FLOAT_EQ(r.e.stamp.at(51, 40), img.at(49, 1));
  EXPECT_FLOAT_EQ(r.e.stamp.at(1, 1), kStampOffImage);
}

TEST(Getpsf, DecreasingGrowthCurveStopsTheTable) {
  // A dark ring (below the sky) 6 pixels out makes the enclosed flux fall, though the star
  // still stands above the background in all.
  Image img = gaussian_field(200, 200, 1000.0f, 100.0f, 100.0f, 3000.0f, 1.0f);
  for (int y = 1; y <= 200; ++y)
    for (int x = 1; x <= 200; ++x) {
      const float r = std::hypot(x - 100.0f, y - 100.0f);
      if (r > 6.0f && r < 7.5f) img.at(x, y) = 900.0f;
    }
  PsfRun r = run_psf(img, 100.0f, 100.0f, request(5000.0f));
  EXPECT_TRUE(r.e.haywire);
  EXPECT_THAT(r.out, HasSubstr(" All right. Flux is going haywire, so we quit here...\n"
                               " Approximate radius of object = "));
}

// A faint star on a noisy sky: its flux lies below the sky level per pixel, and its growth
// curve wanders with the noise beyond the star. The half-flux column is half its flux, and
// the noise is not taken for a fault of the estimate.
TEST(Getpsf, AFaintStarOnNoiseKeepsItsFluxAndItsTable) {
  Image img = gaussian_field(200, 200, 5000.0f, 100.0f, 100.0f, 3000.0f / (2.0f * 3.14159265f * 4.0f), 2.0f);
  std::uint32_t state = 12345u;
  for (float& p : img.px) {
    // Uniform noise of spread 1 from a fixed linear congruential sequence.
    state = state * 1664525u + 1013904223u;
    p += (static_cast<float>(state >> 8) / 16777216.0f - 0.5f) * 3.464f;
  }
  PsfRun r = run_psf(img, 100.0f, 100.0f, request(10000.0f));
  ASSERT_TRUE(r.e.deathrad.has_value());
  // Its flux as measured, not a stand-in: within the error of a background surface extrapolated
  // over the 45-pixel box (0.1 count per pixel is 640 counts there).
  EXPECT_NEAR(r.e.total, 3000.0f, 1000.0f);
  EXPECT_FALSE(r.e.haywire) << r.out;
  EXPECT_THAT(r.out, Not(HasSubstr("haywire")));
  char half[16];
  std::snprintf(half, sizeof half, "%12.3f", static_cast<double>(r.e.total * 0.5f));
  EXPECT_THAT(r.out, HasSubstr(std::string(half) + "      15.000\n"));
}
