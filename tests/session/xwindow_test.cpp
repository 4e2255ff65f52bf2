// The real graphics window: the program runs on /xw under a private Xvfb server, the mouse
// and keys come from xdotool, and what the window shows is read back with xwininfo and xwd.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/console.h"
#include "platform/graphics.h"
#include "support/session_harness.h"
#include "support/x_session.h"
#include "synthetic_field.h"

namespace zelvo::testing {
namespace {

using std::chrono::milliseconds;

// Skips the test when the X tools are not installed; fails when they are but the server
// does not start.
#define REQUIRE_X_SERVER(x)                                                                     \
  do {                                                                                          \
    if (const std::string why = missing_x_tools(); !why.empty())                                \
      GTEST_SKIP() << "real-window tests need Xvfb, xdotool, xwininfo and xwd (" << why << ")"; \
    ASSERT_TRUE((x).failure().empty()) << (x).failure();                                        \
  } while (0)

// The sample field in a scratch folder with a settings file for window code `code`.
struct FieldFolder {
  ScratchFolder dir;
  FieldOptions options;
  SyntheticField field;

  explicit FieldFolder(int code) {
    options.seed = 2001;
    field = synthetic_field(options);
    EXPECT_EQ(write_field_fits(dir.file("field.fits"), field.image, options), 0);
    dir.write("Zelvo.ini", std::to_string(code) + "\n0\n");
  }
  int nx() const { return field.image.nx; }
  int ny() const { return field.image.ny; }
};

// The brightest ordinary star that stands alone: well inside the image and away from the
// other stars, the galaxy and the saturated star with its column.
FieldStar lone_bright_star(const SyntheticField& f) {
  const auto far = [](double x1, double y1, double x2, double y2, double d) {
    return std::hypot(x1 - x2, y1 - y2) >= d;
  };
  FieldStar best;
  for (const auto& s : f.stars) {
    bool ok = s.x > 60 && s.y > 60 && s.x < f.image.nx - 60 && s.y < f.image.ny - 60;
    for (const auto& o : f.stars)
      if (&o != &s && !far(s.x, s.y, o.x, o.y, 25)) ok = false;
    if (!far(s.x, s.y, f.galaxy.x, f.galaxy.y, 60)) ok = false;
    if (f.has_saturated && (!far(s.x, s.y, f.saturated.x, f.saturated.y, 60) || std::abs(s.x - f.bleed.x) < 25))
      ok = false;
    if (ok && s.peak > best.peak) best = s;
  }
  return best;
}

// Starts the program, passes the welcome pause and waits for the main menu.
void start_to_menu(XProgram& p) {
  ASSERT_TRUE(p.started());
  ASSERT_TRUE(p.wait_for("Press <enter> to continue...")) << p.output();
  p.send("");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.output();
}

// Loads field.fits and displays it in greyscale; returns the rest of the "Display levels:"
// line. Leaves the level question unanswered.
std::string load_and_display(XProgram& p) {
  p.send("l");
  p.send("field.fits");
  EXPECT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.output();
  p.send("d");
  p.send("1");
  const auto levels = p.wait_for("Display levels:");
  EXPECT_TRUE(levels) << p.output();
  EXPECT_TRUE(p.wait_for("Do you want to change display levels (y/n)?")) << p.output();
  return levels.value_or("");
}

// Leaves a submenu with 0 and Zelvo with q; it ends normally.
void leave_and_quit(XProgram& p) {
  p.send("0");
  EXPECT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.output();
  p.send("q");
  EXPECT_EQ(p.finish(), 0);
}

// The field drawn at the main menu, its levels kept; the image's frame in the giza window
// (none when the window cannot be found).
std::optional<ImageFrame> field_on_screen(const XServer& x, XProgram& p, const FieldFolder& ff) {
  start_to_menu(p);
  load_and_display(p);
  p.send("n");
  EXPECT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.output();
  const auto g = find_window(x, "giza", milliseconds(5000));
  if (!g) return std::nullopt;
  return ImageFrame::of(*g, 1, ff.nx(), 1, ff.ny());
}

// Median length of the runs of equal grey along a row (dx = 1) or a column (dy = 1) of a
// screenshot, between two screen positions.
double median_run(const Screenshot& s, int x0, int y0, int n, int dx, int dy) {
  std::vector<int> runs;
  int len = 1;
  for (int k = 1; k < n; ++k) {
    if (s.grey(x0 + k * dx, y0 + k * dy) == s.grey(x0 + (k - 1) * dx, y0 + (k - 1) * dy)) {
      ++len;
    } else {
      runs.push_back(len);
      len = 1;
    }
  }
  if (runs.size() < 3) return n;
  // The first and last runs are cut by the frame.
  runs.erase(runs.begin());
  runs.pop_back();
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

// Darkest and brightest grey in the 5 x 5 screen pixels around (sx, sy).
std::pair<int, int> grey_range(const Screenshot& s, int sx, int sy) {
  int lo = 255, hi = 0;
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) {
      lo = std::min(lo, s.grey(sx + dx, sy + dy));
      hi = std::max(hi, s.grey(sx + dx, sy + dy));
    }
  return {lo, hi};
}

// Median grey of the sky: a grid of points at least 15 pixels from every object.
int sky_grey(const Screenshot& s, const ImageFrame& f, const SyntheticField& field) {
  std::vector<int> g;
  for (int y = 40; y <= field.image.ny - 40; y += 37)
    for (int x = 40; x <= field.image.nx - 40; x += 37) {
      bool clear = std::hypot(x - field.galaxy.x, y - field.galaxy.y) > 80;
      for (const auto& st : field.stars) clear = clear && std::hypot(x - st.x, y - st.y) > 15;
      if (field.has_saturated)
        clear =
            clear && std::hypot(x - field.saturated.x, y - field.saturated.y) > 30 && std::abs(x - field.bleed.x) > 5;
      if (clear) g.push_back(s.grey(f.sx(x), f.sy(y)));
    }
  std::sort(g.begin(), g.end());
  return g.empty() ? -1 : g[g.size() / 2];
}

TEST(XWindow, WindowCodesOneTwoThreeOpenWindowsOfTheirSize) {
  XServer x;
  REQUIRE_X_SERVER(x);
  const int sizes[3][2] = {{1280, 1024}, {1024, 768}, {800, 600}};
  for (int code = 1; code <= 3; ++code) {
    SCOPED_TRACE("window code " + std::to_string(code));
    ScratchFolder dir;
    dir.write("Zelvo.ini", std::to_string(code) + "   window size\n0\n");
    XProgram p(x, dir.path(), {});
    ASSERT_TRUE(p.wait_for("Press <enter> to continue...")) << p.output();
    // The window is sized just after it opens; allow the server a moment to apply it.
    std::optional<WindowGeometry> g;
    for (int k = 0; k < 50; ++k) {
      g = find_window(x, "giza", milliseconds(5000));
      if (g && g->width == sizes[code - 1][0] && g->height == sizes[code - 1][1]) break;
      std::this_thread::sleep_for(milliseconds(50));
    }
    ASSERT_TRUE(g) << "no graphics window";
    EXPECT_EQ(g->width, sizes[code - 1][0]);
    EXPECT_EQ(g->height, sizes[code - 1][1]);
    EXPECT_EQ(p.finish(), 0);
    EXPECT_NE(p.output().find("End of input; leaving without saving."), std::string::npos);
  }
}

TEST(XWindow, MouseMenuReportsTheImagePixelUnderEachClickAndLeavesOnAClickOutside) {
  XServer x;
  REQUIRE_X_SERVER(x);
  FieldFolder ff(3);
  XProgram p(x, ff.dir.path(), {});
  start_to_menu(p);
  load_and_display(p);
  p.send("n");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)"));
  p.send("m");
  ASSERT_TRUE(p.wait_for("0) Return back to the main options"));
  p.send("2");
  ASSERT_TRUE(p.wait_for("Click on the centre of the area to be analysed."));
  const auto g = find_window(x, "giza", milliseconds(5000));
  ASSERT_TRUE(g);
  const ImageFrame img = ImageFrame::of(*g, 1, ff.nx(), 1, ff.ny());
  const Frame f = img.frame;

