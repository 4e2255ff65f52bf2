// Image display with automatic levels: the level estimate, the statistics and summary
// lines, the drawing and the level dialogue of the display command.
#include "display/display.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"

namespace zelvo {

namespace {

constexpr const char* kMaximumText = "The maximum pixel value in the image = ";
constexpr const char* kMinimumText = "The minimum pixel value in the image = ";
constexpr const char* kAverageText = "The average of image pixel values = ";
constexpr const char* kNoFinitePixels =
    "The image holds no finite pixel values (only NaN or infinite ones); it is not drawn.";
constexpr const char* kChangeLevelsQuestion = "Do you want to change display levels (y/n)? ";
constexpr const char* kLevelsPrompt[] = {
    "Give new levels for the black (low) and white (high) ",
    "end of the greyscale system followed by p to display ",
    "the image in positive or n in negative scaling: ",
};
constexpr const char* kLimitsPrompt[] = {
    "Give min and max limits for the levels (for automatic ",
    "processes which determine the levels for their own use;",
    "first smaller and then larger value:",
};
constexpr const char* kSillyLimits = "That is silly, you can not give min value equal or ";
constexpr const char* kSillyLimitsSet = "greater than max value. Values set at ";

// Frame of the display: the central 80 % of the view surface.
constexpr float kViewportLow = 0.1f, kViewportHigh = 0.9f;

constexpr float kFloatMax = std::numeric_limits<float>::max();

float clamp_to_float_range(double v) {
  if (std::isnan(v)) return 0.0f;
  return static_cast<float>(std::clamp(v, -static_cast<double>(kFloatMax), static_cast<double>(kFloatMax)));
}

// Sums of the finite pixels of `box` in 32-bit floats, as the level estimate keeps them.
void sum_box(const ImageView& image, const PixelBox& box, AutoLevels& lv) {
  float s1 = 0.0f, s2 = 0.0f;
  int n = 0;
  for (int j = box.j1; j <= box.j2; ++j) {
    for (int i = box.i1; i <= box.i2; ++i) {
      const float p = image.at(i, j);
      if (!std::isfinite(p)) continue;
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
void mean_sigma_wide(const ImageView& image, const PixelBox& box, AutoLevels& lv) {
  double sum = 0.0;
  for (int j = box.j1; j <= box.j2; ++j)
    for (int i = box.i1; i <= box.i2; ++i)
      if (const float p = image.at(i, j); std::isfinite(p)) sum += p;
  const double mean = sum / lv.n;
  double dev2 = 0.0;
  for (int j = box.j1; j <= box.j2; ++j)
    for (int i = box.i1; i <= box.i2; ++i)
      if (const float p = image.at(i, j); std::isfinite(p)) dev2 += (p - mean) * (p - mean);
  const double sigma = lv.n > 1 ? std::sqrt(dev2 / (lv.n - 1)) : 0.0;
  lv.negative_variance = false;
  lv.mean = clamp_to_float_range(mean);
  lv.sigma = clamp_to_float_range(sigma);
  lv.highlev = clamp_to_float_range(mean + 5.0 * sigma);
  lv.lowlev = clamp_to_float_range(mean - sigma);
}

// The drawing of one display: label, frame and image on the current device.
void draw_display(const DisplaySource& src, const DisplayState& st, bool finite, bool erase, Console& con,
                  Graphics& gfx) {
  const ImageView& img = src.image;
  if (erase) gfx.erase();
  // Square pixels: the frame is the largest centred part of the central 80 % of the view
  // surface with equal scales, and the label sits above it.
  gfx.viewport(kViewportLow, kViewportHigh, kViewportLow, kViewportHigh);
  const WorldWindow w = pixel_window(1, img.nx, 1, img.ny);
  gfx.window_equal_scales(w.x1, w.x2, w.y1, w.y2);
  gfx.window(0.0f, 1.0f, 0.0f, 1.0f);
  gfx.literal_text(0.0f, 1.03f, 0.0f, display_label(src.name));
  gfx.window(w.x1, w.x2, w.y1, w.y2);
  if (!finite) {
    // The screen path has already said so with the statistics.
    if (st.printflag == 1) con.text(kNoFinitePixels);
  } else if (st.greyflag == 1 || st.greyflag == 0) {
    gfx.image(img, 1, img.nx, 1, img.ny, st.fglev, st.bglev, st.displaytr, st.greyflag == 1);
  }
  gfx.box("BCNST", 0.0f, 0, "BCNST", 0.0f, 0);
  gfx.flush();
}

}  // namespace

PixelBox central_box(int nx, int ny) {
  const int half = nx / 10;
  // nx/2 is 0 for a one-column image (and ny/2 for a one-row one): centre on pixel 1 then.
  const int ci = std::max(nx / 2, 1), cj = std::max(ny / 2, 1);
  return PixelBox{std::max(ci - half, 1), std::min(ci + half, nx), std::max(cj - half, 1), std::min(cj + half, ny)};
}

AutoLevels automatic_levels(const ImageView& image, float minlim, float maxlim) {
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
    sum_box(image, PixelBox{1, image.nx, 1, image.ny}, lv);
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

void ensure_display_levels(const ImageView& image, DisplayState& st) {
  if (st.levels_set || image.empty()) return;
  const AutoLevels lv = automatic_levels(image, st.minlim, st.maxlim);
  st.lowlev = lv.lowlev;
  st.highlev = lv.highlev;
  set_display_polarity(st);
  st.displaytr = {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  st.levels_set = true;
}

void DISPLAYIMAGE(const DisplaySource& src, DisplayState& st, const HeaderTexts& texts, bool dialogue,
                  Console& con, Graphics& gfx) {
  const ImageView& img = src.image;
  if (img.empty()) {
    con.text("The image slot is empty; there is nothing to display.");
    return;
  }

  const AutoLevels lv = automatic_levels(img, st.minlim, st.maxlim);
  if (lv.negative_variance) con.record({"ERROR: ss2=", lv.s2, " skymean=", lv.s1, " ncnt=", lv.n});
  st.lowlev = lv.lowlev;
  st.highlev = lv.highlev;
  set_display_polarity(st);
  st.displaytr = {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  st.levels_set = true;

  if (st.printflag == 1) {
    draw_display(src, st, lv.finite, false, con, gfx);
    return;
  }

  const ImageStatistics stats = image_statistics(img);
  con.blank();
  if (stats.finite > 0) {
    con.record({kMaximumText, stats.maximum});
    con.record({kMinimumText, stats.minimum});
    con.record({kAverageText, stats.average});
  } else {
    con.text(kNoFinitePixels);
  }
  con.line(summary_line(src.object, src.name, texts));

  for (;;) {
    con.record({"Display levels:  Low = ", st.lowlev, "  High = ", st.highlev,
                st.scaling == 'n' ? "  Scaling: negative" : "  Scaling: positive"});
    gfx.focus();
    draw_display(src, st, lv.finite, true, con, gfx);
    con.focus_command();
    if (!dialogue) return;

    con.text(kChangeLevelsQuestion);
    if (con.read_char() == 'n') return;
    for (const char* l : kLevelsPrompt) con.text(l);
    con.read_list({&st.lowlev, &st.highlev, &st.scaling});
    if (st.scaling == 'N') st.scaling = 'n';
    if (st.scaling == 'P') st.scaling = 'p';
    if (st.scaling != 'n' && st.scaling != 'p') st.scaling = 'n';
    set_display_polarity(st);
    for (const char* l : kLimitsPrompt) con.text(l);
    con.read_list({&st.minlim, &st.maxlim});
    if (!(st.minlim < st.maxlim)) {
      st.minlim = stats.minimum;
      st.maxlim = stats.maximum;
      con.text(kSillyLimits);
      con.record({kSillyLimitsSet, st.minlim, st.maxlim});
    }
  }
}

}  // namespace zelvo
