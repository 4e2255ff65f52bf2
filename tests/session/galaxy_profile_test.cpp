// Whole flux and magnitude profile runs of the galaxy submenu on synthetic galaxies: the
// refusals, every printed text in order, the log and the measured profile against the truth.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "display/profile_page.h"
#include "galaxy/disc_image.h"
#include "galaxy/profile.h"
#include "galaxy/spline.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/galaxy_menu.h"
#include "session/session.h"
#include "support/scripted_session.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr double kDeg = 3.141592653589793 / 180.0;

// A session answering with `answers`, a /null page and a scratch folder for the log.
struct Page : ScriptedSession {
  explicit Page(const std::string& answers) { in.str(answers); }
  ScratchFolder dir;
  // Puts `img` into the active slot with the display levels fg/bg, as the menu finds them.
  Session& on(const Image& img, float fg, float bg) {
    load(1, img, "galaxy.fits");
    s.display.state.fglev = fg;
    s.display.state.bglev = bg;
    return s;
  }
  ProfileFiles files() const {
    ProfileFiles f;
    f.log = dir.file(std::string(kProfileLogName));
    return f;
  }
  std::string log() const { return dir.read(std::string(kProfileLogName)); }
  bool logged() const { return dir.exists(std::string(kProfileLogName)); }
};

std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> v;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// Two numbers of a free-format log row.
std::pair<double, double> row_values(const std::string& row) {
  std::istringstream in(row);
  double a = NAN, b = NAN;
  in >> a >> b;
  return {a, b};
}

}  // namespace

namespace {

// A request on the default 201 x 201 disc image that cannot work, and the word that names why.
struct Bad {
  int xc, yc;
  float R, step, e;
  const char* says;
};

void PrintTo(const Bad& b, std::ostream* os) {
  *os << b.says << " (" << b.xc << ", " << b.yc << ", R " << b.R << ", step " << b.step << ", e " << b.e << ")";
}

}  // namespace

class ProfileRefuses : public ::testing::TestWithParam<Bad> {};

// The flux and the magnitude profile refuse the same request, one after the other on one copy.
TEST_P(ProfileRefuses, BeforeAnythingIsDrawnOrLogged) {
  const Bad& b = GetParam();
  Image copy = disc_image({});
  for (bool flux : {true, false}) {
    Page page("0\n");
    const float pa = 30.0f;
    const ProfileResult r = flux ? THEPROFILE(page.on(copy, 400, 3000), b.xc, b.yc, b.R, b.step, b.e, pa, page.files())
                                 : MAGPROFILE(page.on(copy, 400, 3000), b.xc, b.yc, b.R, b.step, b.e, pa);
    EXPECT_FALSE(r.done) << flux;
    const auto out = lines_of(page.out.str());
    ASSERT_EQ(out.size(), 1u) << page.out.str();
    EXPECT_THAT(out[0], HasSubstr(b.says));
    EXPECT_THAT(out[0], HasSubstr("nothing done"));
    EXPECT_FALSE(page.logged()) << flux;
    EXPECT_FALSE(r.pa_radians) << flux;  // nothing measured, no angle used
  }
}

INSTANTIATE_TEST_SUITE_P(Requests, ProfileRefuses,
                         ::testing::Values(Bad{0, 50, 20, 1, 0, "centre"}, Bad{202, 50, 20, 1, 0, "centre"},
                                           Bad{50, 0, 20, 1, 0, "centre"}, Bad{50, 50, 0, 1, 0, "extent"},
                                           Bad{50, 50, -5, 1, 0, "extent"}, Bad{50, 50, 400, 1, 0, "extent"},
                                           Bad{50, 50, 20, 0, 0, "step"}, Bad{50, 50, 20, -1, 0, "step"},
                                           Bad{50, 50, 20, 0.001f, 0, "step"}, Bad{50, 50, 20, 1, 1.0f, "eccentricity"},
                                           Bad{50, 50, 20, 1, -0.1f, "eccentricity"}));

