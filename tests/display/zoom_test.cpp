#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "display/zoom.h"
#include "support/box_reference.h"
#include "support/session_harness.h"

using namespace zelvo;
using zelvo::testing::Reference;
using zelvo::testing::reference;
using zelvo::testing::tol;

namespace {

// A 500 x 400 sky near 1000 with noise and stars, the brightest at (350, 240).
Image star_field() { return zelvo::testing::small_field(500, 400, 7); }

}  // namespace

// ---------------------------------------------------------------- zoom box geometry

TEST(ZoomBox, SizesAreRaisedToFiftyAndLoweredToTheImage) {
  const struct {
    int w, h, want_w, want_h;
  } cases[] = {{30, 2000, 50, 400}, {50, 50, 50, 50}, {49, 51, 50, 51}, {600, 600, 500, 400}, {-5, 0, 50, 50}};
  for (const auto& c : cases) {
    ZoomBox z{c.w, c.h, 0, 0};
    clamp_zoom_size(z, 500, 400);
    EXPECT_EQ(z.zoomw, c.want_w) << c.w << " " << c.h;
    EXPECT_EQ(z.zoomh, c.want_h) << c.w << " " << c.h;
  }
}

TEST(ZoomBox, TheClickCentresTheBoxWhichStaysInsideTheImage) {
  // Box, click, image size; the centre and the box's pixels that follow.
  const struct {
    int w, h;
    float x, y;
    int want_x, want_y;
    Box want;
  } cases[] = {
      {100, 100, 480.6f, 200.2f, 450, 200, {401, 500, 151, 250}},  // 481 is lowered to 500 - 50
      {100, 100, 499.9f, 399.9f, 450, 350, {401, 500, 301, 400}},
      {100, 100, 3.4f, 0.2f, 50, 50, {1, 100, 1, 100}},  // from index 1 at the lower edges
      {75, 75, -20.0f, 10.0f, 38, 38, {1, 75, 1, 75}},
      {50, 400, 480.6f, 200.2f, 475, 200, {451, 500, 1, 400}},  // as tall as the image
      {500, 400, 10.0f, 10.0f, 250, 200, {1, 500, 1, 400}},     // the whole image, wherever clicked
      {51, 51, 250.4f, 100.6f, 250, 101, {225, 275, 76, 126}},  // odd: centred on the pixel
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    ZoomBox z{c.w, c.h, 0, 0};
    centre_zoom_box(z, c.x, c.y, 500, 400);
    EXPECT_EQ(z.zoomx, c.want_x);
    EXPECT_EQ(z.zoomy, c.want_y);
    const Box r = zoom_draw_range(z, 500, 400);
    EXPECT_EQ(r.x0, c.want.x0);
    EXPECT_EQ(r.x1, c.want.x1);
    EXPECT_EQ(r.y0, c.want.y0);
    EXPECT_EQ(r.y1, c.want.y1);
    // The box holds exactly its size in pixels.
    EXPECT_EQ(r.x1 - r.x0 + 1, c.w);
    EXPECT_EQ(r.y1 - r.y0 + 1, c.h);
  }
}

TEST(ZoomBox, TheWholeImageBoxCoversEveryPixelOfOddAndEvenImages) {
  for (const auto& [nx, ny] : {std::pair{301, 201}, std::pair{500, 400}, std::pair{51, 50}}) {
    SCOPED_TRACE(std::to_string(nx) + " x " + std::to_string(ny));
    Image img(nx, ny, 1.0f);
    const Box box = acceptance_box(whole_image_box(nx, ny));
    EXPECT_EQ(box.x0, 1);
    EXPECT_EQ(box.x1, nx);
    EXPECT_EQ(box.y0, 1);
    EXPECT_EQ(box.y1, ny);
    // Every pixel of the image, up to its outer half, and nothing beyond.
    EXPECT_TRUE(click_accepted(box, 0.5f, 0.5f, img.view()));
    EXPECT_TRUE(click_accepted(box, nx + 0.49f, ny + 0.49f, img.view()));
    EXPECT_TRUE(click_accepted(box, static_cast<float>(nx), 1.0f, img.view()));
    EXPECT_FALSE(click_accepted(box, nx + 0.5f, 10.0f, img.view()));
    EXPECT_FALSE(click_accepted(box, 0.49f, 10.0f, img.view()));
    EXPECT_FALSE(click_accepted(box, 10.0f, ny + 0.5f, img.view()));
  }
}

// ---------------------------------------------------------------- pixel analysis

TEST(PixelAnalysis, ClicksAreJudgedByThePixelUnderThemAndNeverOffTheImage) {
  Image img(400, 300, 1.0f);
  EXPECT_FALSE(click_accepted(acceptance_box(whole_image_box(400, 300)), NAN, 10.0f, img.view()));
  // A box whose centre was moved near the edge by another routine reaches past the image:
  // clicks beyond the image are not analysed.
  const Box moved = acceptance_box(ZoomBox{100, 100, 390, 150});
  EXPECT_EQ(moved.x0, 341);
  EXPECT_EQ(moved.x1, 440);
  EXPECT_FALSE(click_accepted(moved, 420.0f, 150.0f, img.view()));
  EXPECT_TRUE(click_accepted(moved, 400.4f, 150.0f, img.view()));
  EXPECT_FALSE(click_accepted(moved, 340.4f, 150.0f, img.view()));
  EXPECT_TRUE(click_accepted(moved, 340.5f, 150.0f, img.view()));
}

