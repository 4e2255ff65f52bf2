// A saved frame tells its story: every edit of a scripted session leaves a HISTORY card, read
// back by astropy, and the range cards describe the pixels written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/astropy_wcs.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr double kStarX = 70.3, kStarY = 120.6;
constexpr int kHotX = 150;

std::string at(double x, double y) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f %.2f", x, y);
  return buf;
}

// Sky of 1000 with noise, one star and a hot column: what the session removes and repairs.
Image story_frame() {
  Image img(200, 200);
  std::mt19937 gen(7);
  std::normal_distribution<double> noise(0.0, 10.0);
  for (int y = 1; y <= 200; ++y)
    for (int x = 1; x <= 200; ++x) {
      const double r2 = (x - kStarX) * (x - kStarX) + (y - kStarY) * (y - kStarY);
      img.at(x, y) = static_cast<float>(1000.0 + noise(gen) + 30000.0 / (2 * M_PI * 4.0) * std::exp(-r2 / 8.0));
    }
  for (int y = 40; y <= 160; ++y) img.at(kHotX, y) = 20000.0f;
  return img;
}

// What astropy reads from the saved file: its HISTORY texts, the four range cards ("none"
// when absent) and the range of the data.
struct AstropyStory {
  std::vector<std::string> history;
  std::vector<std::pair<std::string, std::string>> range_cards;
  float data_min = NAN, data_max = NAN;
};

std::optional<AstropyStory> astropy_story(const ScratchFolder& dir, const std::string& name) {
  const std::string out = run_python(dir, R"PY(
import sys
import numpy as np
from astropy.io import fits
with fits.open(sys.argv[1]) as f:
    h = f[0].header
    for c in h.get('HISTORY', []):
        print('H', str(c))
    for k in ('DATAMIN', 'DATAMAX', 'IRAF-MIN', 'IRAF-MAX'):
        print('K', k, repr(float(h[k])) if k in h else 'none')
    print('R', repr(float(np.nanmin(f[0].data))), repr(float(np.nanmax(f[0].data))))
)PY",
                                     dir.file(name));
  if (out.empty()) return std::nullopt;
  AstropyStory s;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) {
    if (l.rfind("H ", 0) == 0) s.history.push_back(l.substr(2));
    if (l.rfind("K ", 0) == 0) {
      std::istringstream k(l.substr(2));
      std::string key, value;
      k >> key >> value;
      s.range_cards.emplace_back(key, value);
    }
    if (l.rfind("R ", 0) == 0) {
      std::istringstream r(l.substr(2));
      double lo = 0, hi = 0;
      r >> lo >> hi;
      s.data_min = static_cast<float>(lo);
      s.data_max = static_cast<float>(hi);
    }
  }
  return s;
}

}  // namespace

TEST(EditHistory, AWholeSessionIsToldByTheSavedHeader) {
  ScratchFolder dir;
  std::vector<std::string> cards = {card("DATAMIN", "0.0"), card("DATAMAX", "19936.0"), card("IRAF-MIN", "0.0"),
                                    card("IRAF-MAX", "19936.0")};
  cards.push_back(std::string("HISTORY flat-fielded at the telescope").append(43, ' '));
  dir.write_fits("frame.fits", story_frame(), cards);
  const auto run = run_session(dir, {"",
                                     "l",
                                     "frame.fits",
                                     "a",
                                     "+ 100",
                                     "r",
                                     "1",
                                     at(kStarX, kStarY),
                                     at(kStarX, kStarY),
                                     "12",
                                     "n",
                                     "6",
                                     at(kHotX, 100),
                                     at(kHotX, 100),
                                     "y",
                                     "n",
                                     "0",
                                     "c",
                                     at(100, 100),
                                     "11 190 21 180",
                                     "t",
                                     "a",
                                     "f",
                                     "b",
                                     "s",
                                     "story.fits",
                                     "",
                                     "q"});
  // A short name shows its unsaved changes too.
  EXPECT_THAT(run.out, HasSubstr("Active image slot = 1   frame.fits <modified>"));

  const auto story = astropy_story(dir, "story.fits");
  if (!story) GTEST_SKIP() << "python3 with astropy is not installed";
  const std::vector<std::string>& h = story->history;
  ASSERT_EQ(h.size(), 8u) << run.out;
  EXPECT_EQ(h[0], "flat-fielded at the telescope");
  EXPECT_EQ(h[1], "Zelvo A: every pixel + 100.0");
  std::smatch m;
  const std::string star = h[2];
  ASSERT_TRUE(std::regex_match(star, m, std::regex(R"(Zelvo R: star removed at \((\S+), (\S+)\), radius 12\.0)")))
      << star;
  EXPECT_NEAR(std::atof(m[1].str().c_str()), kStarX, 0.5);
  EXPECT_NEAR(std::atof(m[2].str().c_str()), kStarY, 0.5);
  EXPECT_EQ(h[3], "Zelvo R: bad column at x = 150 repaired");
  EXPECT_EQ(h[4], "Zelvo C: cropped to x 11..190, y 21..180 of the 200 x 200 image");
  EXPECT_EQ(h[5], "Zelvo T: rotated 90 degrees clockwise");
  EXPECT_EQ(h[6], "Zelvo F: reflected top to bottom");
  EXPECT_THAT(h[7], StartsWith("Zelvo wrote this file on "));

  // The range cards are those of the pixels written, to the last bit of a float.
  ASSERT_EQ(story->range_cards.size(), 4u);
  for (const auto& [key, value] : story->range_cards) {
    const bool low = key == "DATAMIN" || key == "IRAF-MIN";
    EXPECT_EQ(std::strtof(value.c_str(), nullptr), low ? story->data_min : story->data_max) << key;
  }
  EXPECT_LT(story->data_max, 19936.0f);  // the hot column is gone
}
