// Colour and calibrated images: the worked values and blank pixels.
#include <gtest/gtest.h>

#include <cmath>

#include "galaxy/colour.h"

using namespace zelvo;

TEST(ColourPixel, WorkedValues) {
  ColourCoefficients k;
  k.my = 1.0f;
  EXPECT_FLOAT_EQ(colour_pixel(100.0f, 1000.0f, k), 2.5f);
  k.lambda = 0.1f;
  k.airmass = 2.0f;
  EXPECT_FLOAT_EQ(colour_pixel(100.0f, 1000.0f, k), 2.7f);
  EXPECT_EQ(colour_pixel(0.0f, 1000.0f, k), kBlankPixel);
  EXPECT_EQ(colour_pixel(100.0f, 0.0f, k), kBlankPixel);
  EXPECT_EQ(colour_pixel(-5.0f, 1000.0f, k), kBlankPixel);
}

TEST(CalibratedPixel, WorkedValues) {
  CalibrationCoefficients k;
  EXPECT_FLOAT_EQ(calibrated_pixel(100.0f, 1.0f, 1.0f, k), -5.0f);
  k.scale = 0.5f;
  EXPECT_NEAR(calibrated_pixel(100.0f, 1.0f, 1.0f, k), -2.5 * std::log10(400.0), 1e-5);
  EXPECT_NEAR(calibrated_pixel(100.0f, 1.0f, 1.0f, k), -6.505f, 1e-3f);
  k = {};
  k.alpha = 20.0f;
  k.beta = 0.1f;
  k.gamma = -0.05f;
  k.airmass = 1.5f;
  k.dz = 0.3f;
  EXPECT_NEAR(calibrated_pixel(1000.0f, 2.0f, 10.0f, k), -2.5f * 2.0f + 0.2f - 0.075f + 20.0f + 0.3f, 1e-5f);
  EXPECT_EQ(calibrated_pixel(100.0f, kBlankPixel, 1.0f, k), kBlankPixel);
  EXPECT_EQ(calibrated_pixel(100.0f, 0.0f, 1.0f, k), kBlankPixel);
  EXPECT_EQ(calibrated_pixel(0.0f, 1.0f, 1.0f, k), kBlankPixel);
  // A negative exposure time gives no logarithm: blank, not NaN.
  EXPECT_EQ(calibrated_pixel(100.0f, 1.0f, -1.0f, k), kBlankPixel);
}
