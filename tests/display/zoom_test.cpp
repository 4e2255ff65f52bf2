#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "display/zoom.h"
#include "session/commands.h"
#include "support/in_process_session.h"
#include "support/session_harness.h"

using namespace zelvo;
using zelvo::testing::InProcessSession;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Box statistics worked out here in double precision: the pixels of the (2h+1)^2 box that
// lie inside the image, their mean and sigma, the values within 2 sigma of the mean, the
// mean of those and their spread about the mean of all values.
struct Reference {
  double pixel = 0, clipped_mean = 0, spread = 0, minimum = 0, maximum = 0;
  int count = 0;
};
Reference reference(const Image& img, double x, double y, int h) {
  std::vector<double> v;
  for (int a = -h; a <= h; ++a)
    for (int b = -h; b <= h; ++b) {
      // The box is centred on the pixel under the click: the nearest one.
      const int px = static_cast<int>(std::floor(x + 0.5)) + a, py = static_cast<int>(std::floor(y + 0.5)) + b;
      if (px >= 1 && px <= img.nx && py >= 1 && py <= img.ny) v.push_back(img.at(px, py));
    }
  Reference r;
  r.pixel = img.at(static_cast<int>(std::floor(x + 0.5)), static_cast<int>(std::floor(y + 0.5)));
  r.count = static_cast<int>(v.size());
  double sum = 0;
  for (double p : v) sum += p;
  const double mean = sum / v.size();
  double q = 0;
  for (double p : v) q += (p - mean) * (p - mean);
  const double sigma = std::sqrt(q / (v.size() - 1));
  double ksum = 0, kq = 0;
  int kept = 0;
  r.minimum = r.maximum = v[0];
  for (double p : v) {
    r.minimum = std::min(r.minimum, p);
    r.maximum = std::max(r.maximum, p);
    if (std::fabs(p - mean) <= 2 * sigma) {
      ++kept;
      ksum += p;
      kq += (p - mean) * (p - mean);
    }
  }
  r.clipped_mean = ksum / kept;
  r.spread = std::sqrt(kq / (kept - 1));
  return r;
}

// The numbers that follow `lead` on every output line that starts with it, in order.
std::vector<std::vector<double>> numbers_after(const std::string& out, const std::string& lead) {
  std::vector<std::vector<double>> all;
  std::istringstream lines(out);
  for (std::string l; std::getline(lines, l);) {
    if (l.rfind(lead, 0) != 0) continue;
    std::istringstream rest(l.substr(lead.size()));
    std::vector<double> nums;
    for (double d; rest >> d;) nums.push_back(d);
    all.push_back(nums);
  }
  return all;
}

double tol(double ref) { return 2e-3 + 2e-6 * std::fabs(ref); }

// Checks the printed reports of one accepted click against the reference values.
void expect_click_report(const std::string& out, int click, const Image& img, double x, double y) {
  const auto pixel = numbers_after(out, " Value of the pixel you clicked was: ");
  ASSERT_GT(pixel.size(), static_cast<std::size_t>(click));
  EXPECT_NEAR(pixel[click].at(0), reference(img, x, y, 0).pixel, tol(1000));
  const char* leads[] = {" Values for a 5x5 box were (average and sigma): ",
                         " Values for a 9x9 box were (average and sigma): ",
                         " Values for a 15x15 box were (average and sigma): "};
  const int halves[] = {2, 4, 7};
  const auto extremes = numbers_after(out, "   (minimum and maximum): ");
  for (int k = 0; k < 3; ++k) {
    const Reference r = reference(img, x, y, halves[k]);
    const auto stats = numbers_after(out, leads[k]);
    ASSERT_GT(stats.size(), static_cast<std::size_t>(click));
    EXPECT_NEAR(stats[click].at(0), r.clipped_mean, tol(r.clipped_mean)) << leads[k];
    EXPECT_NEAR(stats[click].at(1), r.spread, tol(r.spread)) << leads[k];
    const auto& mm = extremes.at(static_cast<std::size_t>(3 * click + k));
    EXPECT_NEAR(mm.at(0), r.minimum, tol(r.minimum));
    EXPECT_NEAR(mm.at(1), r.maximum, tol(r.maximum));
  }
}

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
    PixelRange want;
  } cases[] = {
      {100, 100, 480.6f, 200.2f, 450, 200, {401, 500, 151, 250}},  // 481 is lowered to 500 - 50
      {100, 100, 499.9f, 399.9f, 450, 350, {401, 500, 301, 400}},
      {100, 100, 3.4f, 0.2f, 50, 50, {1, 100, 1, 100}},            // from index 1 at the lower edges
      {75, 75, -20.0f, 10.0f, 38, 38, {1, 75, 1, 75}},
      {50, 400, 480.6f, 200.2f, 475, 200, {451, 500, 1, 400}},     // as tall as the image
      {500, 400, 10.0f, 10.0f, 250, 200, {1, 500, 1, 400}},        // the whole image, wherever clicked
      {51, 51, 250.4f, 100.6f, 250, 101, {225, 275, 76, 126}},     // odd: centred on the pixel
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    ZoomBox z{c.w, c.h, 0, 0};
    centre_zoom_box(z, c.x, c.y, 500, 400);
    EXPECT_EQ(z.zoomx, c.want_x);
    EXPECT_EQ(z.zoomy, c.want_y);
    const PixelRange r = zoom_draw_range(z, 500, 400);
    EXPECT_EQ(r.i1, c.want.i1);
    EXPECT_EQ(r.i2, c.want.i2);
    EXPECT_EQ(r.j1, c.want.j1);
    EXPECT_EQ(r.j2, c.want.j2);
    // The box holds exactly its size in pixels.
    EXPECT_EQ(r.i2 - r.i1 + 1, c.w);
    EXPECT_EQ(r.j2 - r.j1 + 1, c.h);
  }
}

