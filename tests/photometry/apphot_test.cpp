// Aperture photometry of one star: pixel sets against whole-image masks, sky independence,
// magnitudes, INDEF records, refused and truncated apertures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "photometry/apphot.h"
#include "session/photometry_menu.h"
#include "platform/console.h"
#include "removal/edge.h"
#include "removal/removal_work.h"
#include "removal/ring_values.h"

using namespace zelvo;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Sky s plus a Gaussian star (peak, sigma) at (x0, y0), plus optional uniform noise.
Image star_field(int nx, int ny, float s, float x0, float y0, float peak, float sig, float noise = 0.0f,
                 unsigned seed = 7) {
  Image img(nx, ny);
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(-noise, noise);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) {
      const double r2 = (x - x0) * (x - x0) + (y - y0) * (y - y0);
      img.at(x, y) = s + static_cast<float>(peak * std::exp(-r2 / (2.0 * sig * sig))) + (noise > 0 ? u(gen) : 0.0f);
    }
  return img;
}

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

struct Captured {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream log;
  Console con{in, out};
};

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

TEST(Apphot, CorrectedFluxIsTheStarFluxWhateverTheSky) {
  const float x0 = 40.0f, y0 = 38.0f;
  Image star_only = star_field(80, 80, 0.0f, x0, y0, 5000.0f, 1.2f);
  const ApertureRadii radii;
  const float truth = aperture_sums(star_only.view(), x0, y0, radii).star.flux;
  ASSERT_GT(truth, 0.8f * 2.0f * 3.14159265f * 1.44f * 5000.0f);
  for (const float s : {0.0f, 137.0f, 1000.0f, 20000.0f}) {
    Image img = star_field(80, 80, s, x0, y0, 5000.0f, 1.2f);
    Captured io;
    const Photometry p = report_apphot(img.view(), x0, y0, radii, io.con, &io.log);
    ASSERT_TRUE(p.corrected.has_value());
    EXPECT_NEAR(*p.corrected, truth, 1e-4f * truth + 2e-6f * s * static_cast<float>(p.sums.outer.n)) << s;
    ASSERT_TRUE(p.avgback.has_value());
    EXPECT_NEAR(*p.avgback, s, 1e-3f + 1e-6f * s);
    EXPECT_EQ(p.annulus.n, p.sums.outer.n - p.sums.inner.n);
  }
}

