// Resampling an image area onto the cells of a drawing, against block means worked out by hand.
#include "numeric/resample.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <limits>
#include <vector>

using namespace zelvo;

namespace {

// A ramp image: pixel (i, j) = 100 i + j, so block means are known exactly.
Image ramp(int nx, int ny) {
  Image im(nx, ny);
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) im.at(i, j) = static_cast<float>(100 * i + j);
  return im;
}

struct ResampleCase {
  const char* what;
  int nx, ny;   // image
  int w, h;     // grid over the whole image (world 0.5 .. n + 0.5)
  int p, q;     // a cell
  double want;  // its value
};

class Resample : public ::testing::TestWithParam<ResampleCase> {};

TEST_P(Resample, EachCellHoldsTheMeanOfThePixelsCentredInIt) {
  const ResampleCase& c = GetParam();
  Image im = ramp(c.nx, c.ny);
  const ResampledArea r =
      resample_area(im.view(), Box{1, c.nx, 1, c.ny}, 0.0, 0.0, 0.5, c.nx + 0.5, 0.5, c.ny + 0.5, c.w, c.h, -1.0f);
  ASSERT_EQ(r.w, c.w);
  ASSERT_EQ(r.h, c.h);
  EXPECT_NEAR(r.px[static_cast<std::size_t>(c.q * c.w + c.p)], c.want, 1e-3) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cells, Resample,
                         ::testing::Values(
                             // 4 x 4 to 2 x 2: cell (0, 0) averages columns 1-2 and rows 1-2: 100 * 1.5 + 1.5.
                             ResampleCase{"2 x 2 blocks", 4, 4, 2, 2, 0, 0, 151.5},
                             ResampleCase{"2 x 2 blocks, last cell", 4, 4, 2, 2, 1, 1, 100 * 3.5 + 3.5},
                             // 9 x 6 to 3 x 2: blocks of 3 x 3; cell (2, 1) holds columns 7-9, rows 4-6.
                             ResampleCase{"3 x 3 blocks", 9, 6, 3, 2, 2, 1, 100 * 8.0 + 5.0},
                             // 3 x 1 to 6 x 2 (enlarged): cell 3 of 6 lies on pixel 2, both rows on row 1.
                             ResampleCase{"enlarged, nearest pixel", 3, 1, 6, 2, 3, 1, 201.0},
                             ResampleCase{"enlarged, first cell", 3, 1, 6, 2, 0, 0, 101.0},
                             // Same size: every cell is its own pixel.
                             ResampleCase{"one to one", 5, 4, 5, 4, 4, 3, 504.0}));

TEST(ResampleArea, UndefinedPixelsAreLeftOutAndAnAllUndefinedCellIsBlank) {
  Image im(4, 2, 10.0f);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  im.at(1, 1) = nan;                                            // cell 0 keeps the three others: 10
  im.at(2, 2) = 30.0f;                                          // ... and one of them is 30: mean (10 + 10 + 30) / 3
  im.at(3, 1) = im.at(4, 1) = im.at(3, 2) = im.at(4, 2) = nan;  // cell 1: nothing defined
  const ResampledArea r = resample_area(im.view(), Box{1, 4, 1, 2}, 0.0, 0.0, 0.5, 4.5, 0.5, 2.5, 2, 1, -7.0f);
  EXPECT_NEAR(r.px[0], 50.0f / 3.0f, 1e-4);
  EXPECT_EQ(r.px[1], -7.0f);
}

TEST(ResampleArea, OnlyTheRequestedColumnsAndRowsAreRead) {
  // Columns 3..4, rows 2..3 of a ramp, on a 2 x 2 grid: each cell is one pixel.
  Image im = ramp(6, 5);
  const ResampledArea r = resample_area(im.view(), Box{3, 4, 2, 3}, 0.0, 0.0, 2.5, 4.5, 1.5, 3.5, 2, 2, 0.0f);
  EXPECT_EQ(r.px, (std::vector<float>{302.0f, 402.0f, 303.0f, 403.0f}));
}

}  // namespace
