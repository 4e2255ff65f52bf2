// The FWHM of a star under the cursor, on synthetic Gaussian and Moffat stars of known width.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "photometry/star_width.h"

namespace zelvo {
namespace {

struct Star {
  const char* name;
  StarModel model;
  double fwhm;   // pixels
  double beta;   // Moffat only
  double noise;  // sigma of the Gaussian noise added to a sky of 1000
};

// A 101 x 101 sky of 1000 with one star of peak 5000 at (50.3, 51.6), each pixel the profile
// at its centre.
Image star_image(const Star& s, unsigned seed = 3) {
  Image img(101, 101);
  std::mt19937 gen(seed);
  std::normal_distribution<double> noise(0.0, 1.0);
  const double x0 = 50.3, y0 = 51.6, peak = 5000.0;
  const double sigma = s.fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
  const double alpha = s.fwhm / (2.0 * std::sqrt(std::pow(2.0, 1.0 / s.beta) - 1.0));
  for (int y = 1; y <= 101; ++y)
    for (int x = 1; x <= 101; ++x) {
      const double r2 = (x - x0) * (x - x0) + (y - y0) * (y - y0);
      const double star = s.model == StarModel::gaussian ? std::exp(-r2 / (2.0 * sigma * sigma))
                                                         : std::pow(1.0 + r2 / (alpha * alpha), -s.beta);
      img.at(x, y) = static_cast<float>(1000.0 + peak * star + s.noise * noise(gen));
    }
  return img;
}

class StarWidthTable : public ::testing::TestWithParam<Star> {};

TEST_P(StarWidthTable, TheFwhmIsMeasuredWithinFivePercentFromAClickNearTheStar) {
  const Star& s = GetParam();
  const Image img = star_image(s);
  for (const auto& [cx, cy] : {std::pair{50.0f, 52.0f}, std::pair{51.4f, 50.2f}}) {
    const StarWidth w = measure_star_width(img.view(), cx, cy);
    ASSERT_EQ(w.status, StarWidth::Status::fitted) << s.name;
    EXPECT_NEAR(w.fwhm, s.fwhm, 0.05 * s.fwhm) << s.name;
    EXPECT_NEAR(w.x, 50.3, 0.1);
    EXPECT_NEAR(w.y, 51.6, 0.1);
    EXPECT_NEAR(w.sky, 1000.0, 5.0 + 3.0 * s.noise);
    if (s.noise == 0.0) {
      EXPECT_EQ(w.model, s.model) << s.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Stars, StarWidthTable,
                         ::testing::Values(Star{"Gaussian2p5", StarModel::gaussian, 2.5, 0, 0},
                                           Star{"Gaussian4", StarModel::gaussian, 4.0, 0, 0},
                                           Star{"Gaussian8", StarModel::gaussian, 8.0, 0, 0},
                                           Star{"Gaussian12Noisy", StarModel::gaussian, 12.0, 0, 20},
                                           Star{"Moffat3Beta2p5", StarModel::moffat, 3.0, 2.5, 0},
                                           Star{"Moffat5Beta4", StarModel::moffat, 5.0, 4.0, 0},
                                           Star{"Moffat7Beta1p5", StarModel::moffat, 7.0, 1.5, 0},
                                           Star{"Moffat4Beta3Noisy", StarModel::moffat, 4.0, 3.0, 20}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StarWidth, AFlatNoisySkyHasNoStarAndOffImageClicksNone) {
  const Image sky = star_image(Star{"", StarModel::gaussian, 3.0, 0, 10}, 5);
  Image flat(101, 101);
  std::mt19937 gen(9);
  std::normal_distribution<double> noise(1000.0, 10.0);
  for (int y = 1; y <= 101; ++y)
    for (int x = 1; x <= 101; ++x) flat.at(x, y) = static_cast<float>(noise(gen));
  EXPECT_EQ(measure_star_width(flat.view(), 30.0f, 70.0f).status, StarWidth::Status::no_star);
  EXPECT_EQ(measure_star_width(sky.view(), -40.0f, 50.0f).status, StarWidth::Status::no_star);
  EXPECT_EQ(measure_star_width(sky.view(), NAN, 50.0f).status, StarWidth::Status::no_star);
}

TEST(BoxMedian, OddAndEvenCountsAndUndefinedPixels) {
  Image img(5, 5, 0.0f);
  for (int y = 1; y <= 5; ++y)
    for (int x = 1; x <= 5; ++x) img.at(x, y) = static_cast<float>(10 * y + x);
  EXPECT_FLOAT_EQ(box_median(img.view(), 3.2f, 2.8f, 1), 33.0f);  // 22..44 around pixel (3, 3)
  img.at(4, 4) = NAN;                                             // 8 values left: (32 + 33) / 2
  EXPECT_FLOAT_EQ(box_median(img.view(), 3.0f, 3.0f, 1), 32.5f);
  EXPECT_FLOAT_EQ(box_median(img.view(), 1.0f, 1.0f, 1), 16.5f);  // the corner: 11 12 21 22
}

}  // namespace
}  // namespace zelvo
