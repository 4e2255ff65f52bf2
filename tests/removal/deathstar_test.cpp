#include "removal/deathstar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "numeric/random.h"
#include "removal/edge.h"
#include "removal/removal_harness.h"
#include "removal/removal_texts.h"
#include "removal/wipe.h"
#include "support/removal_score.h"

namespace zelvo {
namespace {

namespace fs = std::filesystem;

constexpr double kPi = 3.14159265358979323846;

// A removal work state driven with the harness's console, generator and debug log.
struct Harness : testing::RemovalHarness {
  RemovalWork work;
  Harness() : RemovalHarness(-20010101) {}

  // r becomes the radius the removal used (the next removal grows it again).
  RemovalResult remove(Image& img, float xc, float yc, float& r, int extlogs = 0) {
    RemovalResult res = keep(DEATHSTAR(work, img.view(), xc, yc, r, ctx(extlogs)));
    r = res.radius;
    return res;
  }
  std::vector<std::string> log_lines() const {
    std::ifstream f(log_path);
    std::vector<std::string> l;
    for (std::string s; std::getline(f, s);) l.push_back(s);
    return l;
  }
  std::string log_text() const {
    std::ifstream f(log_path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
};

int count_prefix(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
  return n;
}

// Pixels that differ between two images.
int changed_pixels(const Image& a, const Image& b) {
  int n = 0;
  for (std::size_t i = 0; i < a.px.size(); ++i)
    n += !(a.px[i] == b.px[i] || (std::isnan(a.px[i]) && std::isnan(b.px[i])));
  return n;
}

// A sloped sky with Gaussian noise and a Gaussian star.
Image star_field(int nx, int ny, float xs, float ys, float sky_noise, unsigned seed = 5) {
  Image img(nx, ny);
  std::mt19937 gen(seed);
  std::normal_distribution<float> noise(0.0f, sky_noise);
  for (int y = 1; y <= ny; ++y) {
    for (int x = 1; x <= nx; ++x) {
      const float dx = x - xs, dy = y - ys;
      const float star = 5000.0f * std::exp(-(dx * dx + dy * dy) / (2.0f * 2.0f * 2.0f));
      img.at(x, y) = 1000.0f + 0.8f * x + 0.3f * y + star + (sky_noise > 0 ? noise(gen) : 0.0f);
    }
  }
  return img;
}

TEST(DeathStar, TheRadiusGrowsByOneAndTheRingIsTracedThere) {
  Harness h;
  Image img(100, 100, 100.0f);
  float r = 5.0f;
  const RemovalResult res = h.remove(img, 50.5f, 50.5f, r);
  EXPECT_TRUE(res.changed());
  EXPECT_EQ(r, 6.0f);
  RemovalWork ref;
  ASSERT_EQ(FINDEDGE(ref, 50.5f, 50.5f, 6.0f), EdgeStatus::ok);
  EXPECT_EQ(h.work.nRing, ref.nRing);
  EXPECT_EQ(h.work.TheRing.x, ref.TheRing.x);
  EXPECT_EQ(h.out.str().substr(0, h.out.str().find('\n')), " deathrad = 6.0 , xcen = 50.5 , ycen = 50.5");
}

TEST(DeathStar, AStarOnAFlatSkyIsReplacedByExactlyThatSky) {
  Harness h;
  Image img(100, 100, 250.0f);
  for (int y = 45; y <= 56; ++y)
    for (int x = 45; x <= 56; ++x)
      img.at(x, y) += 4000.0f / (1.0f + (x - 50.5f) * (x - 50.5f) + (y - 50.5f) * (y - 50.5f));
  float r = 9.0f;
  const RemovalResult res = h.remove(img, 50.5f, 50.5f, r);
  ASSERT_TRUE(res.changed());
  EXPECT_GT(res.mask_size, 250);
  EXPECT_EQ(img.px, std::vector<float>(10000, 250.0f));
  EXPECT_EQ(h.work.TheSigma, 0.0f);
}

TEST(DeathStar, ANoiselessPlaneIsPaintedExactlyAndNothingElseChanges) {
  Harness h;
  Image img = star_field(120, 120, 60.3f, 58.7f, 0.0f);
  const Image before = img;
  float r = 11.0f;
  ASSERT_TRUE(h.remove(img, 60.3f, 58.7f, r).changed());
  EXPECT_LT(h.work.surface.spread, 1e-3);  // the rounding of single-precision pixels
  int painted = 0;
  for (int y = 1; y <= 120; ++y)
    for (int x = 1; x <= 120; ++x) {
      if (h.work.TheMask.at(x, y) == 0.0f) {
        ASSERT_EQ(img.at(x, y), before.at(x, y)) << x << "," << y;
        continue;
      }
      ++painted;
      EXPECT_NEAR(img.at(x, y), 1000.0 + 0.8 * x + 0.3 * y, 1e-3) << x << "," << y;
    }
  EXPECT_GT(painted, 400);
}

TEST(DeathStar, AStarOnANoisySlopedSkyLeavesSkyLikePixels) {
  Harness h;
  const float noise = 10.0f;
  Image img = star_field(200, 200, 100.4f, 99.6f, noise);
  float r = 13.0f;
  ASSERT_TRUE(h.remove(img, 100.4f, 99.6f, r).changed());
  // Residual of the disc against the true sky, compared with the sky noise.
  double sum = 0.0, sum2 = 0.0;
  int n = 0;
  for (int y = 80; y <= 120; ++y) {
    for (int x = 80; x <= 120; ++x) {
      if (h.work.TheMask.at(x, y) == 0.0f) continue;
      const double d = img.at(x, y) - (1000.0 + 0.8 * x + 0.3 * y);
      sum += d;
      sum2 += d * d;
      ++n;
    }
  }
  const double mean = sum / n, spread = std::sqrt(sum2 / n - mean * mean);
  EXPECT_NEAR(mean, 0.0, 3.0 * noise / std::sqrt(40.0));  // ring points are far from independent
  EXPECT_GT(spread, 0.3 * noise);
  EXPECT_LT(spread, 1.5 * noise);
}

// A removal on a flat sky must not leave a smooth patch: the painted disc has the sky's
// noise, whatever its level.
class DeathStarFlatField : public ::testing::TestWithParam<float> {};

TEST_P(DeathStarFlatField, TheDiscCarriesTheSkysNoise) {
  const float noise = GetParam();
  Image img(200, 200);
  std::mt19937 gen(17);
  std::normal_distribution<float> gauss(0.0f, noise);
  for (float& v : img.px) v = 1000.0f + gauss(gen);
  Harness h;
  float r = 15.0f;
  ASSERT_TRUE(h.remove(img, 100.3f, 99.7f, r).changed());
  double sum = 0.0, sum2 = 0.0;
  int n = 0;
  for (int y = 80; y <= 120; ++y)
    for (int x = 80; x <= 120; ++x) {
      if (h.work.TheMask.at(x, y) == 0.0f) continue;
      sum += img.at(x, y);
      sum2 += static_cast<double>(img.at(x, y)) * img.at(x, y);
      ++n;
    }
  ASSERT_GT(n, 600);
  const double mean = sum / n, spread = std::sqrt(sum2 / n - mean * mean);
  EXPECT_NEAR(spread, noise, 0.15 * noise);
}

INSTANTIATE_TEST_SUITE_P(Noise, DeathStarFlatField, ::testing::Values(3.0f, 10.0f, 40.0f));

TEST(DeathStar, TheDebugLogGetsOneBlockPerCallWithoutTablesWhenExtendedLogsAreOff) {
  Harness h;
  Image img = star_field(100, 100, 50.5f, 50.5f, 3.0f);
  float r = 9.0f;
  ASSERT_TRUE(h.remove(img, 50.5f, 50.5f, r).changed());
  ASSERT_TRUE(h.remove(img, 30.5f, 60.5f, r).changed());
  const auto l = h.log_lines();
  const std::vector<std::string> head{
      "",
      " If you are certain this program does not work or produces ",
      " garbage, set extended logs on in Zelvo.ini, run the program ",
      " at least once, and send this file to zelvo-support@zelvo.example.org",
      " The star centre = 50.5 50.5 and radius = 10.0",
      " Finished FindEdge",
      " Finished MaskCircle",
  };
  ASSERT_GT(l.size(), head.size());
  EXPECT_EQ(std::vector(l.begin(), l.begin() + 7), head);
  EXPECT_EQ(l[7].rfind(" sum(TheMask) = ", 0), 0u);
  EXPECT_EQ(l[8].rfind(" phase = ", 0), 0u);
  EXPECT_EQ(count_prefix(l, " If you are certain"), 2);
  EXPECT_EQ(count_prefix(l, " The star centre = 30.5 60.5 and radius = 11.0"), 1);
  EXPECT_EQ(count_prefix(l, " ClipSigma masked off "), 2);
  EXPECT_EQ(count_prefix(l, " MinBack = "), 2);
  EXPECT_EQ(count_prefix(l, " count, "), 0);
  EXPECT_EQ(count_prefix(l, " Trashed "), 0);
  EXPECT_EQ(count_prefix(l, " dista, fii, isoD = "), 0);
  EXPECT_EQ(count_prefix(l, " TheRing ("), 0);
  EXPECT_EQ(count_prefix(l, " Background surface: order"), 2);
  EXPECT_EQ(count_prefix(l, " Background surface at the centre ="), 2);
  // Each block: 7 fixed lines, sum, phase, 5 ClipSigma lines, the saddle test, the branch,
  // the fit line of a simple gradient, the three model lines and the two surface lines.
  const int simple = count_prefix(l, " Simple (or no) gradient!!!");
  EXPECT_EQ(simple + count_prefix(l, " Saddle Gradient!!!"), 2);
  EXPECT_EQ(static_cast<int>(l.size()), 2 * 21 + simple);
}

TEST(DeathStar, ExtendedLogsAddTheRingTableAndThePerPointAndPerPixelLines) {
  Harness h;
  Image img = star_field(100, 100, 50.5f, 50.5f, 3.0f);
  float r = 9.0f;
  const RemovalResult res = h.remove(img, 50.5f, 50.5f, r, 1);
  ASSERT_TRUE(res.changed());
  const auto l = h.log_lines();
  const int n = h.work.nRing;
  EXPECT_EQ(count_prefix(l, " count, auxxmin, auxxmax, auxymin, auxymax, sum1, avg1 = "), 3 * n);
  EXPECT_EQ(count_prefix(l, " Trashed "), 3 * n);
  EXPECT_EQ(count_prefix(l, " dista, fii, isoD = "), res.mask_size);
  std::size_t t = 0;
  while (t < l.size() && l[t] != " TheRing (x, y, background value, background sigma): ") ++t;
  ASSERT_LT(t + n, l.size());
  EXPECT_EQ(l[t - 1].rfind(" sum(TheMask) = ", 0), 0u);
  std::istringstream first(l[t + 1]);
  float x = 0, y = 0, b = 0, s = 0;
  first >> x >> y >> b >> s;
  EXPECT_EQ(x, h.work.TheRing.x[0]);
  EXPECT_EQ(y, h.work.TheRing.y[0]);
  EXPECT_NEAR(b, 1000.0 + 0.8 * x + 0.3 * y, 5.0);
  EXPECT_EQ(l[t + n + 1].rfind(" phase = ", 0), 0u);
}

TEST(DeathStar, ARingWithAGapAtItsRadiusIsTracedAHairOffAndSaidSo) {
  Harness h;
  Image img = star_field(100, 100, 70.5f, 70.5f, 2.0f);
  float r = 3.0f;  // traced at 4, where the walk around (30.99, 40.498) gets stuck
  const RemovalResult res = h.remove(img, 30.99f, 40.498f, r);
  EXPECT_TRUE(res.changed());
  EXPECT_EQ(r, 4.0f);
  EXPECT_NE(h.out.str().find(" The ring could not be traced at radius 4.0 ; it was traced at radius"),
            std::string::npos);
  EXPECT_NE(h.out.str().find(" instead."), std::string::npos);
}

TEST(DeathStar, AFailedRemovalLeavesTheImageAndTheUndoStoreOfThePreviousOne) {
  Harness h;
  Image img = star_field(100, 100, 70.5f, 70.5f, 2.0f);
  float r1 = 8.0f;
  ASSERT_TRUE(h.remove(img, 70.5f, 70.5f, r1).changed());
  const Image after_first = img;
  float r = 5.0f;
  const RemovalResult res = h.remove(img, -500.0f, 45.0f, r);  // the disc misses the image
  EXPECT_FALSE(res.changed());
  EXPECT_EQ(img.px, after_first.px);
  ASSERT_TRUE(UNWIPE(h.work, img.view()));
  EXPECT_EQ(img.px, star_field(100, 100, 70.5f, 70.5f, 2.0f).px);
}

TEST(DeathStar, TwoRemovalsThenUndoRestoreOnlyTheSecond) {
  Harness h;
  Image img = star_field(120, 120, 40.5f, 40.5f, 4.0f);
  const Image original = img;
  float r = 8.0f;
  ASSERT_TRUE(h.remove(img, 40.5f, 40.5f, r).changed());
  const Image after_first = img;
  ASSERT_TRUE(h.remove(img, 80.5f, 75.5f, r).changed());
  EXPECT_GT(changed_pixels(img, after_first), 100);
  ASSERT_TRUE(UNWIPE(h.work, img.view()));
  EXPECT_EQ(img.px, after_first.px);
  EXPECT_GT(changed_pixels(img, original), 100);
}

TEST(DeathStar, DiscsCrossingTheBorderNeverTouchPixelsOutsideTheImage) {
  Harness h;
  const int nx = 60, ny = 50;
  for (const auto& [xc, yc] :
       std::vector<std::pair<float, float>>{{2.0f, 25.0f}, {58.7f, 48.2f}, {30.0f, 1.0f}, {1.0f, 1.0f}}) {
    // The image lives inside a larger buffer; the margins must keep their sentinel.
    std::vector<float> buf(static_cast<std::size_t>(nx * ny + 4 * nx), -123.0f);
    ImageView v{buf.data() + 2 * nx, nx, ny};
    for (int y = 1; y <= ny; ++y)
      for (int x = 1; x <= nx; ++x) v.at(x, y) = 500.0f + 0.2f * x;
    float r = 9.0f;
    const RemovalResult res = h.keep(DEATHSTAR(h.work, v, xc, yc, r, h.ctx(1)));
    for (int i = 0; i < 2 * nx; ++i) {
      ASSERT_EQ(buf[static_cast<std::size_t>(i)], -123.0f);
      ASSERT_EQ(buf[buf.size() - 1 - static_cast<std::size_t>(i)], -123.0f);
    }
    if (res.changed()) {
      for (int y = 1; y <= ny; ++y)
        for (int x = 1; x <= nx; ++x) EXPECT_TRUE(std::isfinite(v.at(x, y)));
    }
  }
  EXPECT_EQ(h.log_text().find("NaN"), std::string::npos);
}

TEST(DeathStar, NaNPixelsNearTheStarAreIgnoredAndComeBackOnUndo) {
  Harness h;
  Image img = star_field(100, 100, 50.5f, 50.5f, 3.0f);
  img.at(50, 63) = NAN;  // in the sampling area just outside the ring
  img.at(38, 50) = NAN;
  img.at(52, 52) = NAN;  // inside the disc
  const Image before = img;
  float r = 10.0f;
  ASSERT_TRUE(h.remove(img, 50.5f, 50.5f, r).changed());
  for (int y = 40; y <= 61; ++y)
    for (int x = 40; x <= 61; ++x)
      if (h.work.TheMask.at(x, y) != 0.0f) {
        EXPECT_TRUE(std::isfinite(img.at(x, y))) << x << "," << y;
      }
  ASSERT_TRUE(UNWIPE(h.work, img.view()));
  EXPECT_EQ(changed_pixels(img, before), 0);
}

TEST(DeathStar, WorkArraysFollowTheImageSize) {
  Harness h;
  Image a = star_field(64, 64, 32.5f, 32.5f, 2.0f);
  float r = 6.0f;
  ASSERT_TRUE(h.remove(a, 32.5f, 32.5f, r).changed());
  Image b = star_field(100, 80, 70.5f, 60.5f, 2.0f);
  const Image b_before = b;
  r = 6.0f;
  ASSERT_TRUE(h.remove(b, 70.5f, 60.5f, r).changed());
  EXPECT_EQ(h.work.TheMask.nx, 100);
  EXPECT_EQ(h.work.TheMask.ny, 80);
  EXPECT_EQ(h.work.TheAux.nx, 100);
  EXPECT_EQ(h.work.NX, 100);
  EXPECT_EQ(h.work.NY, 80);
  EXPECT_FALSE(UNWIPE(h.work, a.view()));
  ASSERT_TRUE(UNWIPE(h.work, b.view()));
  EXPECT_EQ(b.px, b_before.px);
}

TEST(DeathStar, NoMeasurableBackgroundStopsWithTheImageUntouched) {
  Harness h;
  Image img(80, 80, 0.0f);  // samples must exceed 0.01
  img.at(40, 40) = 800.0f;
  const Image before = img;
  float r = 7.0f;
  const RemovalResult res = h.remove(img, 40.5f, 40.5f, r);
  EXPECT_EQ(res.status, RemovalStatus::no_background);
  EXPECT_EQ(img.px, before.px);
  EXPECT_NE(h.out.str().find(std::string(kNoBackgroundText)), std::string::npos);
  EXPECT_FALSE(UNWIPE(h.work, img.view()));
  EXPECT_EQ(h.work.TheMask.px, std::vector<float>(6400, 0.0f));
}

TEST(DeathStar, NonsenseCentresAndRadiiAreRefused) {
  Harness h;
  Image img(50, 40, 10.0f);
  const Image before = img;
  float r = -3.0f;
  EXPECT_EQ(h.remove(img, 20.0f, 20.0f, r).status, RemovalStatus::bad_radius);
  r = NAN;
  EXPECT_EQ(h.remove(img, 20.0f, 20.0f, r).status, RemovalStatus::bad_radius);
  r = 1.0e9f;
  EXPECT_EQ(h.remove(img, 20.0f, 20.0f, r).status, RemovalStatus::bad_radius);
  r = 5.0f;
  EXPECT_EQ(h.remove(img, 200.0f, 20.0f, r).status, RemovalStatus::outside);
  r = 5.0f;
  EXPECT_EQ(h.remove(img, 20.0f, NAN, r).status, RemovalStatus::outside);
  Image empty;
  r = 5.0f;
  EXPECT_EQ(h.remove(empty, 20.0f, 20.0f, r).status, RemovalStatus::no_image);
  EXPECT_EQ(img.px, before.px);
  EXPECT_NE(h.out.str().find(std::string(kBadRadiusText)), std::string::npos);
  EXPECT_NE(h.out.str().find(std::string(kOutsideText)), std::string::npos);
  EXPECT_NE(h.out.str().find(std::string(kNoImageText)), std::string::npos);
}

// An exact plane of 10 counts per pixel rising towards the angle (degrees from +x), sky
// noise 8 and a Moffat star; removed at radius 10, the disc must hold that plane: mean
// residual within 0.15 sigma, slope within 5 %, noise 0.85 .. 1.15 of the sky's, nothing
// outside the disc changed, and the undo gives back the frame exactly.
class DeathStarOnAPlane : public ::testing::TestWithParam<double> {};

TEST_P(DeathStarOnAPlane, PaintsThePlaneWithTheSkysNoise) {
  const double a = GetParam() * kPi / 180.0, gx = 10.0 * std::cos(a), gy = 10.0 * std::sin(a);
  const double xs = 100.3, ys = 99.6, noise = 8.0;
  const auto plane = [&](int x, int y) { return 3000.0 + gx * (x - 100) + gy * (y - 100); };
  Image img(200, 200);
  std::mt19937 gen(static_cast<unsigned>(GetParam()) + 3u);
  std::normal_distribution<double> gauss(0.0, noise);
  for (int y = 1; y <= 200; ++y)
    for (int x = 1; x <= 200; ++x)
      img.at(x, y) =
          static_cast<float>(plane(x, y) + test_images::moffat(10000.0, std::hypot(x - xs, y - ys)) + gauss(gen));
  const Image before = img;
  Harness h;
  float r = 9.0f;
  ASSERT_TRUE(h.remove(img, static_cast<float>(xs), static_cast<float>(ys), r).changed());
  ASSERT_EQ(r, 10.0f);
  // Least-squares plane through the painted pixels, about the star's centre.
  double s1 = 0, su = 0, sv = 0, suu = 0, svv = 0, suv = 0, sz = 0, suz = 0, svz = 0, sres = 0;
  std::vector<std::array<double, 3>> painted;
  for (int y = 1; y <= 200; ++y)
    for (int x = 1; x <= 200; ++x) {
      if (h.work.TheMask.at(x, y) == 0.0f) {
        ASSERT_EQ(img.at(x, y), before.at(x, y)) << x << "," << y;
        continue;
      }
      const double u = x - xs, v = y - ys, z = img.at(x, y);
      painted.push_back({u, v, z});
      s1 += 1;
      su += u;
      sv += v;
      suu += u * u;
      svv += v * v;
      suv += u * v;
      sz += z;
      suz += u * z;
      svz += v * z;
      sres += z - plane(x, y);
    }
  ASSERT_GT(s1, 300);
  const double mu = su / s1, mv = sv / s1, mz = sz / s1;
  const double cuu = suu / s1 - mu * mu, cvv = svv / s1 - mv * mv, cuv = suv / s1 - mu * mv;
  const double cuz = suz / s1 - mu * mz, cvz = svz / s1 - mv * mz, det = cuu * cvv - cuv * cuv;
  const double pu = (cuz * cvv - cvz * cuv) / det, pv = (cvz * cuu - cuz * cuv) / det;
  EXPECT_LE(std::abs(sres / s1), 0.15 * noise);
  EXPECT_LE(std::hypot(pu - gx, pv - gy), 0.05 * 10.0) << "painted slope " << pu << ", " << pv;
  double q = 0;
  for (const auto& p : painted) {
    const double d = p[2] - (mz + pu * (p[0] - mu) + pv * (p[1] - mv));
    q += d * d;
  }
  const double spread = std::sqrt(q / (s1 - 3));
  EXPECT_GE(spread, 0.85 * noise);
  EXPECT_LE(spread, 1.15 * noise);
  ASSERT_TRUE(UNWIPE(h.work, img.view()));
  EXPECT_EQ(changed_pixels(img, before), 0);
}

INSTANTIATE_TEST_SUITE_P(Directions, DeathStarOnAPlane, ::testing::Values(0.0, 37.0, 90.0, 145.0, 210.0, 300.0));

// A disc smaller than its star leaves bright wings in the annulus: a curved surface through
// them must not climb across the disc above what the annulus holds.
TEST(DeathStar, ASurfaceThroughBrightWingsStaysWithinTheAnnulusLevels) {
  Image img(100, 100);
  std::mt19937 gen(4);
  std::normal_distribution<double> gauss(0.0, 8.0);
  for (int y = 1; y <= 100; ++y)
    for (int x = 1; x <= 100; ++x)
      img.at(x, y) =
          static_cast<float>(1000.0 + test_images::moffat(2.0e6, std::hypot(x - 50.2, y - 49.7)) + gauss(gen));
  const Image before = img;
  Harness h;
  float r = 5.0f;
  ASSERT_TRUE(h.remove(img, 50.2f, 49.7f, r).changed());
  double annulus_top = 0.0;
  for (int y = 1; y <= 100; ++y)
    for (int x = 1; x <= 100; ++x) {
      const double d = std::hypot(x - 50.2, y - 49.7);
      if (d > r + 1.0 && d <= r + 7.0) annulus_top = std::max(annulus_top, static_cast<double>(before.at(x, y)));
    }
  for (int y = 1; y <= 100; ++y)
    for (int x = 1; x <= 100; ++x)
      if (h.work.TheMask.at(x, y) != 0.0f) {
        EXPECT_LT(img.at(x, y), annulus_top + 6.0 * 8.0) << x << "," << y;
      }
}

// Stars on a galaxy (an exponential disc with arms and a bulge) and off it, removed at their
// wing radii: the discs hold the galaxy's light within the targets, and the same seed paints
// the same pixels while another seed paints others.
TEST(DeathStar, StarsOnAGalaxyAreReplacedByTheGalaxy) {
  const test_images::GalaxyFrame f = test_images::removal_galaxy_frame();
  const auto remove_all = [&](int32_t seed) {
    Harness h;
    h.seed = seed;
    Image img = f.image;
    for (const auto& s : f.stars) {
      float r = static_cast<float>(s.wing_radius) - 1.0f;
      EXPECT_TRUE(h.remove(img, static_cast<float>(s.x), static_cast<float>(s.y), r).changed());
    }
    return img;
  };
  const Image a = remove_all(-99), b = remove_all(-99), c = remove_all(-100);
  EXPECT_EQ(a.px, b.px);
  EXPECT_GT(changed_pixels(a, c), 1000);
  for (const Image* im : {&a, &c}) {
    const test_images::RemovalScore sc = test_images::score_removal(f, *im);
    EXPECT_LE(sc.bias_on, 0.35);
    EXPECT_LE(sc.bias_off, 0.1);
    EXPECT_GE(sc.noise_ratio, 0.85);
    EXPECT_LE(sc.noise_ratio, 1.15);
    EXPECT_EQ(sc.changed_outside, 0);
  }
}

}  // namespace
}  // namespace zelvo