TEST(ZoomBox, TheWholeImageBoxCoversEveryPixelOfOddAndEvenImages) {
  for (const auto& [nx, ny] : {std::pair{301, 201}, std::pair{500, 400}, std::pair{51, 50}}) {
    SCOPED_TRACE(std::to_string(nx) + " x " + std::to_string(ny));
    Image img(nx, ny, 1.0f);
    const PixelRange box = acceptance_box(whole_image_box(nx, ny));
    EXPECT_EQ(box.i1, 1);
    EXPECT_EQ(box.i2, nx);
    EXPECT_EQ(box.j1, 1);
    EXPECT_EQ(box.j2, ny);
    // Every pixel of the image, up to its outer half, and nothing beyond.
    EXPECT_TRUE(click_accepted(box, 0.5f, 0.5f, img.view()));
    EXPECT_TRUE(click_accepted(box, nx + 0.49f, ny + 0.49f, img.view()));
    EXPECT_TRUE(click_accepted(box, static_cast<float>(nx), 1.0f, img.view()));
    EXPECT_FALSE(click_accepted(box, nx + 0.5f, 10.0f, img.view()));
    EXPECT_FALSE(click_accepted(box, 0.49f, 10.0f, img.view()));
    EXPECT_FALSE(click_accepted(box, 10.0f, ny + 0.5f, img.view()));
  }
}

TEST(ZoomBox, SetZoomBoxAsksTheSizeReadsTheClickAndDraws) {
  InProcessSession t;
  Image img = star_field();
  ZoomBox z{500, 400, 250, 200};
  t.s.disp.fglev = 900.0f;
  t.s.disp.bglev = 1500.0f;
  const std::string out = t.run(
      [&](Session& s) {
        SETZOOMBOX(img.view(), s.disp, z, CursorState{s.cursorx, s.cursory, s.cursorkey}, s.con, s.gfx);
      },
      "100 100\n480.6 200.2\n");
  EXPECT_THAT(out, HasSubstr(" Give the new zoom box size (width, height); both > 50 \n"));
  EXPECT_THAT(out, HasSubstr(" Click on the area you want to zoom to.\n"));
  EXPECT_EQ(z.zoomw, 100);
  EXPECT_EQ(z.zoomh, 100);
  EXPECT_EQ(z.zoomx, 450);
  EXPECT_EQ(z.zoomy, 200);
  EXPECT_FLOAT_EQ(t.s.cursorx, 480.6f);
  EXPECT_FLOAT_EQ(t.s.cursory, 200.2f);
}

TEST(ZoomBox, TheWholeImageIsCentredAgainWithoutAClick) {
  InProcessSession t;
  Image img(500, 400, 1.0f);
  ZoomBox z{80, 60, 123, 77};
  t.s.cursorx = 5.0f;
  const std::string out = t.run(
      [&](Session& s) {
        SETZOOMBOX(img.view(), s.disp, z, CursorState{s.cursorx, s.cursory, s.cursorkey}, s.con, s.gfx);
      },
      "800 1000\n");
  EXPECT_THAT(out, Not(HasSubstr("Click on the area")));
  EXPECT_EQ(z.zoomw, 500);
  EXPECT_EQ(z.zoomh, 400);
  EXPECT_EQ(z.zoomx, 250);  // centred on the image again, wherever it was
  EXPECT_EQ(z.zoomy, 200);
  EXPECT_EQ(t.s.cursorx, 5.0f);
}

