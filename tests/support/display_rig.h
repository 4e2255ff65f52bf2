// Shared by the display tests: a console and graphics device on strings, open level limits,
// padded header texts and a checkerboard field whose statistics are exact in 32 bits.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "display/display.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"

namespace zelvo::display_rig {

constexpr float kNoLow = -1.0e30f, kNoHigh = 1.0e30f;

inline void expect_close(double actual, double expected, double rel = 1e-5, double abs = 1e-5) {
  EXPECT_LE(std::fabs(actual - expected), abs + rel * std::fabs(expected)) << actual << " vs " << expected;
}

// A Console on string streams and a Graphics on a chosen device (default /null).
struct Rig {
  explicit Rig(const std::string& input = "", const std::string& device = "/null") : in(input), con(in, out), gfx(con) {
    EXPECT_TRUE(gfx.open(device));
  }
  std::istringstream in;
  std::ostringstream out;
  Console con;
  Graphics gfx;
};

inline HeaderTexts padded(const std::string& st, const std::string& ra, const std::string& dec,
                          const std::string& filter) {
  return HeaderTexts{pad_right(st, 15), pad_right(ra, 15), pad_right(dec, 15), pad_right(filter, 15)};
}

inline DisplayState open_limits(char scaling = 'n') {
  DisplayState st;
  st.scaling = scaling;
  st.minlim = kNoLow;
  st.maxlim = kNoHigh;
  return st;
}

// 100 x 100: a checkerboard of 12 and 8 ((i + j) even is 12), with 100 at (1, 1) and -20
// at (100, 100). Every partial sum is an integer below 2^24, so the 32-bit sum is exact.
inline Image checker_field() {
  Image im(100, 100);
  for (int j = 1; j <= 100; ++j)
    for (int i = 1; i <= 100; ++i) im.at(i, j) = (i + j) % 2 == 0 ? 12.0f : 8.0f;
  im.at(1, 1) = 100.0f;
  im.at(100, 100) = -20.0f;
  return im;
}

}  // namespace zelvo::display_rig