TEST(Profile, FlatSkyRunPrintsEveryTextInOrderAndTenPercentRaisesTheSky) {
  DiscModel d;
  d.nx = d.ny = 121;
  d.xc = d.yc = 61;
  d.scale = 4.0;
  d.sky = 1000.0;  // every sky pixel in bin 241
  Image img = disc_image(d);
  Page page("0\n");
  const float pa = 0.0f;
  const ProfileResult r = THEPROFILE(page.on(img, 900.0f, 1500.0f), 61, 61, 25.0f, 1.0f, 0.0f, pa, page.files());
  ASSERT_TRUE(r.done);
  EXPECT_EQ(r.histogram.kmax, 241);
  EXPECT_FLOAT_EQ(r.histogram.sky, 1002.5f);
  // The level comes from the sky boxes themselves: the true sky, not the bin's centre.
  EXPECT_NEAR(r.sky, 1000.0f, 0.05f);
  const auto out = lines_of(page.out.str());
  const std::vector<std::string> want = {
      " 121 121",
      " ymax = " + format_real(r.scan.ymax) + " ymax2 = " + format_real(r.histogram.ymax2),
      " Sky beyond the extent: " + std::to_string(r.boxes.used) + " of " + std::to_string(r.boxes.beyond) +
          " boxes of 8 x 8 pixels give " + format_real(r.sky) + " +/- " + format_real(r.boxes.err) +
          " (scatter between boxes " + format_real(r.boxes.scatter) + ", pixel spread " + format_real(r.boxes.sigma) +
          "; histogram peak 1002.5)",
      " Background level set at: " + format_real(r.sky),
      " Give a number by how many percent the background",
      " should be changed (e.g. -10, 0, or 10):",
      " or '=' and the sky level itself (e.g. =150.2):",
      " Sky used: " + format_real(r.sky) + " +/- " + format_real(r.boxes.err) + " (boxes beyond the extent)",
      " icnt, iskycnt, ymin, ymax = " + std::to_string(r.scan.icnt()) + " " + std::to_string(r.scan.iskycnt) + " " +
          format_real(r.scan.ymin) + " " + format_real(r.scan.ymax),
      // The disc's light reaches beyond 25 pixels (scale 4, no noise): still falling there.
      " The profile is still falling at the extent: the sky, measured beyond it, may hold galaxy light.",
      " Fitting a spline curve to the binned radial profile...",
      " Plotting the spline over the data...",
      " Computing the rotation curve. This can be slow...",
  };
  ASSERT_GE(out.size(), want.size() + 2);
  for (std::size_t k = 0; k < want.size(); ++k) EXPECT_EQ(out[k], want[k]);
  EXPECT_EQ(out[out.size() - 2], " Finished!");
  EXPECT_EQ(out.back(), "");
  EXPECT_EQ(r.pa_radians, 0.0f);

  Page ten("10\n");
  const float pa2 = 45.0f;
  const ProfileResult r10 = THEPROFILE(ten.on(img, 900.0f, 1500.0f), 61, 61, 25.0f, 1.0f, 0.0f, pa2, ten.files());
  EXPECT_FLOAT_EQ(r10.sky, 1.1f * r.sky);
  ASSERT_TRUE(r10.pa_radians);
  EXPECT_FLOAT_EQ(*r10.pa_radians, static_cast<float>(45.0 * kDeg));
  // Pixels and bins are sky-subtracted with the raised level.
  EXPECT_NEAR(r10.profile.prof.back(), r.profile.prof.back() - 0.1f * r.sky, 0.05f);

  // A sky typed after '=' (a wrong answer asked again) is the level used, and the log says so.
  Page typed("ten\n=990.5\n");
  const ProfileResult rt = THEPROFILE(typed.on(img, 900.0f, 1500.0f), 61, 61, 25.0f, 1.0f, 0.0f, pa, typed.files());
  EXPECT_EQ(rt.sky, 990.5f);
  EXPECT_NEAR(rt.profile.prof.back(), r.profile.prof.back() + (r.sky - 990.5f), 0.05f);
  EXPECT_THAT(typed.out.str(), HasSubstr(" Expected a percentage (e.g. -10) or '=' and the sky level (e.g. =150.2); "
                                         "please type it again.\n Sky used: 990.5 +/- "));
  EXPECT_THAT(typed.log(), HasSubstr(" Sky used: 990.5 +/- " + format_real(r.boxes.err) + " (typed)\n"));
}

