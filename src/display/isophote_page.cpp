#include "display/isophote_page.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/graphics.h"

namespace zelvo {

namespace {

constexpr double kRadToDeg = 57.29577951308232;
constexpr int kFittedColour = 3;   // green
constexpr int kCarriedColour = 2;  // red

bool fitted(const Isophote& i) { return i.stop == IsophoteStop::converged || i.stop == IsophoteStop::max_iterations; }

// One panel of the right column: the values against sma, fitted isophotes as filled dots and
// the others as open circles, between the padded extremes of the values.
void panel(Graphics& gfx, float y1, float y2, const std::vector<float>& a, const std::vector<float>& v,
           const std::vector<uint8_t>& good, const char* name, bool bottom, bool downward = false,
           const std::vector<float>* dotted = nullptr) {
  float lo = std::numeric_limits<float>::infinity(), hi = -lo;
  std::vector<float> all = v;
  if (dotted) all.insert(all.end(), dotted->begin(), dotted->end());
  for (float x : all)
    if (std::isfinite(x)) {
      lo = std::min(lo, x);
      hi = std::max(hi, x);
    }
  if (!(lo <= hi)) lo = 0.0f, hi = 1.0f;
  const float pad = hi > lo ? 0.08f * (hi - lo) : std::max(0.05f * std::fabs(hi), 0.01f);
  const float amax = a.empty() ? 1.0f : 1.05f * a.back();
  gfx.viewport(0.6f, 0.95f, y1, y2);
  if (downward)
    gfx.window(0.0f, amax, hi + pad, lo - pad);
  else
    gfx.window(0.0f, amax, lo - pad, hi + pad);
  gfx.box(bottom ? "BCNST" : "BCST", 0.0f, 0, "BCNST", 0.0f, 0);
  std::array<std::vector<float>, 2> xs, ys;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!std::isfinite(v[i])) continue;
    xs[good[i] ? 0 : 1].push_back(a[i]);
    ys[good[i] ? 0 : 1].push_back(v[i]);
  }
  gfx.line(a, v);
  if (dotted) {
    gfx.line_style(4);
    gfx.line(a, *dotted);
    gfx.line_style(1);
  }
  gfx.colour(kFittedColour);
  gfx.points(xs[0], ys[0], 17);
  gfx.colour(kCarriedColour);
  gfx.points(xs[1], ys[1], 4);
  gfx.colour(1);
  gfx.label(bottom ? "semi-major axis (pixels)" : "", name, "");
}

}  // namespace

void draw_ellipse(Graphics& gfx, double x0, double y0, double a, double eps, double pa, int colour) {
  constexpr int kPoints = 180;
  std::vector<float> x(kPoints + 1), y(kPoints + 1);
  const double b = a * (1.0 - eps), c = std::cos(pa), s = std::sin(pa);
  for (int k = 0; k <= kPoints; ++k) {
    const double e = 2.0 * 3.141592653589793 * k / kPoints;
    const double u = a * std::cos(e), v = b * std::sin(e);
    x[static_cast<std::size_t>(k)] = static_cast<float>(x0 + u * c - v * s);
    y[static_cast<std::size_t>(k)] = static_cast<float>(y0 + u * s + v * c);
  }
  gfx.colour(colour);
  gfx.line(x, y);
  gfx.colour(1);
}

void draw_isophote_page(Graphics& gfx, ConstImageView image, const DisplayState& shown, const IsophotePage& page) {
  gfx.focus();
  gfx.erase();
  gfx.viewport(0.06f, 0.5f, 0.1f, 0.9f);
  gfx.window_equal_scales(0.5f, static_cast<float>(image.nx) + 0.5f, 0.5f, static_cast<float>(image.ny) + 0.5f);
  gfx.image(image, Box{1, image.nx, 1, image.ny}, shown.fglev, shown.bglev, shown.displaytr, shown.greyflag != 0,
            shown.stretch);
  gfx.box();
  gfx.line_width(1);
  for (const Isophote& i : page.isophotes)
    if (i.sma > 0.0)
      draw_ellipse(gfx, i.shape.x0, i.shape.y0, i.sma, i.shape.eps, i.shape.pa,
                   fitted(i) ? kFittedColour : kCarriedColour);
  gfx.line_width(3);

  std::vector<float> a, level, eps, pa, dx, dy;
  std::vector<uint8_t> good;
  const Isophote* centre = page.isophotes.empty() ? nullptr : &page.isophotes.front();
  for (const Isophote& i : page.isophotes) {
    if (i.sma <= 0.0) continue;
    a.push_back(static_cast<float>(i.sma));
    // Surface brightness with a zero point; otherwise the intensity on a log scale, which
    // shows the bulge and the faint disc alike.
    const double above = i.intens - page.sky;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    level.push_back(static_cast<float>(page.zero_point
                                           ? (above > 0.0 ? *page.zero_point - 2.5 * std::log10(above) : nan)
                                           : (i.intens > 0.0 ? std::log10(i.intens) : nan)));
    eps.push_back(static_cast<float>(i.shape.eps));
    pa.push_back(static_cast<float>(i.shape.pa * kRadToDeg));
    dx.push_back(static_cast<float>(i.shape.x0 - centre->shape.x0));
    dy.push_back(static_cast<float>(i.shape.y0 - centre->shape.y0));
    good.push_back(fitted(i) ? 1 : 0);
  }
  gfx.char_height(0.8f);
  panel(gfx, 0.72f, 0.92f, a, level, good, page.zero_point ? "mag/pixel\\u2\\d" : "log\\d10\\u intensity", false,
        page.zero_point.has_value());
  panel(gfx, 0.52f, 0.70f, a, eps, good, "ellipticity", false);
  panel(gfx, 0.32f, 0.50f, a, pa, good, "PA (deg)", false);
  // The centre's offsets from the nucleus: x solid, y dotted.
  panel(gfx, 0.1f, 0.30f, a, dx, good, "centre - nucleus", true, false, &dy);
  gfx.char_height(1.0f);
  gfx.flush();
}

}  // namespace zelvo
