// Image display with automatic levels: the level estimate, the summary line and the drawing.
#include "display/display.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numeric/pixel_values.h"
#include "platform/graphics.h"
#include "text/list_format.h"

namespace zelvo {

namespace {

// Frame of the display: the central 80 % of the view surface.
constexpr float kViewportLow = 0.1f, kViewportHigh = 0.9f;

constexpr float kFloatMax = std::numeric_limits<float>::max();

float clamp_to_float_range(double v) {
  if (std::isnan(v)) return 0.0f;
  return static_cast<float>(std::clamp(v, -static_cast<double>(kFloatMax), static_cast<double>(kFloatMax)));
}

// Sums of the finite pixels of `box` in 32-bit floats, as the level estimate keeps them.
void sum_box(ConstImageView image, const Box& box, AutoLevels& lv) {
  float s1 = 0.0f, s2 = 0.0f;
  int n = 0;
  for (int j = box.y0; j <= box.y1; ++j) {
    for (int i = box.x0; i <= box.x1; ++i) {
      const float p = image.at(i, j);
      if (!counted_pixel(p)) continue;
      const float pp = p * p;
      s1 += p;
      s2 += pp;
      ++n;
    }
  }
  lv.s1 = s1;
  lv.s2 = s2;
  lv.n = n;
  lv.box = box;
}

// Mean and sigma again in double precision, for boxes whose 32-bit sums overflow.
void mean_sigma_wide(ConstImageView image, const Box& box, AutoLevels& lv) {
  double sum = 0.0;
  for (int j = box.y0; j <= box.y1; ++j)
    for (int i = box.x0; i <= box.x1; ++i)
      if (const float p = image.at(i, j); counted_pixel(p)) sum += p;
  const double mean = sum / lv.n;
  double dev2 = 0.0;
  for (int j = box.y0; j <= box.y1; ++j)
    for (int i = box.x0; i <= box.x1; ++i)
      if (const float p = image.at(i, j); counted_pixel(p)) dev2 += (p - mean) * (p - mean);
  const double sigma = lv.n > 1 ? std::sqrt(dev2 / (lv.n - 1)) : 0.0;
  lv.negative_variance = false;
  lv.mean = clamp_to_float_range(mean);
  lv.sigma = clamp_to_float_range(sigma);
  lv.highlev = clamp_to_float_range(mean + 5.0 * sigma);
  lv.lowlev = clamp_to_float_range(mean - sigma);
}

}  // namespace

Box central_box(int nx, int ny) {
  const int half = nx / 10;
  // nx/2 is 0 for a one-column image (and ny/2 for a one-row one): centre on pixel 1 then.
  const int ci = std::max(nx / 2, 1), cj = std::max(ny / 2, 1);
  return Box{std::max(ci - half, 1), std::min(ci + half, nx), std::max(cj - half, 1), std::min(cj + half, ny)};
}

AutoLevels automatic_levels(ConstImageView image, float minlim, float maxlim) {
  AutoLevels lv{};
  lv.lowlev = lv.highlev = 0.0f;
  if (image.empty()) {
    lv.finite = false;
    return lv;
  }
  sum_box(image, central_box(image.nx, image.ny), lv);
  if (lv.n == 0) {
    // Nothing finite in the centre (a masked or blank core): use every finite pixel.
    lv.whole_image = true;
    sum_box(image, Box{1, image.nx, 1, image.ny}, lv);
  }
  if (lv.n == 0) {
    lv.finite = false;
    return lv;
  }

  // 32-bit arithmetic throughout, as the sums were kept.
  const float nf = static_cast<float>(lv.n);
  float sigma = 0.0f;
  if (lv.n > 1) {
    const float var = (lv.s2 - lv.s1 * lv.s1 / nf) / (nf - 1.0f);
    if (var < 0.0f) {
      lv.negative_variance = true;
      sigma = 1.0f;
    } else {
      sigma = std::sqrt(var);
    }
  }  // a single pixel has no spread: sigma 0
  lv.mean = lv.s1 / nf;
  lv.sigma = sigma;
  lv.highlev = lv.mean + 5.0f * sigma;
  lv.lowlev = lv.mean - 1.0f * sigma;
  if (!std::isfinite(lv.s1) || !std::isfinite(lv.s2) || !std::isfinite(lv.highlev) || !std::isfinite(lv.lowlev))
    mean_sigma_wide(image, lv.box, lv);

  if (lv.lowlev < minlim) lv.lowlev = minlim;
  if (lv.highlev > maxlim) lv.highlev = maxlim;
  return lv;
}

AutoLevels display_levels(ConstImageView image, const DisplayState& st, std::size_t finite_pixels) {
  AutoLevels lv = automatic_levels(image, st.minlim, st.maxlim);
  if (st.level_mode != LevelMode::zscale || !lv.finite) return lv;
  ZscaleOptions opt;
  opt.finite_pixels = finite_pixels;
  if (const auto z = zscale_levels(image, opt)) {
    lv.negative_variance = false;
    lv.lowlev = z->low < st.minlim ? st.minlim : z->low;
    lv.highlev = z->high > st.maxlim ? st.maxlim : z->high;
  }
  return lv;
}

DisplayState view_state(ConstImageView image, const Box& area, const DisplayState& st) {
  DisplayState shown = st;
  const Box cut = area.clipped(image.nx, image.ny);
  if (cut.empty() || image.empty()) return shown;
  Image pixels(cut.x1 - cut.x0 + 1, cut.y1 - cut.y0 + 1);
  for (int j = cut.y0; j <= cut.y1; ++j)
    for (int i = cut.x0; i <= cut.x1; ++i) pixels.at(i - cut.x0 + 1, j - cut.y0 + 1) = image.at(i, j);
  float low = 0.0f, high = 0.0f;
  if (st.view == ViewLevels::zscale) {
    const auto z = zscale_levels(pixels.view());
    if (!z) return shown;
    low = z->low;
    high = z->high;
  } else {
    bool any = false;
    for (float v : pixels.px) {
      if (!counted_pixel(v)) continue;
      low = any ? std::min(low, v) : v;
      high = any ? std::max(high, v) : v;
      any = true;
    }
    if (!any) return shown;
  }
  if (low < st.minlim) low = st.minlim;
  if (high > st.maxlim) high = st.maxlim;
  if (!(low < high)) return shown;
  shown.lowlev = low;
  shown.highlev = high;
  set_display_polarity(shown);
  return shown;
}

std::string level_caption(const DisplayState& st, bool view) {
  const std::string stretch(stretch_name(st.stretch));
  if (view) return stretch + (st.view == ViewLevels::zscale ? " zscale of view" : " range of view");
  if (st.typed) return stretch + " typed levels";
  return stretch + (st.level_mode == LevelMode::zscale ? " zscale" : "");
}

std::string_view level_mode_name(LevelMode m) { return m == LevelMode::zscale ? "zscale" : "text"; }

std::string summary_line(std::string_view object, std::string_view name, const HeaderTexts& texts) {
  // The header texts are blank-padded: their first characters are taken with the padding.
  std::string line;
  line += pad_right(object, 20);
  line += pad_left(pad_right(texts.hdrra, 8), 11);
  line += pad_left(pad_right(texts.hdrdec, 9), 10);
  line += pad_left(pad_right(texts.hdrst, 5), 6);
  line += std::string(5, ' ');  // a numeric field that no header value feeds
  line += ' ';
  line += texts.hdrfilter.empty() ? ' ' : texts.hdrfilter[0];
  line += ' ';
  line += pad_right(object, 20);
  line += pad_right(name, 20);
  return line;
}

std::string display_label(std::string_view name) { return "file : " + pad_right(name, 80); }

void set_display_polarity(DisplayState& st) {
  if (st.scaling == 'n') {
    st.fglev = st.lowlev;
    st.bglev = st.highlev;
  } else {
    st.fglev = st.highlev;
    st.bglev = st.lowlev;
  }
}

void ensure_display_levels(ConstImageView image, DisplayState& st) {
  if (st.levels_set || image.empty()) return;
  const AutoLevels lv = display_levels(image, st);
  st.lowlev = lv.lowlev;
  st.highlev = lv.highlev;
  set_display_polarity(st);
  st.displaytr = {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  st.levels_set = true;
}

void draw_display_frame(const DisplaySource& src, bool erase, Graphics& gfx) {
  ConstImageView img = src.image;
  if (erase) gfx.erase();
  // Square pixels: the frame is the largest centred part of the central 80 % of the view
  // surface with equal scales, and the label sits above it.
  gfx.viewport(kViewportLow, kViewportHigh, kViewportLow, kViewportHigh);
  const WorldWindow w = pixel_window(Box{1, img.nx, 1, img.ny});
  gfx.window_equal_scales(w.x1, w.x2, w.y1, w.y2);
  gfx.window(0.0f, 1.0f, 0.0f, 1.0f);
  gfx.literal_text(0.0f, 1.03f, 0.0f, display_label(src.name));
  gfx.window(w.x1, w.x2, w.y1, w.y2);
}

void draw_display_image(const DisplaySource& src, const DisplayState& st, bool finite, Graphics& gfx) {
  ConstImageView img = src.image;
  if (finite && (st.greyflag == 1 || st.greyflag == 0))
    gfx.image(img, Box{1, img.nx, 1, img.ny}, st.fglev, st.bglev, st.displaytr, st.greyflag == 1, st.stretch);
  gfx.box("BCNST", 0.0f, 0, "BCNST", 0.0f, 0);
  gfx.colour_bar(level_caption(st, false));
  gfx.flush();
}

}  // namespace zelvo