TEST(Profile, ASkyBeyondTheHistogramIsStillMeasuredInBoxes) {
  Image img(61, 61, 6000.0f);  // every value beyond the histogram's top (4800)
  Page page("0\n");
  const float pa = 0.0f;
  const ProfileResult r = THEPROFILE(page.on(img, 5000.0f, 7000.0f), 31, 31, 10.0f, 1.0f, 0.0f, pa, page.files());
  ASSERT_TRUE(r.done);
  EXPECT_FALSE(r.histogram.found);
  EXPECT_EQ(r.sky, 6000.0f);
  EXPECT_THAT(page.out.str(), Not(HasSubstr(std::string(kNoSkyInHistogram))));
  for (float v : r.profile.prof) EXPECT_EQ(v, 0.0f);
}

// An extent that leaves no room beyond it: no empty sky, and the lines say so.
TEST(Profile, WithoutAnySkyPixelTheSkyIsZeroAndTheWarningsSaySo) {
  Image img(61, 61, 6000.0f);
  Page page("0\n");
  const float pa = 0.0f;
  const ProfileResult r = THEPROFILE(page.on(img, 5000.0f, 7000.0f), 31, 31, 80.0f, 10.0f, 0.0f, pa, page.files());
  ASSERT_TRUE(r.done);
  EXPECT_FALSE(r.boxes.found);
  EXPECT_EQ(r.sky, 0.0f);
  EXPECT_THAT(page.out.str(),
              HasSubstr(" No empty sky was found: fewer than 3 boxes of 8 x 8 pixels lie beyond the extent; the sky "
                        "is the histogram's peak and may hold galaxy light.\n " +
                        std::string(kNoSkyInHistogram) + "\n Background level set at: 0.0\n"));
  EXPECT_THAT(page.out.str(), HasSubstr(" Sky used: 0.0 +/- unknown (histogram peak)\n"));
}

TEST(Profile, SyntheticDiscFollowsTheAnalyticProfileAndRecoversTheSky) {
  DiscModel d;
  d.nx = d.ny = 301;
  d.xc = d.yc = 151;
  d.scale = 10.0;
  d.e = 0.5;
  d.noise = 5.0;
  Image img = disc_image(d);
  Page page("0\n");
  const float pa = 90.0f;  // the disc's major axis lies along +y
  const float R = 70.0f;
  const ProfileResult r = THEPROFILE(page.on(img, 500.0f, 900.0f), 151, 151, R, 5.0f, 0.5f, pa, page.files());
  ASSERT_TRUE(r.done);
  EXPECT_NEAR(r.sky, d.sky, 1.0);
  ASSERT_EQ(r.profile.nb(), 70u);
  // Expected bin means: the analytic surface brightness averaged over the pixels of each bin.
  std::vector<double> sum(70, 0.0);
  std::vector<int> n(70, 0);
  for (int y = 2; y < d.ny; ++y)
    for (int x = 2; x < d.nx; ++x) {
      const double rho = disc_radius(x - d.xc, y - d.yc, d.e);
      if (rho >= R) continue;
      const auto k = static_cast<std::size_t>(rho);
      sum[k] += disc_value(d, x - d.xc, y - d.yc);
      ++n[k];
    }
  for (std::size_t k = 0; k < r.profile.nb(); ++k) {
    ASSERT_GT(n[k], 0);
    const double want = sum[k] / n[k];
    EXPECT_NEAR(r.profile.prof[k], want, 5.0 * d.noise / std::sqrt(n[k]) + 1.0 + 1e-3 * want) << "bin " << k + 1;
  }
  // The spline passes through the bins and the curve rises from the centre.
  EXPECT_NEAR(SPLINT(r.profile.rprof, r.profile.prof, r.y2, 10.5f), r.profile.prof[10], 1e-3f * r.profile.prof[10]);
  ASSERT_EQ(r.curve.rrot.size(), 15u);
  EXPECT_TRUE(r.curve.outward.empty());
  EXPECT_GT(r.curve.vrot[2], r.curve.vrot[1]);
}

