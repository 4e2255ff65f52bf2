#include "display/zoom.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "numeric/fortran.h"
#include "platform/console.h"
#include "platform/graphics.h"

namespace zelvo {

namespace {

constexpr int kMinZoomSize = 50;
constexpr const char* kZoomSizePrompt = "Give the new zoom box size (width, height); both > 50 ";
constexpr const char* kZoomClickPrompt = "Click on the area you want to zoom to.";
constexpr const char* kAnalysisClickPrompt = "Click on the centre of the area to be analysed.";
constexpr const char* kSkyOfPixel = "Sky position of the pixel: ";

// Half-widths of the analysis boxes and their report texts.
struct AnalysisBox {
  int h;
  const char* lead;
};
constexpr std::array<AnalysisBox, 3> kAnalysisBoxes{{
    {2, "Values for a 5x5 box were (average and sigma): "},
    {4, "Values for a 9x9 box were (average and sigma): "},
    {7, "Values for a 15x15 box were (average and sigma): "},
}};
// Room for the largest box, 15 x 15 values.
constexpr int kMaxBoxValues = 225;

}  // namespace

ZoomBox whole_image_box(int nx, int ny) { return ZoomBox{nx, ny, nx / 2, ny / 2}; }

void clamp_zoom_size(ZoomBox& zoom, int nx, int ny) {
  if (zoom.zoomw < kMinZoomSize) zoom.zoomw = kMinZoomSize;
  if (zoom.zoomh < kMinZoomSize) zoom.zoomh = kMinZoomSize;
  if (zoom.zoomw > nx) zoom.zoomw = nx;
  if (zoom.zoomh > ny) zoom.zoomh = ny;
}

void centre_zoom_box(ZoomBox& zoom, float cursorx, float cursory, int nx, int ny) {
  zoom.zoomx = NINT_PIXEL(cursorx);
  zoom.zoomy = NINT_PIXEL(cursory);
  const int hw = zoom.zoomw / 2, hh = zoom.zoomh / 2;
  if (zoom.zoomx > nx - hw) zoom.zoomx = nx - hw;
  if (zoom.zoomy > ny - hh) zoom.zoomy = ny - hh;
  // The lower edge, centre - half size, must be index 1 or more, or the area near the left
  // or bottom edge would be drawn from index 0.
  if (zoom.zoomx < hw + 1) zoom.zoomx = hw + 1;
  if (zoom.zoomy < hh + 1) zoom.zoomy = hh + 1;
}

PixelRange zoom_draw_range(const ZoomBox& zoom, int nx, int ny) {
  const int hw = zoom.zoomw / 2, hh = zoom.zoomh / 2;
  return PixelRange{std::max(1, zoom.zoomx - hw), std::min(nx, zoom.zoomx + hw), std::max(1, zoom.zoomy - hh),
                    std::min(ny, zoom.zoomy + hh)};
}

void draw_zoom(const ImageView& image, const DisplayState& disp, const ZoomBox& zoom, Graphics& gfx) {
  gfx.erase();
  const float halfw = static_cast<float>(zoom.zoomw) / 2.0f, halfh = static_cast<float>(zoom.zoomh) / 2.0f;
  gfx.window(static_cast<float>(zoom.zoomx) - halfw, static_cast<float>(zoom.zoomx) + halfw,
             static_cast<float>(zoom.zoomy) - halfh, static_cast<float>(zoom.zoomy) + halfh);
  if (disp.greyflag == 0 || disp.greyflag == 1) {
    const PixelRange r = zoom_draw_range(zoom, image.nx, image.ny);
    gfx.image(image, r.i1, r.i2, r.j1, r.j2, disp.fglev, disp.bglev, disp.displaytr, disp.greyflag == 1);
  }
  gfx.box();
}

void SETZOOMBOX(const ImageView& image, const DisplayState& disp, ZoomBox& zoom, CursorState cursor,
                Console& con, Graphics& gfx) {
  con.text(kZoomSizePrompt);
  con.read_list({&zoom.zoomw, &zoom.zoomh});
  clamp_zoom_size(zoom, image.nx, image.ny);
  if (zoom.zoomw == image.nx && zoom.zoomh == image.ny) return;  // the whole image: nothing to zoom

  con.text(kZoomClickPrompt);
  cursor.cursorx = static_cast<float>(image.nx) / 2.0f;
  cursor.cursory = static_cast<float>(image.ny) / 2.0f;
  gfx.focus();
  const CursorRead c = gfx.cursor(cursor.cursorx, cursor.cursory);
  cursor.cursorx = c.x;
  cursor.cursory = c.y;
  cursor.cursorkey = c.key;
  centre_zoom_box(zoom, cursor.cursorx, cursor.cursory, image.nx, image.ny);
  draw_zoom(image, disp, zoom, gfx);
  con.focus_command();
}

PixelRange acceptance_box(const ZoomBox& zoom) {
  return PixelRange{zoom.zoomx - zoom.zoomw / 2 + 1, zoom.zoomw / 2 + zoom.zoomx - 1, zoom.zoomy - zoom.zoomh / 2 + 1,
                    zoom.zoomh / 2 + zoom.zoomy - 1};
}

bool click_accepted(const PixelRange& box, float x, float y, const ImageView& image) {
  // Written as "inside" so that a NaN position fails every comparison and is refused.
  const bool in_box = y <= static_cast<float>(box.j2) && y >= static_cast<float>(box.j1) &&
                      x >= static_cast<float>(box.i1) && x <= static_cast<float>(box.i2);
  // The box can reach past the image when another routine has moved its centre.
  return in_box && image.inside(INT(x), INT(y));
}

BoxAnalysis analyse_box(const ImageView& image, float x, float y, int h) {
  std::array<float, kMaxBoxValues> buffer{};
  const int side = 2 * h + 1;
  if (side * side > kMaxBoxValues) return BoxAnalysis{};
  int m = 0;
  for (int a = -h; a <= h; ++a) {
    for (int b = -h; b <= h; ++b) {
      // The offset is added to the real position before truncation, as a REAL sum.
      const int px = INT(x + static_cast<float>(a)), py = INT(y + static_cast<float>(b));
      if (image.inside(px, py)) buffer[static_cast<std::size_t>(m++)] = image.at(px, py);
    }
  }
  BoxAnalysis r;
  r.count = m;
  const std::span<const float> values(buffer.data(), static_cast<std::size_t>(m));
  r.stats = AVERAGESIGMA(values, 2);  // undefined (non-finite) pixels are left out
  bool any = false;
  for (float v : values) {
    if (!std::isfinite(v)) continue;
    if (!any || v < r.minimum) r.minimum = v;
    if (!any || v > r.maximum) r.maximum = v;
    any = true;
  }
  return r;
}

void report_pixel_analysis(const ImageView& image, float x, float y, Console& con,
                           const SkyCoordinatesParse* sky) {
  con.record({"Value of the pixel you clicked was: ", image.at(INT(x), INT(y))});
  // The sky position of the pixel whose value is shown (its centre), not of the click.
  if (sky)
    if (const auto line = sky_report_line(kSkyOfPixel, *sky, INT(x), INT(y))) con.text(*line);
  for (const AnalysisBox& box : kAnalysisBoxes) {
    const BoxAnalysis r = analyse_box(image, x, y, box.h);
    if (r.stats.finite == 0) {
      con.record({box.lead, "none: no pixel of the box is a finite number."});
      continue;
    }
    con.record({box.lead, r.stats.clipped_mean, r.stats.clipped_spread});
    con.record({"  (minimum and maximum): ", r.minimum, r.maximum});
    if (r.stats.not_finite > 0)
      con.record({"  (", r.stats.not_finite, " pixels that are not finite numbers were left out)"});
  }
}

void analysis_loop(const ImageView& image, const ZoomBox& zoom, CursorState cursor, Console& con,
                   Graphics& gfx, const SkyCoordinatesParse* sky) {
  const PixelRange box = acceptance_box(zoom);
  for (;;) {
    con.blank();
    con.text(kAnalysisClickPrompt);
    gfx.focus();
    const CursorRead c = gfx.cursor(cursor.cursorx, cursor.cursory);
    con.focus_command();
    cursor.cursorx = c.x;
    cursor.cursory = c.y;
    cursor.cursorkey = c.key;
    con.record({"You clicked at ", cursor.cursorx, cursor.cursory});
    if (!click_accepted(box, cursor.cursorx, cursor.cursory, image)) return;
    report_pixel_analysis(image, cursor.cursorx, cursor.cursory, con, sky);
  }
}

}  // namespace zelvo
