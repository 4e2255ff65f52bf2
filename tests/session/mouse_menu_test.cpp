#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "session/commands.h"
#include "session/mouse_menu.h"
#include "support/box_reference.h"
#include "support/scripted_session.h"
#include "support/session_harness.h"

using namespace zelvo;
using ::testing::HasSubstr;
using ::testing::Not;
using zelvo::testing::Reference;
using zelvo::testing::reference;
using zelvo::testing::ScriptedSession;
using zelvo::testing::tol;

namespace {

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

// Checks the printed reports of one accepted click against the reference values.
void expect_click_report(const std::string& out, int click, const Image& img, double x, double y) {
  const auto pixel = numbers_after(out, " Value of the pixel you clicked was: ");
  ASSERT_GT(pixel.size(), static_cast<std::size_t>(click));
  EXPECT_NEAR(pixel[click].at(0), reference(img, x, y, 0).pixel, tol(1000));
  const char* leads[] = {
      " Values for a 5x5 box were (average and sigma): ", " Values for a 9x9 box were (average and sigma): ",
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
  // The added line: the plain mean and the median of the 5 x 5 box, then the star's width.
  const auto plain = numbers_after(out, " Plain mean, median (5x5): ");
  ASSERT_GT(plain.size(), static_cast<std::size_t>(click));
  const Reference r5 = reference(img, x, y, 2);
  EXPECT_NEAR(plain[click].at(0), r5.mean, tol(r5.mean));
  EXPECT_NEAR(plain[click].at(1), r5.median, tol(r5.median));
}

// A 500 x 400 sky near 1000 with noise and stars, the brightest at (350, 240).
Image star_field() { return zelvo::testing::small_field(500, 400, 7); }

}  // namespace

// ---------------------------------------------------------------- the zoom-box dialogue

TEST(ZoomBox, SetZoomBoxAsksTheSizeReadsTheClickAndDraws) {
  ScriptedSession t;
  t.load(1, star_field(), "stars.fits");
  t.s.display.zoom = ZoomBox{500, 400, 250, 200};
  t.s.display.state.fglev = 900.0f;
  t.s.display.state.bglev = 1500.0f;
  const std::string out = t.run(SETZOOMBOX, "100 100\n480.6 200.2\n");
  const ZoomBox& z = t.s.display.zoom;
  EXPECT_THAT(out, HasSubstr(" Give the new zoom box size (width, height); both > 50 \n"));
  EXPECT_THAT(out, HasSubstr(" Click on the area you want to zoom to.\n"));
  EXPECT_EQ(z.zoomw, 100);
  EXPECT_EQ(z.zoomh, 100);
  EXPECT_EQ(z.zoomx, 450);
  EXPECT_EQ(z.zoomy, 200);
  EXPECT_FLOAT_EQ(t.s.cursor.x, 480.6f);
  EXPECT_FLOAT_EQ(t.s.cursor.y, 200.2f);
}

TEST(ZoomBox, TheWholeImageIsCentredAgainWithoutAClick) {
  ScriptedSession t;
  t.load(1, Image(500, 400, 1.0f), "flat.fits");
  t.s.display.zoom = ZoomBox{80, 60, 123, 77};
  t.s.cursor.x = 5.0f;
  const std::string out = t.run(SETZOOMBOX, "800 1000\n");
  const ZoomBox& z = t.s.display.zoom;
  EXPECT_THAT(out, Not(HasSubstr("Click on the area")));
  EXPECT_EQ(z.zoomw, 500);
  EXPECT_EQ(z.zoomh, 400);
  EXPECT_EQ(z.zoomx, 250);  // centred on the image again, wherever it was
  EXPECT_EQ(z.zoomy, 200);
  EXPECT_EQ(t.s.cursor.x, 5.0f);
}

// ---------------------------------------------------------------- whole sessions

TEST(PixelAnalysis, AScriptedMouseSessionZoomsAnalysesAndReturns) {
  zelvo::testing::ScratchFolder dir;
  const Image img = star_field();
  dir.write_fits("stars_r.fits", img);
  const auto run = zelvo::testing::run_session(
      dir, {"",          "l",           "stars_r.fits",
            "d",         "1",           "n",
            "m",         "2",           "100.7 200.2",  // the reset box accepts the whole image
            "3.2 4.6",                                  // near the corner: partial boxes
            "399.5 10",                                 // far right of a 400-wide area, inside this 500-wide one
            "0.4 10",                                   // left of column 1: back to the menu
            "1",         "30 2000",     "480.6 200.2",  // 50 x 400
            "1",         "100 100",     "480.6 200.2",  // centred at (450, 200)
            "2",         "401 151",                     // on the first pixel of the box
            "400.4 200",                                // on the pixel left of it: back to the menu
            "1",         "500 400",                     // the whole image again, centred on it
            "2",         "150 200",                     // far left of the earlier box: analysed
            "5 5 q",                                    // the key q: back to the menu, not measured
            "1",         "100 100",     "350 240",
            "2",         "352.4 241.7",  // on the bright star: clipping at work
            "300 240",                   // outside
            "7",         "0",           "q"});
  EXPECT_EQ(run.status, 0);
  const std::string& out = run.out;
  EXPECT_THAT(out, HasSubstr("\n"
                             " What do you want to do?   [N.B. You must display an image] \n"
                             "   1) Set the zoom box size for operations and zoom in; \n"
                             "       current box size (width x height) = 500 x 400\n"
                             "   2) Analyse image around the mouse click \n"
                             "       [Click outside the zoom box, or press q or Esc, to return to menu]\n"
                             "   0) Return back to the main options \n"
                             "\n"));
  EXPECT_THAT(out, HasSubstr("       current box size (width x height) = 50 x 400\n"));
  EXPECT_THAT(out, HasSubstr("       current box size (width x height) = 100 x 100\n"));
  EXPECT_THAT(out, HasSubstr("\n Click on the centre of the area to be analysed.\n"));
  EXPECT_THAT(out, HasSubstr(" You clicked at 100.7 200.2\n Value of the pixel you clicked was: "));
  EXPECT_EQ(zelvo::testing::count_of(out, " clipped (2 sigma)\n"), 18);  // three boxes, six clicks
  EXPECT_THAT(out, HasSubstr(" You clicked at 0.4 10.0\n\n What do you want to do?"));
  EXPECT_THAT(out, HasSubstr(" You clicked at 400.4 200.0\n\n What do you want to do?"));
  EXPECT_THAT(out, HasSubstr("Cursor position (x y):\n\n What do you want to do?"));
  EXPECT_THAT(out, Not(HasSubstr("You clicked at 5.0 5.0")));
  EXPECT_THAT(out, HasSubstr(" You clicked at 300.0 240.0\n\n What do you want to do?"));

  // Accepted clicks, in order.
  const std::vector<std::pair<double, double>> clicks{{100.7f, 200.2f}, {3.2f, 4.6f},     {399.5f, 10.0f},
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
  // Its width: a Gaussian of sigma 2.0, FWHM 4.71 pixels.
  const std::size_t last = out.rfind("  FWHM: ");
  ASSERT_NE(last, std::string::npos);
  EXPECT_NEAR(std::stod(out.substr(last + 8)), 2.0 * std::sqrt(2.0 * std::log(2.0)) * 2.0, 0.05 * 4.71);
}