TEST(Profile, TheLogAppendsEveryTableInOrder) {
  DiscModel d;
  d.nx = d.ny = 81;
  d.xc = d.yc = 41;
  d.scale = 1.4;  // below 505 beyond R = 10: the whole sky falls into bin 141
  Image img = disc_image(d);
  Page page("0\n0\n");
  const float pa = 0.0f;
  const ProfileResult r = THEPROFILE(page.on(img, 500.0f, 900.0f), 41, 41, 10.0f, 5.0f, 0.0f, pa, page.files());
  THEPROFILE(page.on(img, 500.0f, 900.0f), 41, 41, 10.0f, 5.0f, 0.0f, pa, page.files());
  const auto log = lines_of(page.log());
  // Per run: 3 title lines, 3 parameter lines, 1 + 1000 sky rows, the sky found and used, 1 + 10 bins,
  // the table's name (no still-falling line: the outer quarter holds fewer than 4 bins),
  // 1 + 51 spline samples, 1 + 3 curve points.
  ASSERT_FALSE(r.falling);
  const std::size_t run = 3 + 3 + 1001 + 2 + 11 + 1 + 52 + 4;
  ASSERT_EQ(log.size(), 2 * run);
  for (std::size_t base : {std::size_t{0}, run}) {
    EXPECT_EQ(log[base + 0], "");
    EXPECT_EQ(log[base + 1], " Zelvo Profile ");
    EXPECT_EQ(log[base + 2], "");
    EXPECT_EQ(log[base + 3], " Image: galaxy.fits");
    EXPECT_EQ(
        log[base + 4],
        " Parameters: centre x, y, extent, step, eccentricity, position angle (deg) = 41.0 41.0 10.0 5.0 0.0 0.0");
    EXPECT_EQ(log[base + 5], " Position angle counted from +x towards +y (counter-clockwise on the image)");
    const std::size_t h = base + 3;
    EXPECT_EQ(log[h + 3], " Compute skypr histogram (rsky,skypr)...");
    EXPECT_EQ(row_values(log[h + 4]), std::make_pair(-197.5, 0.0));
    EXPECT_EQ(row_values(log[h + 4 + 140]).first, 502.5);  // bin 141
    EXPECT_EQ(row_values(log[h + 4 + 140]).second, static_cast<double>(r.histogram.ymax2));
    EXPECT_THAT(log[h + 1004], HasSubstr(" Sky beyond the extent: "));
    EXPECT_THAT(log[h + 1005], HasSubstr(" Sky used: "));
    const std::size_t b = h + 2;
    EXPECT_EQ(log[b + 1004], " Variable rprof (1-1000)");
    EXPECT_EQ(row_values(log[b + 1005]).first, 0.5);
    EXPECT_EQ(row_values(log[b + 1014]).first, 9.5);
    EXPECT_NEAR(row_values(log[b + 1005]).second, 2000.0, 1.0);
    EXPECT_EQ(log[b + 1015], " Profile table: " + page.dir.file("ZelvoProfile1.ecsv"));
    const std::size_t c = b + 1;
    EXPECT_EQ(log[c + 1015], " Plotting the spline over the data (w,d)...");
    EXPECT_EQ(row_values(log[c + 1016]).first, 0.0);
    EXPECT_NEAR(row_values(log[c + 1066]).first, 10.0, 1e-5);
    EXPECT_EQ(log[c + 1067], " Compute rotation curve from force law (rrot,vrot)...");
    EXPECT_EQ(row_values(log[c + 1068]), std::make_pair(0.0, 0.0));
    EXPECT_EQ(row_values(log[c + 1069]).first, 5.0);
    EXPECT_EQ(row_values(log[c + 1070]).first, 10.0);
    EXPECT_GT(row_values(log[c + 1070]).second, 0.0);
  }
}