TEST(Apphot, PrintsTheThreeLinesAndAppendsTheRecord) {
  // Flat sky 10 and a star aperture holding 100 more in one pixel: corrected flux 100, -5.0.
  Image img(40, 40, 10.0f);
  img.at(20, 20) = 110.0f;
  Captured io;
  const Photometry p = report_apphot(img.view(), 20.0f, 20.0f, ApertureRadii{}, io.con, &io.log);
  const int ns = p.sums.star.n, na = p.annulus.n;
  EXPECT_EQ(io.out.str(),
            " The nro of pixels and total flux within background annulus = " + std::to_string(na) + " " +
                format_real(10.0f * static_cast<float>(na)) + "\n" +
                " The number of pixels and total flux within star radius = " + std::to_string(ns) + " " +
                format_real(10.0f * static_cast<float>(ns) + 100.0f) + "\n" +
                " The corrected flux and corresponding magnitude = 100.0 -5.0\n");
  EXPECT_EQ(io.log.str(), " 20.0 20.0 100.0 -5.0\n");
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

TEST(Apphot, NonPositiveFluxGivesAnIndefMagnitude) {
  // The star pixel is darker than the sky: negative corrected flux.
  Image img(40, 40, 10.0f);
  img.at(20, 20) = 4.0f;
  Captured io;
  const Photometry p = report_apphot(img.view(), 20.0f, 20.0f, ApertureRadii{}, io.con, &io.log);
  ASSERT_TRUE(p.corrected.has_value());
  EXPECT_NEAR(*p.corrected, -6.0f, 1e-3f);
  EXPECT_FALSE(p.magnitude.has_value());
  EXPECT_THAT(io.out.str(), HasSubstr(" The corrected flux and corresponding magnitude = -6.0 INDEF\n"));
  EXPECT_THAT(io.out.str(), HasSubstr("magnitude is INDEF"));
  EXPECT_EQ(io.log.str(), " 20.0 20.0 -6.0 INDEF\n");
  EXPECT_THAT(io.out.str(), Not(HasSubstr("NaN")));
  EXPECT_THAT(io.out.str(), Not(HasSubstr("Infinity")));
}

TEST(Apphot, AnnulusWithoutPixelsGivesIndefFluxAndMagnitude) {
  // Every aperture lies off the image: no pixel anywhere, no background.
  Image img(40, 40, 10.0f);
  Captured io;
  const Photometry p = report_apphot(img.view(), -30.0f, 20.0f, ApertureRadii{}, io.con, &io.log);
  EXPECT_TRUE(p.measured());
  EXPECT_TRUE(p.sums.truncated);
  EXPECT_EQ(p.annulus.n, 0);
  EXPECT_FALSE(p.avgback.has_value());
  EXPECT_THAT(io.out.str(), HasSubstr("The background annulus holds no pixels"));
  EXPECT_THAT(io.out.str(), HasSubstr(" The corrected flux and corresponding magnitude = INDEF INDEF\n"));
  EXPECT_EQ(io.log.str(), " -30.0 20.0 INDEF INDEF\n");
  // Two rings that enclose the same pixels leave the annulus empty too.
  Captured io2;
  const Photometry q = report_apphot(img.view(), 20.0f, 20.0f, ApertureRadii{2.5f, 9.0f, 9.01f}, io2.con, &io2.log);
  ASSERT_EQ(q.sums.outer.n, q.sums.inner.n);
  EXPECT_EQ(io2.log.str(), " 20.0 20.0 INDEF INDEF\n");
}

TEST(Apphot, RingThatCannotBeTracedRefusesTheStar) {
  // A negative star radius passes the order check but no ring lies at it.
  Image img(40, 40, 10.0f);
  Captured io;
  const Photometry p = report_apphot(img.view(), 20.0f, 20.0f, ApertureRadii{-1.0f, 9.0f, 12.0f}, io.con, &io.log);
  EXPECT_FALSE(p.measured());
  EXPECT_FLOAT_EQ(p.sums.failed_radius, -1.0f);
  EXPECT_THAT(io.out.str(), HasSubstr("cannot be traced around this centre"));
  EXPECT_THAT(io.out.str(), HasSubstr("star not measured."));
  EXPECT_EQ(io.log.str(), "");
  // At this centre the circle of radius 5 has a step without a neighbour near it; the ring
  // is traced a hair off that radius instead, and the star is measured with a note.
  Image field(80, 80, 10.0f);
  Captured io2;
  const Photometry q = report_apphot(field.view(), 32.996f, 45.327f, ApertureRadii{5.0f, 9.0f, 12.0f}, io2.con, &io2.log);
  EXPECT_TRUE(q.measured());
  EXPECT_TRUE(q.sums.retraced);
  EXPECT_THAT(io2.out.str(), HasSubstr("traced 0.05 to 0.5 pixel wider or narrower"));
}

TEST(Apphot, TruncatedAperturesAreMeasuredAndSaidSo) {
  Image img(40, 40, 10.0f);
  img.at(3, 20) = 60.0f;
  Captured io;
  const Photometry p = report_apphot(img.view(), 3.0f, 20.0f, ApertureRadii{}, io.con, &io.log);
  ASSERT_TRUE(p.measured());
  EXPECT_TRUE(p.sums.truncated);
  ASSERT_TRUE(p.corrected.has_value());
  EXPECT_NEAR(*p.corrected, 50.0f, 1e-3f);
  EXPECT_THAT(io.out.str(), HasSubstr("(truncated)"));
  EXPECT_THAT(io.log.str(), HasSubstr(" 3.0 20.0 50.0"));
}