  // The frame really is where the clicks are aimed: its four sides are dark lines.
  std::string why;
  const Screenshot shot = take_screenshot(x, ff.dir.file("frame.xwd"), &why);
  ASSERT_FALSE(shot.empty()) << why;
  const auto dark_line = [&](int x0, int y0, int dx, int dy, int n) {
    int dark = 0;
    for (int k = 0; k < n; ++k) {
      int lo = 255;
      for (int w = -1; w <= 1; ++w) lo = std::min(lo, shot.grey(x0 + k * dx + w * dy, y0 + k * dy + w * dx));
      dark += lo < 170;  // the lines are antialiased over two pixels
    }
    return dark >= n * 9 / 10;
  };
  const int l = static_cast<int>(std::lround(f.left)), r = static_cast<int>(std::lround(f.right));
  const int t = static_cast<int>(std::lround(f.top)), b = static_cast<int>(std::lround(f.bottom));
  EXPECT_TRUE(dark_line(l, t + 5, 0, 1, b - t - 10)) << "left side";
  EXPECT_TRUE(dark_line(r, t + 5, 0, 1, b - t - 10)) << "right side";
  EXPECT_TRUE(dark_line(l + 5, t, 1, 0, r - l - 10)) << "top side";
  EXPECT_TRUE(dark_line(l + 5, b, 1, 0, r - l - 10)) << "bottom side";

  const double targets[][2] = {{256.0, 256.0}, {100.3, 100.7}, {400.2, 50.5}, {30.0, 480.0}, {470.6, 300.4}};
  bool first = true;
  for (const auto& tw : targets) {
    SCOPED_TRACE("target " + std::to_string(tw[0]) + " " + std::to_string(tw[1]));
    if (!first) {
      ASSERT_TRUE(p.wait_for("Click on the centre of the area to be analysed."));
    }
    first = false;
    const int sx = img.sx(tw[0]), sy = img.sy(tw[1]);
    const auto at = click_until(x, p, sx, sy, 1, "You clicked at ");
    ASSERT_TRUE(at) << p.output();
    const auto xy = numbers_in(*at);
    ASSERT_EQ(xy.size(), 2u) << *at;
    EXPECT_NEAR(xy[0], tw[0], 1.0);
    EXPECT_NEAR(xy[1], tw[1], 1.0);
    const auto value = p.wait_for("Value of the pixel you clicked was: ");
    ASSERT_TRUE(value);
    // The pixel under the pointer: the one nearest to the reported position.
    const double expected = ff.field.image.at(static_cast<int>(xy[0] + 0.5), static_cast<int>(xy[1] + 0.5));
    ASSERT_EQ(numbers_in(*value).size(), 1u);
    EXPECT_NEAR(numbers_in(*value)[0], expected, 1e-3 + 1e-6 * std::abs(expected));
    ASSERT_TRUE(p.wait_for("Values for a 15x15 box were (average and sigma): "));
  }