TEST(Profile, ExtentsBeyondAThousandPixelsWork) {
  // A long strip with the centre at its left end: more than 1000 bins and a spline of
  // more than 500 points.
  Image img(1200, 40);
  for (int y = 1; y <= 40; ++y)
    for (int x = 1; x <= 1200; ++x) img.at(x, y) = 100.0f + 1000.0f * std::exp(-std::hypot(x - 2, y - 20) / 300.0f);
  Page page("0\n");
  const float pa = 0.0f;
  const ProfileResult r = THEPROFILE(page.on(img, 90.0f, 1200.0f), 2, 20, 1150.0f, 1150.0f, 0.0f, pa, page.files());
  ASSERT_TRUE(r.done);
  EXPECT_GT(r.profile.nb(), 1000u);
  EXPECT_EQ(r.y2.size(), r.profile.nb());
  EXPECT_EQ(r.samples.x.size(), static_cast<std::size_t>(1150 / 0.2f + 1.5f));
  EXPECT_EQ(r.curve.rrot.size(), 2u);
  for (float v : r.profile.prof) EXPECT_TRUE(std::isfinite(v));
}

TEST(Profile, MagnitudeScaleSkipsBlanksLogsNothingAndFinishesWithItsOwnLine) {
  Image img(81, 81);
  for (int y = 1; y <= 81; ++y)
    for (int x = 1; x <= 81; ++x) img.at(x, y) = 18.0f + static_cast<float>(std::hypot(x - 41, y - 41)) / 10.0f;
  for (int x = 45; x <= 60; ++x) img.at(x, 41) = -99999.0f;  // a blank streak
  Page page("");
  const float pa = 10.0f;
  const ProfileResult r = MAGPROFILE(page.on(img, 18.0f, 25.0f), 41, 41, 20.0f, 1.0f, 0.0f, pa);
  ASSERT_TRUE(r.done);
  EXPECT_FALSE(page.logged());
  EXPECT_EQ(r.scan.ymin, 18.0f);
  ASSERT_EQ(r.profile.nb(), 20u);
  for (std::size_t k = 1; k < r.profile.nb(); ++k)
    EXPECT_NEAR(r.profile.prof[k], 18.0f + r.profile.rprof[k] / 10.0f, 0.05f);
  EXPECT_TRUE(r.curve.rrot.empty());
  EXPECT_EQ(page.out.str(),
            " Fitting a spline curve to the binned radial profile...\n"
            " Plotting the spline over the data...\n"
            " Finished with the magnitude profile!\n\n");
}

TEST(Profile, FewerThanTwoBinsGiveNoSplineButTheRunFinishes) {
  Image img(21, 21, 700.0f);
  Page page("0\n");
  const float pa = 0.0f;
  const ProfileResult r = THEPROFILE(page.on(img, 600.0f, 800.0f), 11, 11, 1.0f, 1.0f, 0.0f, pa, page.files());
  ASSERT_TRUE(r.done);
  EXPECT_EQ(r.profile.nb(), 1u);
  EXPECT_TRUE(r.y2.empty());
  EXPECT_THAT(page.out.str(), HasSubstr(" " + std::string(kTooFewBins) + "\n Finished!\n"));
  EXPECT_THAT(page.out.str(), Not(HasSubstr(std::string(kRotationSlow))));
}