// ---------------------------------------------------------------- pixel analysis

TEST(PixelAnalysis, ClicksAreJudgedByThePixelUnderThemAndNeverOffTheImage) {
  Image img(400, 300, 1.0f);
  EXPECT_FALSE(click_accepted(acceptance_box(whole_image_box(400, 300)), NAN, 10.0f, img.view()));
  // A box whose centre was moved near the edge by another routine reaches past the image:
  // clicks beyond the image are not analysed.
  const PixelRange moved = acceptance_box(ZoomBox{100, 100, 390, 150});
  EXPECT_EQ(moved.i1, 341);
  EXPECT_EQ(moved.i2, 440);
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

TEST(PixelAnalysis, AScriptedMouseSessionZoomsAnalysesAndReturns) {
  zelvo::testing::ScratchFolder dir;
  const Image img = star_field();
  dir.write_fits("stars_r.fits", img);
  const auto run = zelvo::testing::run_session(
      dir, {"",    "l", "stars_r.fits", "d", "1", "n", "m",
            "2",   "100.7 200.2",                 // the reset box accepts the whole image
            "3.2 4.6",                            // near the corner: partial boxes
            "399.5 10",                           // far right of a 400-wide area, inside this 500-wide one
            "0.4 10",                             // left of column 1: back to the menu
            "1",   "30 2000", "480.6 200.2",      // 50 x 400
            "1",   "100 100", "480.6 200.2",      // centred at (450, 200)
            "2",   "401 151",                     // on the first pixel of the box
            "400.4 200",                          // on the pixel left of it: back to the menu
            "1",   "500 400",                     // the whole image again, centred on it
            "2",   "150 200",                     // far left of the earlier box: analysed
            "5 5 q",                              // the key q: back to the menu, not measured
            "1",   "100 100", "350 240",
            "2",   "352.4 241.7",                 // on the bright star: clipping at work
            "300 240",                            // outside
            "7",   "0",   "q"});
  EXPECT_EQ(run.status, 0);
  const std::string& out = run.out;
  EXPECT_THAT(out, HasSubstr("\n"
                             " What do you want to do?   [N.B. You must display an image] \n"
                             "   1) Set the zoom box size for operations and zoom in; \n"
                             "       current box size (width x height) = 500 x 400\n"
                             "   2) Analyse image around the mouse click \n"
                             "       [Click anywhere outside the image to return to menu]\n"
                             "   0) Return back to the main options \n"
                             "\n"));
  EXPECT_THAT(out, HasSubstr("       current box size (width x height) = 50 x 400\n"));
  EXPECT_THAT(out, HasSubstr("       current box size (width x height) = 100 x 100\n"));
  EXPECT_THAT(out, HasSubstr("\n Click on the centre of the area to be analysed.\n"));
  EXPECT_THAT(out, HasSubstr(" You clicked at 100.7 200.2\n Value of the pixel you clicked was: "));
  EXPECT_THAT(out, HasSubstr(" You clicked at 0.4 10.0\n\n What do you want to do?"));
  EXPECT_THAT(out, HasSubstr(" You clicked at 400.4 200.0\n\n What do you want to do?"));
  EXPECT_THAT(out, HasSubstr("Cursor position (x y):\n\n What do you want to do?"));
  EXPECT_THAT(out, Not(HasSubstr("You clicked at 5.0 5.0")));
  EXPECT_THAT(out, HasSubstr(" You clicked at 300.0 240.0\n\n What do you want to do?"));

  // Accepted clicks, in order.
  const std::vector<std::pair<double, double>> clicks{{100.7f, 200.2f}, {3.2f, 4.6f},    {399.5f, 10.0f},
                                                      {401.0f, 151.0f}, {150.0f, 200.0f}, {352.4f, 241.7f}};
  EXPECT_EQ(numbers_after(out, " Value of the pixel you clicked was: ").size(), clicks.size());
  for (std::size_t k = 0; k < clicks.size(); ++k) {
    SCOPED_TRACE(k);
    expect_click_report(out, static_cast<int>(k), img, clicks[k].first, clicks[k].second);
  }
  // (100.7, 200.2) lies on pixel (101, 200), which reaches from 100.5 to 101.5.
  EXPECT_NEAR(numbers_after(out, " Value of the pixel you clicked was: ")[0].at(0), img.at(101, 200), tol(1000));
  // On the star the 15 x 15 box rejects the core: the clipped mean lies well below the mean.
  const Reference star = reference(img, 352.4f, 241.7f, 7);
  EXPECT_GT(star.maximum, 5000.0);
  EXPECT_LT(star.clipped_mean, 1500.0);
}