  // Left of the frame: reported, then back to the menu.
  ASSERT_TRUE(p.wait_for("Click on the centre of the area to be analysed."));
  const auto outside = click_until(x, p, l - 30, (t + b) / 2, 1, "You clicked at ");
  ASSERT_TRUE(outside);
  ASSERT_FALSE(numbers_in(*outside).empty());
  EXPECT_LT(numbers_in(*outside)[0], 0.0);
  ASSERT_TRUE(p.wait_for("What do you want to do?")) << p.output();
  leave_and_quit(p);
  EXPECT_NE(p.output().find("Thank you for using Zelvo."), std::string::npos);
}

TEST(XWindow, AStarIsRemovedWithRealClicksAndTypedAnswers) {
  XServer x;
  REQUIRE_X_SERVER(x);
  FieldFolder ff(3);
  const FieldStar star = lone_bright_star(ff.field);
  ASSERT_GT(star.peak, 500.0) << "the field has no lone bright star";
  const double sky = ff.field.sky_at(star.x, star.y);
  const Image original = ff.field.image;

  XProgram p(x, ff.dir.path(), {"--seed", "7"});
  const std::optional<ImageFrame> shown = field_on_screen(x, p, ff);
  ASSERT_TRUE(shown);
  const ImageFrame& f = *shown;
  const auto g = find_window(x, "giza", milliseconds(5000));
  ASSERT_TRUE(g);

  p.send("r");
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.output();
  p.send("1");
  ASSERT_TRUE(p.wait_for("Click on the object you want to remove.")) << p.output();
  // A click a little off the star on the whole image...
  const auto at = click_until(x, p, f.sx(star.x + 2.0), f.sy(star.y - 2.0), 1, "You clicked at ");
  ASSERT_TRUE(at) << p.output();
  const auto xy = numbers_in(*at);
  ASSERT_EQ(xy.size(), 2u);
  // ...then on its centre in the 101 x 101 area drawn around the nearest pixel.
  ASSERT_TRUE(p.wait_for("Click on the object centre.")) << p.output();
  const int ixc = std::clamp(static_cast<int>(xy[0] + 0.5), 50, ff.nx() - 50);
  const int iyc = std::clamp(static_cast<int>(xy[1] + 0.5), 50, ff.ny() - 50);
  const ImageFrame area = ImageFrame::of(*g, ixc - 50, ixc + 50, iyc - 50, iyc + 50);
  const auto radius_prompt =
      click_until(x, p, area.sx(star.x), area.sy(star.y), 1, "Give (absolute) value to the removal radius:");
  ASSERT_TRUE(radius_prompt) << p.output();
  p.send("15");
  ASSERT_TRUE(p.wait_for("Do you want to UNDO previous removal (y/n)?")) << p.output();
  p.send("n");
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.output();
  p.send("0");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.output();
  p.send("x");  // writes the modified image back to field.fits and ends
  EXPECT_EQ(p.finish(), 0) << p.output();

  // The record holds the star where it is, with the radius the ring was traced at.
  std::istringstream record(ff.dir.read("ZelvoRepeat.log"));
  std::vector<double> entry;
  for (std::string line; std::getline(record, line);) {
    const auto v = numbers_in(line);
    if (v.size() == 4 && v[0] == 1.0) entry = v;
  }
  ASSERT_EQ(entry.size(), 4u) << ff.dir.read("ZelvoRepeat.log");
  EXPECT_NEAR(entry[1], star.x, 1.0);
  EXPECT_NEAR(entry[2], star.y, 1.0);
  EXPECT_NEAR(entry[3], 15.0, 1e-4);

  // The star is gone, and nothing outside the removal disc changed.
  const Image cleaned = ff.dir.read_fits("field.fits");
  ASSERT_EQ(cleaned.nx, original.nx);
  ASSERT_EQ(cleaned.ny, original.ny);
  float peak_before = -1e30f, peak_after = -1e30f;
  int changed_outside = 0;
  for (int y = 1; y <= original.ny; ++y)
    for (int x1 = 1; x1 <= original.nx; ++x1) {
      const double d = std::hypot(x1 - entry[1], y - entry[2]);
      if (d <= 4.0) {
        peak_before = std::max(peak_before, original.at(x1, y));
        peak_after = std::max(peak_after, cleaned.at(x1, y));
      } else if (d > entry[3] + 1.5 && cleaned.at(x1, y) != original.at(x1, y)) {
        ++changed_outside;
      }
    }
  EXPECT_GT(peak_before, sky + 500.0);
  EXPECT_LT(peak_after, sky + 8.0 * ff.options.noise);
  EXPECT_EQ(changed_outside, 0);
}

TEST(XWindow, TheScreenShowsStarsBlackInNegativeWhiteInPositiveAndZoomedPixelsAsBlocks) {
  XServer x;
  REQUIRE_X_SERVER(x);
  FieldFolder ff(3);
  const FieldStar star = lone_bright_star(ff.field);
  ASSERT_GT(star.peak, 500.0);
  XProgram p(x, ff.dir.path(), {});
  start_to_menu(p);
  const std::string levels = load_and_display(p);
  const auto g = find_window(x, "giza", milliseconds(5000));
  ASSERT_TRUE(g);
  const ImageFrame img = ImageFrame::of(*g, 1, ff.nx(), 1, ff.ny());
  const Frame f = img.frame;
  const int ssx = img.sx(star.x), ssy = img.sy(star.y);
  std::string why;

  // Negative scaling (the default): the star black on a light sky, and a picture with depth.
  const Screenshot neg = take_screenshot(x, ff.dir.file("negative.xwd"), &why);
  ASSERT_FALSE(neg.empty()) << why;
  EXPECT_LT(grey_range(neg, ssx, ssy).first, 40);
  EXPECT_GT(sky_grey(neg, img, ff.field), 150);
  {
    std::vector<int> count(256, 0);
    double sum = 0, sum2 = 0;
    int n = 0;
    for (int sy = static_cast<int>(f.top) + 3; sy < f.bottom - 3; sy += 2)
      for (int sx = static_cast<int>(f.left) + 3; sx < f.right - 3; sx += 2) {
        const int v = neg.grey(sx, sy);
        ++count[static_cast<std::size_t>(v)];
        sum += v;
        sum2 += static_cast<double>(v) * v;
        ++n;
      }
    const int distinct = static_cast<int>(std::count_if(count.begin(), count.end(), [](int c) { return c > 0; }));
    EXPECT_GE(distinct, 40) << "the picture is nearly flat";
    EXPECT_GT(std::sqrt(sum2 / n - (sum / n) * (sum / n)), 5.0) << "the picture is nearly flat";
  }

  // Positive scaling with the same levels: the star white on a dark sky.
  const auto lv = numbers_in(levels);
  ASSERT_GE(lv.size(), 2u) << levels;
  p.send("y");
  p.send(std::to_string(lv[0]) + " " + std::to_string(lv[1]) + " p");
  ASSERT_TRUE(p.wait_for("Give the two, smaller first (empty: keep"));
  p.send("-1e30 1e30");
  ASSERT_TRUE(p.wait_for("Scaling: positive")) << p.output();
  ASSERT_TRUE(p.wait_for("Do you want to change display levels (y/n)?"));
  const Screenshot pos = take_screenshot(x, ff.dir.file("positive.xwd"), &why);
  ASSERT_FALSE(pos.empty()) << why;
  EXPECT_GT(grey_range(pos, ssx, ssy).second, 215);
  EXPECT_LT(sky_grey(pos, img, ff.field), 100);
  p.send("n");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)"));