// After the sky has been subtracted half the sky pixels are negative: the sky and the faint
// outer profile must come from all of them.
TEST(Profile, ASkyNearZeroIsMeasuredFromEveryPixelAndTheOuterProfileFollowsTheTruth) {
  DiscModel d;
  d.nx = d.ny = 241;
  d.xc = d.yc = 121;
  d.central = 400.0;
  d.scale = 6.0;
  d.sky = 0.0;
  d.noise = 3.0;
  Image img = disc_image(d);
  Page page("0\n");
  const float pa = 0.0f;
  const float R = 50.0f;
  const ProfileResult r = THEPROFILE(page.on(img, -10.0f, 50.0f), 121, 121, R, 10.0f, 0.0f, pa, page.files());
  ASSERT_TRUE(r.done);
  EXPECT_NEAR(r.sky, d.sky, 0.1 * d.noise);
  EXPECT_LT(r.scan.ymin, -3.0 * d.noise);  // the extremes see the negative pixels too
  ASSERT_EQ(r.profile.nb(), 50u);
  std::vector<double> sum(50, 0.0);
  std::vector<int> n(50, 0);
  for (int y = 2; y < d.ny; ++y)
    for (int x = 2; x < d.nx; ++x) {
      const double rho = disc_radius(x - d.xc, y - d.yc, d.e);
      if (rho >= R) continue;
      sum[static_cast<std::size_t>(rho)] += disc_value(d, x - d.xc, y - d.yc);
      ++n[static_cast<std::size_t>(rho)];
    }
  // From 3 scale lengths out the disc fades from 20 to 0.1 counts, under the sky noise.
  for (std::size_t k = 18; k < r.profile.nb(); ++k) {
    const double want = sum[k] / n[k];
    EXPECT_NEAR(r.profile.prof[k], want, 4.0 * d.noise / std::sqrt(n[k]) + 0.1 * d.noise) << "bin " << k + 1;
  }
}

// Values far beyond the histogram (a hot pixel of 1e11 in the sky, one inside the extent,
// a very negative one) are counted as pixels and never converted to a bin index.
TEST(Profile, HugePixelValuesStayOutOfTheHistogram) {
  Image img(81, 81, 100.0f);
  img.at(70, 41) = 1e11f;
  img.at(12, 41) = -1e11f;
  img.at(45, 41) = 1e11f;
  Page page("0\n");
  const float pa = 0.0f;
  const ProfileResult r = THEPROFILE(page.on(img, 0.0f, 200.0f), 41, 41, 15.0f, 5.0f, 0.0f, pa, page.files());
  ASSERT_TRUE(r.done);
  float histogrammed = 0.0f;
  for (float c : r.scan.skypr) histogrammed += c;
  EXPECT_EQ(histogrammed, static_cast<float>(r.scan.iskycnt - 2));
  EXPECT_EQ(r.histogram.kmax, sky_bin_index(100.0f));
  EXPECT_EQ(r.scan.ymax, 1e11f);
}

TEST(Spline, EqualAbscissaeShowTheAlarmAndWaitForOneLine) {
  const std::vector<float> x{0.0f, 1.0f, 1.0f}, y{0.0f, 2.0f, 4.0f};
  const auto y2 = SPLINE(x, y, 1e30f, 1e30f);
  std::istringstream in("\nnext\n");
  std::ostringstream out;
  Console con(in, out);
  EXPECT_EQ(SPLINT(x, y, y2, 1.5f, splint_alarm(con)), 3.0f);
  EXPECT_EQ(out.str(), " Bad xa input in splint!\n Hit <ENTER> to continue...\n");
  EXPECT_EQ(con.read_line(), "next");  // exactly one line was taken
}
