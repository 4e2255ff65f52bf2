// The star finder on a synthetic spiral galaxy with stars from 5 sigma to saturated and
// HII-like knots on its arms: the stars are found where they are, the knots, arms and
// nucleus are not, and the saturated stars are typed 2.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "numeric/image_view.h"
#include "photometry/psf.h"
#include "removal/finder.h"
#include "support/frame_generator.h"
#include "synthetic_field.h"

using namespace zelvo;
using namespace zelvo::test_images;

namespace {

// The found star nearest to (x, y) within `within` pixels.
const FoundStar* nearest(const FinderResult& r, float x, float y, float within) {
  const FoundStar* best = nullptr;
  for (const FoundStar& s : r.stars)
    if (std::hypot(s.x - x, s.y - y) < within &&
        (!best || std::hypot(s.x - x, s.y - y) < std::hypot(best->x - x, best->y - y)))
      best = &s;
  return best;
}

class FinderOnGalaxy : public ::testing::TestWithParam<float> {};

// Given FWHM (3, as the stars have) and measured (0).
TEST_P(FinderOnGalaxy, FindsTheStarsNotTheKnotsAndTypesSaturatedOnes) {
  const KnottyGalaxy f = knotty_galaxy();
  FinderRequest req;
  req.fwhm = GetParam();
  req.saturation = 0.9f * f.saturation;
  const FinderResult r = find_stars(f.image.view(), req);
  ASSERT_EQ(r.status, FinderStatus::found);
  if (GetParam() <= 0.0f) {
    EXPECT_NEAR(r.fwhm, 3.0f, 0.6f);
  }
  int bright = 0, found = 0;
  for (const FrameStar& t : f.stars) {
    const FoundStar* s = nearest(r, t.x, t.y, t.saturated ? 4.0f : 1.5f);
    if (t.saturated) {
      ASSERT_NE(s, nullptr) << "saturated star at " << t.x << " " << t.y;
      EXPECT_EQ(s->type, 2);
      continue;
    }
    if (t.peak < 10.0f * f.noise) continue;
    ++bright;
    if (!s) {
      std::printf("missed star at %.2f %.2f, height %.0f\n", t.x, t.y, t.peak);
      continue;
    }
    ++found;
    EXPECT_EQ(s->type, 1);
    EXPECT_LT(std::hypot(s->x - t.x, s->y - t.y), 0.2f) << t.x << " " << t.y << " peak " << t.peak;
  }
  EXPECT_GE(found, 0.95 * bright);
  int knots = 0;
  for (const auto& k : f.knots) knots += nearest(r, k.first, k.second, 2.0f) != nullptr;
  EXPECT_LE(knots, 1);
  // Nothing else: every listed object is a star of the frame.
  for (const FoundStar& s : r.stars) {
    bool real = false;
    for (const FrameStar& t : f.stars) real |= std::hypot(s.x - t.x, s.y - t.y) < 4.0f;
    EXPECT_TRUE(real) << "listed at " << s.x << " " << s.y << " peak " << s.peak << " fwhm " << s.fwhm;
  }
}

INSTANTIATE_TEST_SUITE_P(GivenAndMeasuredFwhm, FinderOnGalaxy, ::testing::Values(3.0f, 0.0f));

}  // namespace

namespace {

// The sample field of the demo: a de Vaucouleurs galaxy, whose cusp is as sharp as a star at
// its top, among Moffat stars. The nucleus is never listed; the stars well clear of it are.
class FinderOnSampleField : public ::testing::TestWithParam<uint64_t> {};

TEST_P(FinderOnSampleField, ListsTheStarsButNotTheNucleus) {
  FieldOptions o;
  o.seed = GetParam();
  const SyntheticField f = synthetic_field(o);
  FinderRequest req;
  req.saturation = 0.9f * o.saturation;
  req.radius = [](ConstImageView image, float x, float y) { return star_radius(image, x, y).radius; };
  const FinderResult r = find_stars(f.image.view(), req);
  ASSERT_EQ(r.status, FinderStatus::found);
  EXPECT_EQ(nearest(r, static_cast<float>(f.galaxy.x), static_cast<float>(f.galaxy.y), 6.0f), nullptr)
      << "the nucleus at " << f.galaxy.x << " " << f.galaxy.y << " is listed";
  for (const FieldStar& t : f.stars) {
    if (t.peak > 10.0 * o.noise && t.x > 20 && t.y > 20 && t.x < o.nx - 20 && t.y < o.ny - 20) {
      EXPECT_NE(nearest(r, static_cast<float>(t.x), static_cast<float>(t.y), 1.5f), nullptr)
          << "missed star at " << t.x << " " << t.y << " peak " << t.peak;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, FinderOnSampleField, ::testing::Values(7u, 2001u, 31u, 97u));

}  // namespace