  // Zoom onto 50 x 50 pixels around the star: every image pixel is one uniform square block
  // of about 448/50 screen pixels, not a smoothed gradient.
  p.send("m");
  ASSERT_TRUE(p.wait_for("0) Return back to the main options"));
  p.send("1");
  ASSERT_TRUE(p.wait_for("Give the new zoom box size (width, height); both > 50"));
  p.send("50 50");
  ASSERT_TRUE(p.wait_for("Click on the area you want to zoom to."));
  ASSERT_TRUE(click_until(x, p, ssx, ssy, 1, "What do you want to do?")) << p.output();
  const Screenshot zoom = take_screenshot(x, ff.dir.file("zoom.xwd"), &why);
  ASSERT_FALSE(zoom.empty()) << why;
  const Frame zf = ImageFrame::of(*g, 1, 50, 1, 50).frame;  // any 50 x 50 pixels
  const double cell_w = (zf.right - zf.left) / 50.0, cell_h = (zf.bottom - zf.top) / 50.0;
  EXPECT_NEAR(cell_w, cell_h, 0.01);
  const int l = static_cast<int>(zf.left) + 2, t = static_cast<int>(zf.top) + 2;
  const int w = static_cast<int>(zf.right - zf.left) - 4, h = static_cast<int>(zf.bottom - zf.top) - 4;
  for (int row : {t + h / 4, t + h / 2 + 3, t + 3 * h / 4})
    EXPECT_NEAR(median_run(zoom, l, row, w, 1, 0), cell_w, 1.5) << "row " << row;
  for (int col : {l + w / 4, l + w / 2 + 3, l + 3 * w / 4})
    EXPECT_NEAR(median_run(zoom, col, t, h, 0, 1), cell_h, 1.5) << "column " << col;
  // The star fills the middle of the zoomed frame.
  EXPECT_GT(grey_range(zoom, l + w / 2, t + h / 2).second, 215);
  leave_and_quit(p);
}

// Restores an environment variable at the end of a test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(XWindow, ButtonsAndKeysArriveAsTheCursorReportsThem) {
  XServer x;
  REQUIRE_X_SERVER(x);
  ScopedEnv display("DISPLAY", x.display());
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  Graphics gfx(con);
  ASSERT_TRUE(gfx.open_sized("/xw", 800, 600));
  ASSERT_TRUE(gfx.has_cursor());
  gfx.viewport(0.1f, 0.9f, 0.1f, 0.9f);
  gfx.window(0.0f, 100.0f, 0.0f, 100.0f);
  gfx.box();
  gfx.flush();
  const auto g = find_window(x, "giza", milliseconds(5000));
  ASSERT_TRUE(g);
  const Frame f = Frame::of_window(*g);
  ASSERT_TRUE(move_pointer(x, f.screen_x(25.0, 0, 100), f.screen_y(75.0, 0, 100)));

  // Each event is sent once, before the read: the read takes it all the same. After 20 s the
  // server is stopped, which ends a read that never returns. Esc is a key (it ends the click
  // loops); the mouse wheel (buttons 4 and 5) and other control keys are not reads: the click
  // after them is.
  struct Case {
    std::vector<std::string> xdotool;
    char key;
  };
  const Case cases[] = {{{"xdotool", "click", "1"}, 'A'},
                        {{"xdotool", "click", "2"}, 'D'},
                        {{"xdotool", "click", "3"}, 'X'},
                        {{"xdotool", "key", "k"}, 'k'},
                        {{"xdotool", "key", "K"}, 'K'},
                        {{"xdotool", "key", "7"}, '7'},
                        {{"xdotool", "key", "Escape"}, '\x1b'},
                        {{"xdotool", "click", "4", "click", "5", "key", "Tab", "click", "3"}, 'X'}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xdotool[1] + " " + c.xdotool[2] + (c.xdotool.size() > 3 ? " ..." : ""));
    ASSERT_EQ(run_x_tool(x, c.xdotool), 0);
    std::atomic<bool> done{false};
    std::thread sender([&] {
      const auto end = std::chrono::steady_clock::now() + milliseconds(20000);
      while (!done && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(milliseconds(50));
      if (!done) x.stop();
    });
    const CursorRead r = gfx.cursor(50.0f, 50.0f);
    done = true;
    sender.join();
    EXPECT_EQ(r.key, c.key);
    EXPECT_NEAR(r.x, 25.0f, 0.5f);
    EXPECT_NEAR(r.y, 75.0f, 0.5f);
  }
  gfx.close_all();
}

}  // namespace
}  // namespace zelvo::testing