TEST(PixelAnalysis, QAndEscEndTheClickLoopsAsAClickOutsideDoes) {
  for (char k : {'q', 'Q', '\x1b'}) EXPECT_TRUE(ends_click_loop(k)) << int(k);
  for (char k : {'A', 'D', 'X', 'w', ' '}) EXPECT_FALSE(ends_click_loop(k)) << k;
}

TEST(PixelAnalysis, BoxesAtTheEdgeUseOnlyThePixelsInside) {
  const Image img = star_field();
  Image copy = img;
  for (const auto& p : {std::pair{2.3f, 3.7f}, std::pair{499.5f, 399.2f}, std::pair{1.0f, 200.5f}}) {
    for (int h : {2, 4, 7}) {
      const BoxAnalysis b = analyse_box(copy.view(), p.first, p.second, h);
      const Reference r = reference(img, p.first, p.second, h);
      EXPECT_EQ(b.count, r.count);
      EXPECT_NEAR(b.stats.clipped_mean, r.clipped_mean, tol(r.clipped_mean));
      EXPECT_NEAR(b.stats.clipped_spread, r.spread, tol(r.spread));
      EXPECT_FLOAT_EQ(b.minimum, static_cast<float>(r.minimum));
      EXPECT_FLOAT_EQ(b.maximum, static_cast<float>(r.maximum));
    }
  }
  // The corner (2.3, 3.7) lies on pixel (2, 4): columns 1..9 and rows 1..11 of the 15 x 15
  // box around it lie inside.
  EXPECT_EQ(analyse_box(copy.view(), 2.3f, 3.7f, 7).count, 99);
  EXPECT_EQ(analyse_box(copy.view(), 250.0f, 200.0f, 7).count, 225);
  EXPECT_TRUE(copy.px == img.px);  // nothing written
}

// ---------------------------------------------------------------- levels of a zoomed view

// A 200 x 200 sky of 60 with a bright disc of radius 30 at (150, 150) whose pixels run from
// 4000 at its rim to 6000 at its centre; main display levels 35 .. 90 show the disc pure white.
struct ViewCase {
  const char* name;
  ViewLevels view;
  char scaling;
  float minlim;
};

class ZoomedViewLevels : public ::testing::TestWithParam<ViewCase> {};

TEST_P(ZoomedViewLevels, ComeFromThePixelsShownInTheUsersPolarity) {
  const ViewCase& c = GetParam();
  Image im(200, 200, 60.0f);
  for (int y = 1; y <= 200; ++y)
    for (int x = 1; x <= 200; ++x) {
      const double r = std::hypot(x - 150.0, y - 150.0);
      if (r <= 30.0) im.at(x, y) = static_cast<float>(6000.0 - 2000.0 * r / 30.0);
    }
  DisplayState st;
  st.lowlev = 35.0f;
  st.highlev = 90.0f;
  st.typed = true;
  st.scaling = c.scaling;
  st.minlim = c.minlim;
  st.maxlim = 1.0e30f;
  st.view = c.view;
  const Box disc{115, 185, 115, 185};  // the disc with sky in the corners
  const DisplayState v = view_state(im.view(), disc, st);
  if (c.view == ViewLevels::range) {
    EXPECT_FLOAT_EQ(v.lowlev, std::max(60.0f, c.minlim));  // the corners of the square are sky
    EXPECT_FLOAT_EQ(v.highlev, 6000.0f);                   // the disc's centre pixel
  } else {
    // zscale spreads the grey over the disc's values: its middle is neither white nor black.
    EXPECT_LT(v.lowlev, 5000.0f);
    EXPECT_GT(v.highlev, 5000.0f);
    EXPECT_GE(v.lowlev, c.minlim);
  }
  EXPECT_EQ(v.fglev, c.scaling == 'n' ? v.lowlev : v.highlev);  // the user's polarity
  EXPECT_EQ(v.bglev, c.scaling == 'n' ? v.highlev : v.lowlev);
  EXPECT_EQ(level_caption(v, true), c.view == ViewLevels::zscale ? "linear zscale of view" : "linear range of view");
  // The main display's levels are left as typed.
  EXPECT_EQ(st.lowlev, 35.0f);
  // An area without a finite pixel keeps the levels it was given.
  Image blank(10, 10, std::nanf(""));
  EXPECT_EQ(view_state(blank.view(), Box{1, 10, 1, 10}, st).lowlev, 35.0f);
}

INSTANTIATE_TEST_SUITE_P(Views, ZoomedViewLevels,
                         ::testing::Values(ViewCase{"ZscaleNegative", ViewLevels::zscale, 'n', -1.0e30f},
                                           ViewCase{"ZscalePositive", ViewLevels::zscale, 'p', -1.0e30f},
                                           ViewCase{"RangeNegative", ViewLevels::range, 'n', -1.0e30f},
                                           ViewCase{"RangeAboveTheLowLimit", ViewLevels::range, 'p', 100.0f}),
                         [](const ::testing::TestParamInfo<ViewCase>& i) { return std::string(i.param.name); });
