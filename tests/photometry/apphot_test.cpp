// Aperture photometry of one star: pixel sets against whole-image masks and magnitudes.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <string>

#include "photometry/apphot.h"
#include "removal/edge.h"
#include "removal/removal_work.h"
#include "removal/ring_values.h"
#include "support/star_field.h"

using namespace zelvo;
using zelvo::test_images::star_field;

namespace {


// The plain computation: a whole-image mask from the traced ring, its sum truncated to the
// count, and the whole image times the mask summed in array order.
ApertureSum whole_image_sum(Image& img, float xc, float yc, float r) {
  RemovalWork w;
  w.prepare(img.nx, img.ny);
  EXPECT_EQ(FINDEDGE(w, xc, yc, r), EdgeStatus::ok);
  MASKCIRCLE(w, w.TheRing.x, w.TheRing.y, GREATSMALL(w.TheRing.y));
  float msum = 0.0f, flux = 0.0f;
  for (std::size_t k = 0; k < img.px.size(); ++k) {
    msum += w.TheMask.px[k];
    w.TheAux.px[k] = img.px[k] * w.TheMask.px[k];
  }
  for (std::size_t k = 0; k < img.px.size(); ++k) flux += w.TheAux.px[k];
  return ApertureSum{static_cast<int32_t>(msum), flux};
}

}  // namespace

TEST(ApertureSums, EqualTheWholeImageMasksBitForBit) {
  Image img = star_field(64, 56, 850.0f, 31.3f, 27.8f, 4000.0f, 1.7f, 30.0f);
  const ApertureRadii radii{2.5f, 9.0f, 12.0f};
  for (const auto& c : {std::pair{31.3f, 27.8f}, std::pair{20.0f, 30.0f}, std::pair{40.72f, 21.15f},
                        std::pair{32.4f, 28.6f}}) {
    const ApertureSums s = aperture_sums(img.view(), c.first, c.second, radii);
    ASSERT_EQ(s.status, EdgeStatus::ok);
    EXPECT_FALSE(s.truncated);
    const ApertureSum o = whole_image_sum(img, c.first, c.second, 12.0f);
    const ApertureSum i = whole_image_sum(img, c.first, c.second, 9.0f);
    const ApertureSum st = whole_image_sum(img, c.first, c.second, 2.5f);
    EXPECT_EQ(s.outer.n, o.n);
    EXPECT_EQ(s.inner.n, i.n);
    EXPECT_EQ(s.star.n, st.n);
    EXPECT_EQ(s.outer.flux, o.flux);
    EXPECT_EQ(s.inner.flux, i.flux);
    EXPECT_EQ(s.star.flux, st.flux);
  }
}

TEST(ApertureSums, AtTheBorderOnlyTheInsidePixelsCount) {
  // Reference: the same image inside a zero frame of 20 pixels, where the discs are whole.
  Image img = star_field(60, 50, 400.0f, 4.0f, 45.0f, 2000.0f, 1.5f, 10.0f);
  const int pad = 20;
  Image framed(img.nx + 2 * pad, img.ny + 2 * pad, 0.0f);
  for (int y = 1; y <= img.ny; ++y)
    for (int x = 1; x <= img.nx; ++x) framed.at(x + pad, y + pad) = img.at(x, y);
  const float xc = 4.3f, yc = 45.6f;
  const ApertureSums s = aperture_sums(img.view(), xc, yc, ApertureRadii{});
  ASSERT_EQ(s.status, EdgeStatus::ok);
  EXPECT_TRUE(s.truncated);
  for (const auto& [got, r] : {std::pair{s.outer, 12.0f}, std::pair{s.inner, 9.0f}, std::pair{s.star, 2.5f}}) {
    RemovalWork w;
    w.prepare(framed.nx, framed.ny);
    ASSERT_EQ(FINDEDGE(w, xc + pad, yc + pad, r), EdgeStatus::ok);
    MASKCIRCLE(w, w.TheRing.x, w.TheRing.y, GREATSMALL(w.TheRing.y));
    int inside = 0;
    float flux = 0.0f;
    for (int y = 1; y <= framed.ny; ++y)
      for (int x = 1; x <= framed.nx; ++x) {
        flux += framed.at(x, y) * w.TheMask.at(x, y);
        const bool in = x > pad && x <= pad + img.nx && y > pad && y <= pad + img.ny;
        if (in && w.TheMask.at(x, y) == 1.0f) ++inside;
      }
    EXPECT_EQ(got.n, inside) << r;
    EXPECT_EQ(got.flux, flux) << r;
  }
  // The star aperture (2.5) lies inside here; the annulus is cut.
  EXPECT_LT(s.outer.n, whole_image_sum(framed, xc + pad, yc + pad, 12.0f).n);
}

TEST(Magnitude, InstrumentalScale) {
  EXPECT_FLOAT_EQ(*instrumental_magnitude(100.0f), -5.0f);
  EXPECT_FLOAT_EQ(*instrumental_magnitude(1.0f), 0.0f);
  EXPECT_NEAR(*instrumental_magnitude(0.01f), 5.0f, 1e-5f);
  EXPECT_FALSE(instrumental_magnitude(0.0f).has_value());
  EXPECT_FALSE(instrumental_magnitude(-3.0f).has_value());
  EXPECT_FALSE(instrumental_magnitude(std::nanf("")).has_value());
  EXPECT_FALSE(instrumental_magnitude(INFINITY).has_value());
}

struct MagnitudeCase {
  float flux, exptime;
  double want;  // NAN: no magnitude
};

class ApertureMagnitude : public ::testing::TestWithParam<MagnitudeCase> {};

TEST_P(ApertureMagnitude, IsPerSecondOfAPositiveExposureTimeAndInstrumentalOtherwise) {
  const MagnitudeCase c = GetParam();
  const std::optional<float> m = aperture_magnitude(c.flux, c.exptime);
  if (std::isnan(c.want)) {
    EXPECT_FALSE(m.has_value());
  } else {
    ASSERT_TRUE(m.has_value());
    EXPECT_NEAR(*m, c.want, 1e-5 * (1.0 + std::fabs(c.want)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApertureMagnitude,
    ::testing::Values(MagnitudeCase{1000.0f, 100.0f, -2.5}, MagnitudeCase{100.0f, 100.0f, 0.0},
                      MagnitudeCase{52000.0f, 300.0f, -2.5 * std::log10(52000.0 / 300.0)},
                      MagnitudeCase{100.0f, 0.0f, -5.0}, MagnitudeCase{100.0f, -30.0f, -5.0},
                      MagnitudeCase{100.0f, NAN, -5.0}, MagnitudeCase{3e38f, 1e-30f, -2.5 * std::log10(3e68)},
                      MagnitudeCase{0.0f, 100.0f, NAN}, MagnitudeCase{-5.0f, 100.0f, NAN},
                      MagnitudeCase{INFINITY, 100.0f, NAN}));