namespace zelvo::testing {
namespace {

// Width and height, in screen pixels, of a bright disc on black around (sx, sy): the
// largest brightness summed along a row (a column) near the centre, within `reach` pixels
// of it (a pixel the edge crosses counts in part).
std::pair<double, double> bright_extents(const Screenshot& s, int sx, int sy, int reach) {
  double w = 0, h = 0;
  for (int k = -4; k <= 4; ++k) {
    double row = 0, col = 0;
    for (int d = -reach; d <= reach; ++d) {
      row += std::max(0, s.grey(sx + d, sy + k)) / 255.0;
      col += std::max(0, s.grey(sx + k, sy + d)) / 255.0;
    }
    w = std::max(w, row);
    h = std::max(h, col);
  }
  return {w, h};
}

bool reddish(const Screenshot& s, int sx, int sy, int c) {
  if (sx < 0 || sy < 0 || sx >= s.width || sy >= s.height) return false;
  const std::size_t k =
      (static_cast<std::size_t>(sy) * static_cast<std::size_t>(s.width) + static_cast<std::size_t>(sx)) * 3;
  const int r = s.rgb[k], g = s.rgb[k + 1], b = s.rgb[k + 2];
  return c == 0 ? (r > 150 && g < 110 && b < 110) : (g > 120 && r < 110 && b < 110);  // 0 red, 1 green
}

// Whether a pixel of colour c (0 red, 1 green) lies within `reach` screen pixels of (sx, sy).
bool colour_near(const Screenshot& s, int sx, int sy, int c, int reach = 2) {
  for (int dy = -reach; dy <= reach; ++dy)
    for (int dx = -reach; dx <= reach; ++dx)
      if (reddish(s, sx + dx, sy + dy, c)) return true;
  return false;
}

TEST(XWindow, ARoundDiscIsDrawnRoundAlsoAfterTheWindowIsResized) {
  XServer x;
  REQUIRE_X_SERVER(x);
  ScratchFolder dir;
  dir.write("Zelvo.ini", "3\n0\n");
  // A flat disc of radius 40 on a 400 x 200 image: its width and its height are 81 pixels.
  Image disc(400, 200, 0.0f);
  for (int j = 1; j <= 200; ++j)
    for (int i = 1; i <= 400; ++i)
      if (std::hypot(i - 200.0, j - 100.0) <= 40.0) disc.at(i, j) = 1000.0f;
  dir.write_fits("disc.fits", disc);
  XProgram p(x, dir.path(), {});
  start_to_menu(p);
  p.send("l");
  p.send("disc.fits");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)"));
  const auto show = [&] {
    p.send("d");
    p.send("1");
    ASSERT_TRUE(p.wait_for("Do you want to change display levels (y/n)?")) << p.output();
    p.send("y");
    p.send("0 1000 p");
    p.send("-1 2000");
    ASSERT_TRUE(p.wait_for("Scaling: positive")) << p.output();
    ASSERT_TRUE(p.wait_for("Do you want to change display levels (y/n)?")) << p.output();
  };
  // The window as opened (800 x 600), then made wide and low, then tall and narrow.
  const int sizes[][2] = {{800, 600}, {1200, 500}, {600, 900}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + " x " + std::to_string(size[1]));
    if (size[0] != 800) {
      ASSERT_TRUE(resize_window(x, "giza", size[0], size[1]));
    }
    show();
    const auto g = find_window(x, "giza", milliseconds(5000));
    ASSERT_TRUE(g);
    ASSERT_EQ(g->width, size[0]);
    const ImageFrame f = ImageFrame::of(*g, 1, 400, 1, 200);
    std::string why;
    const Screenshot shot = take_screenshot(x, dir.file("disc.xwd"), &why);
    ASSERT_FALSE(shot.empty()) << why;
    const auto [w, h] = bright_extents(shot, f.sx(200.0), f.sy(100.0), static_cast<int>(60 * f.pixel()));
    EXPECT_LE(std::abs(w - h), 1.0) << "disc drawn " << w << " x " << h << " screen pixels";
    // The picture fills the window as it is now: the disc is 81 pixels of the new scale.
    EXPECT_NEAR(w, 81.0 * f.pixel(), 2.0);
    p.send("n");
    ASSERT_TRUE(p.wait_for("Q = Quit (without saving)"));
  }
  p.send("q");
  EXPECT_EQ(p.finish(), 0);
}

TEST(XWindow, PhotometryDrawsClosedCirclesAndItsLoopEndsOnQAndOnAClickOutsideAfterUnzooming) {
  XServer x;
  REQUIRE_X_SERVER(x);
  FieldFolder ff(3);
  const FieldStar star = lone_bright_star(ff.field);
  ASSERT_GT(star.peak, 500.0);
  XProgram p(x, ff.dir.path(), {});
  start_to_menu(p);
  // No D first: the views take the automatic levels themselves.
  p.send("l");
  p.send("field.fits");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)"));
  p.send("o");
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.output();
  const auto g = find_window(x, "giza", milliseconds(5000));
  ASSERT_TRUE(g);
  const ImageFrame whole = ImageFrame::of(*g, 1, ff.nx(), 1, ff.ny());
  p.send("2");
  p.send("4 12 20");
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.output();
  // Zoom onto 50 x 50 pixels around the star.
  p.send("1");
  p.send("50 50");
  ASSERT_TRUE(p.wait_for("Click on the area you want to zoom to.")) << p.output();
  ASSERT_TRUE(click_until(x, p, whole.sx(star.x), whole.sy(star.y), 1, "0) Return back to the main options"));
  const int zx = static_cast<int>(std::lround(whole.wx(whole.sx(star.x))));
  const int zy = static_cast<int>(std::lround(whole.wy(whole.sy(star.y))));
  const ImageFrame zoom = ImageFrame::of(*g, zx - 24, zx + 25, zy - 24, zy + 25);
  p.send("4");
  ASSERT_TRUE(p.wait_for("Click on the centre of the aperture photometry object.")) << p.output();
  ASSERT_TRUE(click_until(x, p, zoom.sx(star.x), zoom.sy(star.y), 1, "Actual centre: ")) << p.output();
  ASSERT_TRUE(p.wait_for("The corrected flux and corresponding magnitude = ")) << p.output();
  ASSERT_TRUE(p.wait_for("Click on the centre of the aperture photometry object.")) << p.output();
  const auto measured = numbers_in(p.output().substr(p.output().rfind("Actual centre: ") + 15, 40));
  ASSERT_GE(measured.size(), 2u);
  std::string why;
  const Screenshot shot = take_screenshot(x, ff.dir.file("apertures.xwd"), &why);
  ASSERT_FALSE(shot.empty()) << why;
  // The annulus circles (red) and the star aperture (green) around the measured centre, all
  // the way round: at 0, 0.5 (where an open polyline leaves its gap), 90, 180 and 270 degrees.
  for (const double deg : {0.0, 0.5, 90.0, 180.0, 270.0}) {
    const double a = deg * 3.14159265358979 / 180.0;
    for (const auto& [r, c] : {std::pair{20.0, 0}, std::pair{12.0, 0}, std::pair{4.0, 1}}) {
      const int sx = zoom.sx(measured[0] + r * std::cos(a)), sy = zoom.sy(measured[1] + r * std::sin(a));
      EXPECT_TRUE(colour_near(shot, sx, sy, c)) << "radius " << r << " at " << deg << " degrees";
    }
  }
  // The key q ends the loop: back to the menu, nothing measured.
  ASSERT_TRUE(move_pointer(x, zoom.sx(star.x + 10), zoom.sy(star.y)));
  ASSERT_TRUE(press_key(x, "q"));
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.output();
  // The whole image again: the window shows it, and a click left of it ends the loop.
  p.send("1");
  p.send(std::to_string(ff.nx()) + " " + std::to_string(ff.ny()));
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.output();
  p.send("4");
  ASSERT_TRUE(p.wait_for("Click on the centre of the aperture photometry object.")) << p.output();
  const auto outside =
      click_until(x, p, static_cast<int>(whole.frame.left) - 30,
                  static_cast<int>(0.5 * (whole.frame.top + whole.frame.bottom)), 1, "You clicked at ");
  ASSERT_TRUE(outside) << p.output();
  EXPECT_LT(numbers_in(*outside).at(0), 0.5);
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.output();
  leave_and_quit(p);
  // One measurement logged: the key and the click outside measured nothing.
  std::istringstream log(ff.dir.read("ZelvoApPhot.log"));
  int records = 0;
  for (std::string line; std::getline(log, line);)
    if (numbers_in(line).size() == 4 && line.find("magnitude") == std::string::npos) ++records;
  EXPECT_EQ(records, 1) << ff.dir.read("ZelvoApPhot.log");
}

