// M: the mouse-operations submenu (zoom box and pixel analysis) on the active image, and the
// zoom-box dialogue and pixel report it shares with the photometry submenu.
#include "session/mouse_menu.h"

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "numeric/fortran.h"
#include "photometry/star_width.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/commands.h"
#include "session/session.h"

namespace zelvo {

namespace {

constexpr std::string_view kZoomSizePrompt = "Give the new zoom box size (width, height); both > 50 ";
constexpr std::string_view kZoomClickPrompt = "Click on the area you want to zoom to.";
constexpr std::string_view kAnalysisClickPrompt = "Click on the centre of the area to be analysed.";
constexpr std::string_view kSkyOfPixel = "Sky position of the pixel: ";

// Half-widths of the analysis boxes and their report texts.
struct AnalysisBox {
  int h;
  std::string_view lead;
};
constexpr std::array<AnalysisBox, 3> kAnalysisBoxes{{
    {2, "Values for a 5x5 box were (average and sigma): "},
    {4, "Values for a 9x9 box were (average and sigma): "},
    {7, "Values for a 15x15 box were (average and sigma): "},
}};

// Said after each box's average and sigma: how they were measured.
constexpr std::string_view kClippedNote = "clipped (2 sigma)";
// The added line: plain mean and median of the first box, and the width of the star.
constexpr std::string_view kPlainLead = "Plain mean, median (5x5): ";
constexpr std::string_view kFwhmLead = "  FWHM: ";
constexpr std::string_view kNoStar = "no star under the cursor";

std::string fwhm_text(const StarWidth& w) {
  if (w.status != StarWidth::Status::fitted) return std::string(kNoStar);
  char buf[96];
  if (w.model == StarModel::moffat)
    std::snprintf(buf, sizeof buf, "%.2f pixels (Moffat, beta %.2f)", w.fwhm, w.beta);
  else
    std::snprintf(buf, sizeof buf, "%.2f pixels (Gaussian)", w.fwhm);
  return buf;
}

constexpr std::array<std::string_view, 3> kMenuTail = {
    "  2) Analyse image around the mouse click ",
    "      [Click outside the zoom box, or press q or Esc, to return to menu]",
    "  0) Return back to the main options ",
};

void print_menu(Session& s) {
  s.con.blank();
  s.con.text(kZoomMenuHead);
  s.con.text(kZoomMenuSetBox);
  s.con.record({kZoomMenuBoxSize, s.display.zoom.zoomw, " x ", s.display.zoom.zoomh});
  for (std::string_view l : kMenuTail) s.con.text(l);
  s.con.blank();
}

}  // namespace

void SETZOOMBOX(Session& s) {
  const ZoomBox shown = s.display.zoom;  // a copy: the dialogue changes the session's box
  set_zoom_box(s, shown);
}

void set_zoom_box(Session& s, const ZoomBox& shown) {
  const ConstImageView image = s.active().view();
  ZoomBox& zoom = s.display.zoom;
  const ZoomBox before = zoom;
  s.con.text(kZoomSizePrompt);
  s.con.read_list({&zoom.zoomw, &zoom.zoomh});
  clamp_zoom_size(zoom, image.nx, image.ny);
  if (zoom.zoomw == image.nx && zoom.zoomh == image.ny) {
    // The whole image, wherever an earlier zoom or a centroid left the centre; the window
    // shows it whole again, as the next click is judged against it.
    zoom = whole_image_box(image.nx, image.ny);
    draw_zoom(image, s.display.state, zoom, s.gfx);
    return;
  }

  s.con.text(kZoomClickPrompt);
  // The read starts at the image centre, which stays the next read's start if this one is cut short.
  s.cursor = CursorMemory{static_cast<float>(image.nx) / 2.0f, static_cast<float>(image.ny) / 2.0f};
  // The click is judged against what the window shows now (the last zoom, or the whole image).
  const std::optional<CursorRead> c =
      s.read_position(s.cursor.x, s.cursor.y, image, zoom_draw_range(shown, image.nx, image.ny));
  if (!c) {  // q or Esc: the box stays as it was
    zoom = before;
    return;
  }
  centre_zoom_box(zoom, c->x, c->y, image.nx, image.ny);
  draw_zoom(image, s.display.state, zoom, s.gfx);
}

void report_pixel_analysis(ConstImageView image, float x, float y, Console& con, const SkyCoordinatesParse* sky) {
  con.record({"Value of the pixel you clicked was: ", image.at(nint_pixel(x), nint_pixel(y))});
  // The sky position of the pixel whose value is shown (its centre), not of the click.
  if (sky)
    if (const auto line = sky_report_line(kSkyOfPixel, *sky, nint_pixel(x), nint_pixel(y))) con.text(*line);
  for (const AnalysisBox& box : kAnalysisBoxes) {
    const BoxAnalysis r = analyse_box(image, x, y, box.h);
    if (r.stats.finite == 0) {
      con.record({box.lead, "none: no pixel of the box is a finite number."});
      continue;
    }
    con.record({box.lead, r.stats.clipped_mean, r.stats.clipped_spread, kClippedNote});
    con.record({"  (minimum and maximum): ", r.minimum, r.maximum});
    if (r.stats.not_finite > 0)
      con.record({"  (", r.stats.not_finite, " pixels that are not finite numbers were left out)"});
  }
  const BoxAnalysis first = analyse_box(image, x, y, kAnalysisBoxes.front().h);
  if (first.stats.finite == 0) return;
  const float median = box_median(image, x, y, kAnalysisBoxes.front().h);
  con.record({kPlainLead, first.stats.mean, median, kFwhmLead, fwhm_text(measure_star_width(image, x, y))});
}

void analysis_loop(Session& s, const SkyCoordinatesParse* sky) {
  const ConstImageView image = s.active().view();
  const Box box = acceptance_box(s.display.zoom);
  for (;;) {
    s.con.blank();
    s.con.text(kAnalysisClickPrompt);
    const CursorRead c = s.read_cursor_again();
    if (ends_click_loop(c.key)) return;
    if (c.key == 'l' || c.key == 'L') {
      s.flip_view_levels([&] { draw_zoom(image, s.display.state, s.display.zoom, s.gfx); });
      continue;
    }
    s.con.record({"You clicked at ", c.x, c.y});
    if (!click_accepted(box, c.x, c.y, image)) return;
    report_pixel_analysis(image, c.x, c.y, s.con, sky);
  }
}

void command_mouse(Session& s) {
  if (refuse_empty_slot(s)) return;
  ImageSlot& a = s.active();
  // Every visit starts with the box covering the whole image, and the window shows it: the
  // clicks are judged against it (an earlier zoom may still be on the screen).
  s.display.zoom = whole_image_box(a.nx(), a.ny());
  ensure_display_levels(a.view(), s.display.state);
  draw_zoom(a.view(), s.display.state, s.display.zoom, s.gfx);
  // The header does not change while the submenu runs: its WCS is read once per visit.
  const SkyCoordinatesParse sky = parse_sky_coordinates(a.cards);
  for (;;) {
    print_menu(s);
    const int32_t choice = s.con.read_int();
    if (choice == 0) return;
    if (choice == 1) SETZOOMBOX(s);
    if (choice == 2) analysis_loop(s, &sky);
  }
}

}  // namespace zelvo
