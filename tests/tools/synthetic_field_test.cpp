// The synthetic-field generator: determinism, what the field holds, and its header read back.
#include "synthetic_field.h"

#include <fitsio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <sstream>

#include "fits/fits_io.h"
#include "platform/console.h"
#include "support/session_harness.h"

namespace zelvo {
namespace {

using testing::ScratchFolder;

FieldOptions small_options(uint64_t seed) {
  FieldOptions o;
  o.nx = 160;
  o.ny = 120;
  o.seed = seed;
  o.stars = 8;
  return o;
}

// A field with only sky and noise, or only the noiseless objects on the sky.
FieldOptions sky_only() {
  FieldOptions o = small_options(3);
  o.stars = 0;
  o.saturated_star = false;
  o.galaxy = GalaxyProfile::None;
  return o;
}

FieldOptions noiseless(FieldOptions o) {
  o.noise = 0.0f;
  o.gain = 0.0f;
  return o;
}

TEST(SyntheticField, SameSeedSamePixelsOtherSeedOtherField) {
  const auto a = synthetic_field(small_options(11));
  const auto b = synthetic_field(small_options(11));
  const auto c = synthetic_field(small_options(12));
  EXPECT_EQ(a.image.px, b.image.px);
  ASSERT_EQ(a.stars.size(), b.stars.size());
  EXPECT_NE(a.image.px, c.image.px);
  EXPECT_NE(a.stars.front().x, c.stars.front().x);
  // The noise draws from its own stream: changing it moves no object.
  FieldOptions quiet = small_options(11);
  quiet.noise = 2.0f;
  const auto q = synthetic_field(quiet);
  ASSERT_EQ(q.stars.size(), a.stars.size());
  for (std::size_t i = 0; i < a.stars.size(); ++i) EXPECT_EQ(q.stars[i].x, a.stars[i].x);
  EXPECT_EQ(q.galaxy.x, a.galaxy.x);
}

TEST(SyntheticField, SkyFollowsItsGradientWithTheRequestedNoise) {
  const FieldOptions o = sky_only();
  const auto f = synthetic_field(o);
  ASSERT_EQ(f.image.nx, 160);
  ASSERT_EQ(f.image.ny, 120);
  // Mean and spread of 40 x 40 patches against the plane and the noise asked for.
  for (int y0 : {1, 81}) {
    for (int x0 : {1, 61, 121}) {
      double sum = 0, sum2 = 0, model = 0;
      for (int y = y0; y < y0 + 40; ++y) {
        for (int x = x0; x < x0 + 40; ++x) {
          sum += f.image.at(x, y);
          model += f.sky_at(x, y);
        }
      }
      const double mean = sum / 1600.0;
      for (int y = y0; y < y0 + 40; ++y)
        for (int x = x0; x < x0 + 40; ++x) sum2 += std::pow(f.image.at(x, y) - f.sky_at(x, y), 2);
      EXPECT_NEAR(mean, model / 1600.0, 4.0 * o.noise / 40.0) << x0 << "," << y0;
      EXPECT_NEAR(std::sqrt(sum2 / 1600.0), o.noise, 0.1 * o.noise) << x0 << "," << y0;
    }
  }
  // A gentle gradient: corner to corner the sky changes by a few noise units only.
  EXPECT_NEAR(f.sky_at(160, 120) - f.sky_at(1, 1), o.sky_slope_x * 159 + o.sky_slope_y * 119, 1e-5);
  EXPECT_GT(*std::min_element(f.image.px.begin(), f.image.px.end()), 0.0f);
}

TEST(SyntheticField, StarsHoldTheirListedFluxAndPeakWhereListed) {
  for (StarProfile p : {StarProfile::Moffat, StarProfile::Gaussian}) {
    FieldOptions o = noiseless(small_options(5));
    o.star_profile = p;
    o.saturated_star = false;
    o.galaxy = GalaxyProfile::None;
    const auto f = synthetic_field(o);
    ASSERT_GE(f.stars.size(), 4u);
    // All the light above the sky is the stars' (a little of the Moffat wings falls
    // beyond the edges).
    double all = 0, listed = 0;
    for (int y = 1; y <= o.ny; ++y)
      for (int x = 1; x <= o.nx; ++x) all += f.image.at(x, y) - f.sky_at(x, y);
    for (const auto& s : f.stars) listed += s.flux;
    EXPECT_NEAR(all, listed, (p == StarProfile::Gaussian ? 1e-5 : 5e-3) * listed);
    for (const auto& s : f.stars) {
      // The brightest pixel is the centre's, `peak` above the sky.
      float brightest = 0;
      int bx = 0, by = 0;
      const int cx = static_cast<int>(std::lround(s.x)), cy = static_cast<int>(std::lround(s.y));
      for (int y = cy - 3; y <= cy + 3; ++y) {
        for (int x = cx - 3; x <= cx + 3; ++x) {
          if (f.image.at(x, y) > brightest) {
            brightest = f.image.at(x, y);
            bx = x;
            by = y;
          }
        }
      }
      EXPECT_EQ(bx, cx);
      EXPECT_EQ(by, cy);
      EXPECT_NEAR(brightest - f.sky_at(bx, by), s.peak, 1e-3 * s.peak + 0.5);
      EXPECT_LT(s.peak + o.sky + 5 * o.noise, o.saturation);  // ordinary stars never clip
      if (p == StarProfile::Gaussian) {
        // Gaussian wings are negligible 8 pixels out: the box holds the whole star.
        double sum = 0;
        for (int y = cy - 8; y <= cy + 8; ++y)
          for (int x = cx - 8; x <= cx + 8; ++x) sum += f.image.at(x, y) - f.sky_at(x, y);
        EXPECT_NEAR(sum, s.flux, 1e-3 * s.flux);
      }
    }
  }
}

TEST(SyntheticField, TheSaturatedStarClipsAndBleedsAlongItsColumn) {
  const FieldOptions o = small_options(9);
  const auto f = synthetic_field(o);
  ASSERT_TRUE(f.has_saturated);
  EXPECT_GT(f.saturated.peak, 2.0 * o.saturation);
  EXPECT_EQ(*std::max_element(f.image.px.begin(), f.image.px.end()), o.saturation);
  const int sx = static_cast<int>(std::lround(f.saturated.x));
  const int sy = static_cast<int>(std::lround(f.saturated.y));
  EXPECT_EQ(f.image.at(sx, sy), o.saturation);
  // The bleed runs through the star's core and well beyond it, up and down.
  EXPECT_EQ(f.bleed.x, sx);
  EXPECT_LE(f.bleed.y_first, sy - 6);
  EXPECT_GE(f.bleed.y_last, sy + 6);
  for (int y = f.bleed.y_first; y <= f.bleed.y_last; ++y) EXPECT_EQ(f.image.at(sx, y), o.saturation) << y;
  // Beside the ends of the column the level falls well below saturation.
  EXPECT_LT(f.image.at(sx + 8, f.bleed.y_last), 0.5f * o.saturation);
  if (f.bleed.y_last < o.ny) {
    EXPECT_LT(f.image.at(sx, f.bleed.y_last + 1), o.saturation);
  }
  // A flat-topped core: many pixels sit exactly at the level.
  const auto clipped = std::count(f.image.px.begin(), f.image.px.end(), o.saturation);
  EXPECT_GT(clipped, (f.bleed.y_last - f.bleed.y_first + 1) + 8);
}

TEST(SyntheticField, TheGalaxyIsCentredWhereListedAndHalfItsLightIsInside) {
  for (GalaxyProfile p : {GalaxyProfile::Exponential, GalaxyProfile::DeVaucouleurs}) {
    FieldOptions o = noiseless(sky_only());
    o.nx = o.ny = 200;
    o.galaxy = p;
    const auto f = synthetic_field(o);
    const auto& g = f.galaxy;
    ASSERT_EQ(g.profile, p);
    double sx = 0, sy = 0, sc = 0, s = 0;
    for (int y = 1; y <= o.ny; ++y) {
      for (int x = 1; x <= o.nx; ++x) {
        const double v = f.image.at(x, y) - f.sky_at(x, y);
        s += v;
        // The light-weighted centre, within 4 r_eff (the light further out is cut
        // unevenly by the image edges).
        if (std::hypot(x - g.x, y - g.y) > 4 * g.r_eff) continue;
        sx += v * x;
        sy += v * y;
        sc += v;
      }
    }
    EXPECT_NEAR(s, g.flux, 1e-3 * g.flux);
    EXPECT_NEAR(sx / sc, g.x, 0.05);
    EXPECT_NEAR(sy / sc, g.y, 0.05);
    // The effective radius holds half of the total light of the profile: measured inside
    // the ellipse of semi-axes r_eff and q r_eff, and allowing for the light cut at the edges.
    const double pa = g.position_angle * M_PI / 180.0;
    double inside = 0;
    for (int y = 1; y <= o.ny; ++y) {
      for (int x = 1; x <= o.nx; ++x) {
        const double dx = x - g.x, dy = y - g.y;
        const double u = dx * std::cos(pa) + dy * std::sin(pa);
        const double v = (-dx * std::sin(pa) + dy * std::cos(pa)) / g.axis_ratio;
        if (std::hypot(u, v) <= g.r_eff) inside += f.image.at(x, y) - f.sky_at(x, y);
      }
    }
    // An exponential disc holds all but 2e-5 of its light within 8 r_eff of the centre
    // (the nearest edge); the de Vaucouleurs wings reach past the image.
    if (p == GalaxyProfile::Exponential) {
      EXPECT_NEAR(inside / s, 0.5, 0.01);
    }
    // The brightest pixel is the centre's.
    const auto top = std::max_element(f.image.px.begin(), f.image.px.end()) - f.image.px.begin();
    EXPECT_EQ(top % o.nx + 1, std::lround(g.x));
    EXPECT_EQ(top / o.nx + 1, std::lround(g.y));
  }
}

TEST(SyntheticField, SmallAndEmptySizesAreHandled) {
  FieldOptions o = small_options(1);
  o.nx = 0;
  EXPECT_TRUE(synthetic_field(o).image.empty());
  o.nx = o.ny = 12;
  const auto f = synthetic_field(o);
  EXPECT_EQ(f.image.px.size(), 144u);
  for (float v : f.image.px) {
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, o.saturation);
  }
}

// What the loader makes of a written field.
struct ReadBack {
  ReadOutcome outcome;
  Image img;
  SlotHeader hdr;
  HeaderTexts texts;
};

ReadBack read_back(const std::string& path) {
  FitsRead r = READ_FITS_2D_IMAGE(path);
  return {r.outcome, std::move(r.image), std::move(r.header), r.texts};
}

TEST(SyntheticFieldFile, HeaderCardsReadBackAsTheLoaderTakesThem) {
  ScratchFolder dir;
  const FieldOptions o = small_options(4);
  const auto f = synthetic_field(o);
  ASSERT_EQ(write_field_fits(dir.file("field.fits"), f.image, o), 0);
  for (const auto& card : field_header_cards(o)) EXPECT_EQ(card.size(), 80u) << card;

  const ReadBack r = read_back(dir.file("field.fits"));
  ASSERT_EQ(r.outcome, ReadOutcome::loaded);
  EXPECT_EQ(r.img.px, f.image.px);  // no CRVAL shift, no conversion loss
  EXPECT_EQ(r.hdr.object, "NGC 3379            ");
  EXPECT_EQ(r.hdr.exptime, 300.0f);
  EXPECT_EQ(r.texts.hdrra, "10:47:49.60    ");
  EXPECT_EQ(r.texts.hdrdec, "+12:34:54.00   ");
  EXPECT_EQ(r.texts.hdrst, "09:12:33.70    ");
  EXPECT_EQ(r.texts.hdrfilter, "R              ");

  // An existing file is kept unless overwriting is asked for.
  EXPECT_EQ(write_field_fits(dir.file("field.fits"), Image(2, 2), o), FILE_NOT_CREATED);
  fits_clear_errmsg();
  EXPECT_EQ(write_field_fits(dir.file("field.fits"), Image(2, 2, 5.0f), o, true), 0);
}

TEST(SyntheticFieldFile, SixteenBitFilesHoldTheRoundedValues) {
  ScratchFolder dir;
  FieldOptions o = small_options(4);
  o.bitpix = 16;
  o.object = "M 105";
  o.filter = 'I';
  o.exptime = 1200.0f;
  const auto f = synthetic_field(o);
  ASSERT_EQ(write_field_fits(dir.file("u16.fits"), f.image, o), 0);
  const ReadBack r = read_back(dir.file("u16.fits"));
  ASSERT_EQ(r.outcome, ReadOutcome::loaded);
  ASSERT_EQ(r.img.px.size(), f.image.px.size());
  for (std::size_t i = 0; i < r.img.px.size(); ++i) ASSERT_EQ(r.img.px[i], std::nearbyint(f.image.px[i])) << i;
  EXPECT_EQ(r.hdr.object, "M 105               ");
  EXPECT_EQ(r.hdr.exptime, 1200.0f);
  EXPECT_EQ(r.texts.hdrfilter, "I              ");
}

TEST(SyntheticFieldTool, WritesTheSameFieldAsTheLibrary) {
  const std::string tool = ZELVO_FIELD_TOOL;
  if (tool.empty()) GTEST_SKIP() << "zelvo-field is not built";
  ScratchFolder dir;
  const std::string out = dir.file("f.fits");
  const std::string cmd = tool + " --size 64x48 --seed 21 --stars 5 --out " + out + " > " + dir.file("log") + " 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << dir.read("log");
  EXPECT_THAT(dir.read("log"), ::testing::StartsWith("Wrote " + out + ": 64 x 48 pixels, seed 21"));
  FieldOptions o;
  o.nx = 64;
  o.ny = 48;
  o.seed = 21;
  o.stars = 5;
  EXPECT_EQ(dir.read_fits("f.fits").px, synthetic_field(o).image.px);
  // The file is kept on a second run, replaced with --force; bad options give status 2.
  EXPECT_NE(std::system((cmd).c_str()), 0);
  EXPECT_EQ(std::system((tool + " --seed 22 --force --size 64x48 --out " + out + " > /dev/null").c_str()), 0);
  EXPECT_NE(dir.read_fits("f.fits").px, synthetic_field(o).image.px);
  EXPECT_EQ(WEXITSTATUS(std::system((tool + " --size 0x5 2> /dev/null").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((tool + " --bogus 2> /dev/null").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((tool + " --help > /dev/null").c_str())), 0);
}

}  // namespace
}  // namespace zelvo