// The X server going away leaves the session running without graphics, with one line, so
// that the user can still save: lost while the menu waits for a key, or while the mouse menu
// waits for a click (the position is then typed).
struct LostDisplay {
  const char* name;
  std::vector<std::string> before;  // keys sent, with the prompt waited for after the last
  const char* waiting;
  std::vector<std::string> after;  // typed once the display is gone, back to the main menu
};

class XDisplayLost : public ::testing::TestWithParam<LostDisplay> {};

TEST_P(XDisplayLost, TheSessionGoesOnWithoutGraphicsAndSaves) {
  const LostDisplay& c = GetParam();
  XServer x;
  REQUIRE_X_SERVER(x);
  FieldFolder ff(3);
  XProgram p(x, ff.dir.path(), {});
  start_to_menu(p);
  load_and_display(p);
  p.send("n");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)"));
  for (const std::string& k : c.before) p.send(k);
  ASSERT_TRUE(p.wait_for(c.waiting)) << p.output();
  x.stop();
  const std::string lost = "The X display was lost; Zelvo goes on without graphics";
  ASSERT_TRUE(p.wait_for(lost)) << p.output();
  for (const std::string& k : c.after) p.send(k);
  p.send("d");
  p.send("1");
  ASSERT_TRUE(p.wait_for("Do you want to change display levels (y/n)?")) << p.output();
  p.send("n");
  p.send("s");
  p.send("kept.fits");
  ASSERT_TRUE(p.wait_for("Finished writing file kept.fits")) << p.output();
  p.send("q");
  EXPECT_EQ(p.finish(), 0) << p.output();
  EXPECT_EQ(count_of(p.output(), lost), 1) << p.output();
  EXPECT_EQ(ff.dir.read_fits("kept.fits").px, ff.field.image.px);
}

