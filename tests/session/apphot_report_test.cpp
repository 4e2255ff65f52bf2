// One star measured and reported by the photometry dialogue: sky independence, the printed
// lines and log records, INDEF values, refused and truncated apertures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <sstream>
#include <string>

#include "photometry/apphot.h"
#include "platform/console.h"
#include "session/photometry_menu.h"
#include "support/star_field.h"

using namespace zelvo;
using zelvo::test_images::star_field;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {


struct Captured {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream log;
  Console con{in, out};
};

}  // namespace

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
  // At this centre the circle of radius 4 has a step without a neighbour near it; the ring
  // is traced a hair off that radius instead, and the star is measured with a note.
  Image field(80, 80, 10.0f);
  Captured io2;
  const Photometry q =
      report_apphot(field.view(), 31.49f, 40.998f, ApertureRadii{4.0f, 9.0f, 12.0f}, io2.con, &io2.log);
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
