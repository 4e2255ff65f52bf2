// The pixel grids of the C, T and F edits against where each pixel must land.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "geometry/image_edits.h"
#include "support/coded_image.h"

using namespace zelvo;
using zelvo::testing::coded_image;

TEST(RotatedImage, OnePassEqualsTurningThatOften) {
  Image img(3, 2);
  for (std::size_t k = 0; k < img.px.size(); ++k) img.px[k] = static_cast<float>(k + 1);
  Image turned = img;
  for (int turns = 1; turns <= 4; ++turns) {
    ROTATEIMAGE(turned);
    const Image once = rotated_image(img, turns);
    EXPECT_EQ(once.nx, turned.nx);
    EXPECT_EQ(once.px, turned.px) << turns << " turns";
  }
}

TEST(ImageEdits, EveryPixelLandsWhereTheEditSendsIt) {
  const int n = 5, m = 3;
  const Image old = coded_image(n, m);
  struct Case {
    const char* edit;
    std::function<Image()> make;
    int nx, ny;
    std::function<float(int, int)> source;  // the old value at new pixel (x, y)
  };
  const Case cases[] = {
      {"a quarter turn back", [&] { return rotated_image(old, -1); }, m, n,
       [&](int x, int y) { return old.at(y, m + 1 - x); }},
      {"five quarter turns", [&] { return rotated_image(old, 5); }, m, n,
       [&](int x, int y) { return old.at(n + 1 - y, x); }},
      {"mirror left to right",
       [&] {
         Image i = old;
         reflect_image(i, 'a');
         return i;
       },
       n, m, [&](int x, int y) { return old.at(n + 1 - x, y); }},
      {"mirror top to bottom",
       [&] {
         Image i = old;
         reflect_image(i, 'B');
         return i;
       },
       n, m, [&](int x, int y) { return old.at(x, m + 1 - y); }},
      {"another choice",
       [&] {
         Image i = old;
         reflect_image(i, 'c');
         return i;
       },
       n, m, [&](int x, int y) { return old.at(x, y); }},
      {"crop 2..4 x 2..3",
       [&] {
         return *crop_image(old, Box{2, 4, 2, 3});
       },
       3, 2, [&](int x, int y) { return old.at(x + 1, y + 1); }},
  };
  for (const Case& c : cases) {
    const Image r = c.make();
    ASSERT_EQ(r.nx, c.nx) << c.edit;
    ASSERT_EQ(r.ny, c.ny) << c.edit;
    for (int y = 1; y <= r.ny; ++y)
      for (int x = 1; x <= r.nx; ++x) EXPECT_EQ(r.at(x, y), c.source(x, y)) << c.edit << " at " << x << "," << y;
  }
}

TEST(ImageEdits, CropLimitsOutsideReversedOrEmptyGiveNothing) {
  const Image img = coded_image(10, 8);
  struct Limits {
    int x1, x2, y1, y2;
  };
  for (const Limits& l : {Limits{0, 5, 1, 5}, Limits{1, 11, 1, 5}, Limits{1, 5, 0, 5}, Limits{1, 5, 1, 9},
                          Limits{6, 5, 1, 5}, Limits{1, 5, 5, 4}, Limits{2147483647, -2147483647, 1, 1}})
    EXPECT_FALSE(crop_image(img, Box{l.x1, l.x2, l.y1, l.y2})) << l.x1 << " " << l.x2 << " " << l.y1 << " " << l.y2;
  EXPECT_TRUE(crop_image(img, Box{1, 10, 1, 8}));
  EXPECT_TRUE(crop_image(img, Box{10, 10, 8, 8}));
}