INSTANTIATE_TEST_SUITE_P(Moments, XDisplayLost,
                         ::testing::Values(LostDisplay{"AtTheMenu", {""}, "Q = Quit (without saving)", {}},
                                           LostDisplay{"DuringAClick",
                                                       {"m", "2"},
                                                       "Click on the centre of the area to be analysed.",
                                                       {"-20 -20", "0"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(XWindow, AFileNameWithAnUnderscoreIsDrawnAsTyped) {
  XServer x;
  REQUIRE_X_SERVER(x);
  FieldFolder ff(3);
  // The same image under two names that differ in one character: an underscore, and a
  // letter as wide as the underscore is drawn. Drawn literally, the two labels differ only
  // where that character stands; read as a subscript, the rest of the name would move.
  const std::string data = ff.dir.read("field.fits");
  ff.dir.write("field_clean.fits", data);
  ff.dir.write("fieldnclean.fits", data);
  XProgram p(x, ff.dir.path(), {});
  start_to_menu(p);
  std::vector<Screenshot> shots;
  for (const char* name : {"fieldnclean.fits", "field_clean.fits"}) {
    p.send("l");
    p.send(name);
    ASSERT_TRUE(p.wait_for("Q = Quit (without saving)"));
    p.send("d");
    p.send("1");
    ASSERT_TRUE(p.wait_for("Do you want to change display levels (y/n)?")) << p.output();
    std::string why;
    shots.push_back(take_screenshot(x, ff.dir.file("label.xwd"), &why));
    ASSERT_FALSE(shots.back().empty()) << why;
    p.send("n");
    ASSERT_TRUE(p.wait_for("Q = Quit (without saving)"));
  }
  const auto g = find_window(x, "giza", milliseconds(5000));
  ASSERT_TRUE(g);
  const Frame f = ImageFrame::of(*g, 1, ff.nx(), 1, ff.ny()).frame;
  // The band above the frame that holds the label.
  int first = -1, last = -1, ink = 0;
  for (int sx = static_cast<int>(f.left) - 5; sx < static_cast<int>(f.left) + 400; ++sx)
    for (int sy = static_cast<int>(f.top) - 45; sy < static_cast<int>(f.top) - 3; ++sy) {
      ink += shots[1].grey(sx, sy) < 128;
      if (shots[0].grey(sx, sy) != shots[1].grey(sx, sy)) {
        if (first < 0) first = sx;
        last = sx;
      }
    }
  EXPECT_GT(ink, 100) << "no label drawn";
  ASSERT_GE(first, 0) << "the two labels are drawn alike";
  EXPECT_LE(last - first, 14) << "the labels differ from column " << first << " to " << last;
  p.send("q");
  EXPECT_EQ(p.finish(), 0);
}

// Screenshots until `good` holds for one, for up to three seconds (the window is drawn
// while the program waits for its answer, a moment after the event).
Screenshot shot_until(const XServer& x, const std::string& file, const std::function<bool(const Screenshot&)>& good) {
  Screenshot s;
  for (int k = 0; k < 30; ++k) {
    s = take_screenshot(x, file);
    if (!s.empty() && good(s)) break;
    std::this_thread::sleep_for(milliseconds(100));
  }
  return s;
}

TEST(XWindow, AResizedWindowShowsThePictureAgainAtItsNewSizeWithoutACommand) {
  XServer x;
  REQUIRE_X_SERVER(x);
  FieldFolder ff(3);
  XProgram p(x, ff.dir.path(), {});
  start_to_menu(p);
  load_and_display(p);  // the level question stays unanswered while the window is resized
  ASSERT_TRUE(resize_window(x, "giza", 1100, 500));
  const auto g = find_window(x, "giza", milliseconds(5000));
  ASSERT_TRUE(g);
  ASSERT_EQ(g->width, 1100);
  const ImageFrame now = ImageFrame::of(*g, 1, ff.nx(), 1, ff.ny());
  const ImageFrame was = ImageFrame::of(WindowGeometry{g->x, g->y, 800, 600}, 1, ff.nx(), 1, ff.ny());
  const SyntheticField& field = ff.field;
  // The galaxy's core black (negative scaling) where the new frame puts it and light sky
  // where the old one had it; where the old frame's left edge was, the page is white now.
  ASSERT_GT(
      std::hypot(now.sx(field.galaxy.x) - was.sx(field.galaxy.x), now.sy(field.galaxy.y) - was.sy(field.galaxy.y)),
      30.0);
  const auto greys = [&](const Screenshot& s) {
    return std::array<int, 3>{s.grey(now.sx(field.galaxy.x), now.sy(field.galaxy.y)),
                              s.grey(was.sx(field.galaxy.x), was.sy(field.galaxy.y)),
                              s.grey(static_cast<int>(was.frame.left) + 3, g->y + g->height / 2)};
  };
  const auto redrawn = [&](const Screenshot& s) {
    const auto v = greys(s);
    return v[0] < 60 && v[1] > 200 && v[2] > 245;
  };
  const Screenshot s = shot_until(x, ff.dir.file("resized.xwd"), redrawn);
  ASSERT_FALSE(s.empty());
  const auto v = greys(s);
  EXPECT_TRUE(redrawn(s)) << "galaxy " << v[0] << ", where it was " << v[1] << ", old frame edge " << v[2];
  p.send("n");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)"));
  p.send("q");
  EXPECT_EQ(p.finish(), 0);
}

TEST(XWindow, BlinkFlipsTheResultViewBetweenTheStarAndTheRepaintedSky) {
  XServer x;
  REQUIRE_X_SERVER(x);
  FieldFolder ff(3);
  const FieldStar star = lone_bright_star(ff.field);
  ASSERT_GT(star.peak, 500.0) << "the field has no lone bright star";
  XProgram p(x, ff.dir.path(), {"--seed", "7"});
  const std::optional<ImageFrame> shown = field_on_screen(x, p, ff);
  ASSERT_TRUE(shown);
  const ImageFrame& f = *shown;
  const auto g = find_window(x, "giza", milliseconds(5000));
  ASSERT_TRUE(g);
  p.send("r");
  p.send("1");
  ASSERT_TRUE(p.wait_for("Click on the object you want to remove.")) << p.output();
  const auto at = click_until(x, p, f.sx(star.x), f.sy(star.y), 1, "You clicked at ");
  ASSERT_TRUE(at) << p.output();
  const auto xy = numbers_in(*at);
  ASSERT_EQ(xy.size(), 2u);
  ASSERT_TRUE(p.wait_for("Click on the object centre.")) << p.output();
  const int ixc = std::clamp(static_cast<int>(xy[0] + 0.5), 50, ff.nx() - 50);
  const int iyc = std::clamp(static_cast<int>(xy[1] + 0.5), 50, ff.ny() - 50);
  const ImageFrame area = ImageFrame::of(*g, ixc - 50, ixc + 50, iyc - 50, iyc + 50);
  ASSERT_TRUE(click_until(x, p, area.sx(star.x), area.sy(star.y), 1, "Give (absolute) value to the removal radius:"))
      << p.output();
  p.send("15");
  ASSERT_TRUE(p.wait_for("Do you want to UNDO previous removal (y/n)?")) << p.output();

  // The result view: the 101 x 101 stamp, square, in the viewport (0.3, 0.7) x (0.1, 0.5)
  // of the view surface (the window less 20 pixels each side).
  const double vw = g->width - 40.0, vh = g->height - 40.0;
  const double side = std::min(0.4 * vw, 0.4 * vh);
  const double left = g->x + 20.0 + 0.5 * vw - 0.5 * side, bottom = g->y + 20.0 + 0.9 * vh - 0.5 * (0.4 * vh - side);
  const int sx = static_cast<int>(left + (star.x - (ixc - 50) + 0.5) / 101.0 * side);
  const int sy = static_cast<int>(bottom - (star.y - (iyc - 50) + 0.5) / 101.0 * side);
  const auto star_grey = [&](const Screenshot& s) {
    int lo = 255;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) lo = std::min(lo, s.grey(sx + dx, sy + dy));
    return lo;
  };
  const Screenshot after = take_screenshot(x, ff.dir.file("after.xwd"));
  p.send("blink");
  ASSERT_TRUE(p.wait_for("Showing the area before the removal.")) << p.output();
  // Negative scaling at the user's levels: the star black before, the sky light grey after.
  const Screenshot before =
      shot_until(x, ff.dir.file("before.xwd"), [&](const Screenshot& s) { return star_grey(s) < 40; });
  ASSERT_TRUE(move_pointer(x, sx, sy));
  ASSERT_TRUE(press_key(x, "b"));
  ASSERT_TRUE(p.wait_for("Showing the area after the removal.")) << p.output();
  const Screenshot again =
      shot_until(x, ff.dir.file("again.xwd"), [&](const Screenshot& s) { return star_grey(s) > 100; });
  EXPECT_GT(star_grey(after), 100) << "the result view shows the repainted sky";
  EXPECT_LT(star_grey(before), 40) << "blink shows the star as it was";
  EXPECT_GT(star_grey(again), 100) << "and then the repainted sky again";
  ASSERT_TRUE(click(x, 1));  // any other key or a click ends the blink
  ASSERT_TRUE(p.wait_for("Do you want to UNDO previous removal (y/n)?")) << p.output();
  p.send("n");
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.output();
  leave_and_quit(p);
}

TEST(XWindow, ClicksAndKeysInQuickSuccessionCountOnceEachAndAClickOffTheImageIsRefused) {
  XServer x;
  REQUIRE_X_SERVER(x);
  FieldFolder ff(3);
  const FieldStar star = lone_bright_star(ff.field);
  ASSERT_GT(star.peak, 500.0) << "the field has no lone bright star";
  XProgram p(x, ff.dir.path(), {"--seed", "7"});
  const std::optional<ImageFrame> shown = field_on_screen(x, p, ff);
  ASSERT_TRUE(shown);
  const ImageFrame& f = *shown;
  const auto g = find_window(x, "giza", milliseconds(5000));
  ASSERT_TRUE(g);
  const auto at = [](int sx, int sy) {
    return std::vector<std::string>{"mousemove", "--sync", std::to_string(sx), std::to_string(sy), "click", "1"};
  };
  const auto send = [&](std::vector<std::vector<std::string>> steps) {
    std::vector<std::string> argv = {"xdotool"};
    for (auto& st : steps) argv.insert(argv.end(), st.begin(), st.end());
    return run_x_tool(x, argv);
  };

  const int sx = f.sx(star.x), sy = f.sy(star.y);
  // Ctrl-C while the centre is awaited in the zoomed area: back at the main menu at once,
  // the image as it was (the submenu's constant level taken out again).
  p.send("r");
  p.send("1");
  ASSERT_TRUE(p.wait_for("Click on the object you want to remove.")) << p.output();
  ASSERT_TRUE(click_until(x, p, sx, sy, 1, "Click on the object centre.")) << p.output();
  p.interrupt();
  ASSERT_TRUE(p.wait_for("Ctrl-C: the command was abandoned; back at the main menu.", milliseconds(3000)))
      << p.output();
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.output();
  p.send("s");
  p.send("same.fits");
  p.send("");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.output();
  EXPECT_EQ(ff.dir.read_fits("same.fits").px, ff.field.image.px);

  // Three clicks in one go: left of the frame (refused), on the star, and on its centre in
  // the 101 x 101 area the star's click zooms to.
  p.send("r");
  p.send("1");
  ASSERT_TRUE(p.wait_for("Click on the object you want to remove.")) << p.output();
  const int ixc = std::clamp(static_cast<int>(f.wx(sx) + 0.5), 50, ff.nx() - 50);
  const int iyc = std::clamp(static_cast<int>(f.wy(sy) + 0.5), 50, ff.ny() - 50);
  const ImageFrame area = ImageFrame::of(*g, ixc - 50, ixc + 50, iyc - 50, iyc + 50);
  const std::size_t from = p.output().size();
  ASSERT_EQ(send({at(static_cast<int>(f.frame.left) - 30, sy), at(sx, sy), at(area.sx(star.x), area.sy(star.y))}), 0);
  ASSERT_TRUE(p.wait_for("Give (absolute) value to the removal radius:")) << p.output();
  const std::string picked = p.output().substr(from);
  EXPECT_EQ(count_of(picked, "That click lies outside the image shown"), 1) << picked;
  EXPECT_EQ(count_of(picked, "You clicked at "), 1) << picked;
  p.send("15");
  ASSERT_TRUE(p.wait_for("Do you want to UNDO previous removal (y/n)?")) << p.output();
  p.send("n");
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.output();

  // The key q where the object is awaited: back to the submenu, nothing removed.
  p.send("1");
  ASSERT_TRUE(p.wait_for("Click on the object you want to remove.")) << p.output();
  ASSERT_TRUE(press_key(x, "q"));
  ASSERT_TRUE(p.wait_for("0) Return back to the main options")) << p.output();
  p.send("0");
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.output();

  // The pixel analysis: three clicks and q in one go give three reports and the menu.
  p.send("m");
  p.send("2");
  ASSERT_TRUE(p.wait_for("Click on the centre of the area to be analysed.")) << p.output();
  const std::size_t before_clicks = p.output().size();
  auto keys = std::vector<std::vector<std::string>>{
      at(f.sx(100.0), f.sy(100.0)), at(f.sx(200.0), f.sy(300.0)), at(f.sx(400.0), f.sy(50.0)), {"key", "q"}};
  ASSERT_EQ(send(keys), 0);
  ASSERT_TRUE(p.wait_for("What do you want to do?")) << p.output();
  const std::string analysed = p.output().substr(before_clicks);
  EXPECT_EQ(count_of(analysed, "Value of the pixel you clicked was: "), 3) << analysed;

  // Ctrl-C while a click is awaited ends the wait at once, back at the main menu.
  p.send("2");
  ASSERT_TRUE(p.wait_for("Click on the centre of the area to be analysed.")) << p.output();
  p.interrupt();
  ASSERT_TRUE(p.wait_for("Ctrl-C: the command was abandoned; back at the main menu.", milliseconds(3000)))
      << p.output();
  ASSERT_TRUE(p.wait_for("Q = Quit (without saving)")) << p.output();
  p.send("q");
  ASSERT_TRUE(p.wait_for("Quit anyway")) << p.output();
  p.send("y");
  EXPECT_EQ(p.finish(), 0) << p.output();

  // One removal recorded: no click was taken twice.
  std::istringstream record(ff.dir.read("ZelvoRepeat.log"));
  int removals = 0;
  for (std::string line; std::getline(record, line);) removals += numbers_in(line).size() == 4;
  EXPECT_EQ(removals, 1) << ff.dir.read("ZelvoRepeat.log");
}

}  // namespace
}  // namespace zelvo::testing
