// M: the mouse-operations submenu (zoom box and pixel analysis) on the active image.
#include "display/zoom.h"
#include "fits/sky_coordinates.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/commands.h"
#include "session/session.h"

namespace zelvo {

namespace {

constexpr const char* kMenuTail[] = {
    "  2) Analyse image around the mouse click ",
    "      [Click anywhere outside the image to return to menu]",
    "  0) Return back to the main options ",
};

void print_menu(Session& s) {
  s.con.blank();
  s.con.text(kZoomMenuHead);
  s.con.text(kZoomMenuSetBox);
  s.con.record({kZoomMenuBoxSize, s.zoom.zoomw, " x ", s.zoom.zoomh});
  for (const char* l : kMenuTail) s.con.text(l);
  s.con.blank();
}

}  // namespace

void command_mouse(Session& s) {
  if (refuse_empty_slot(s)) return;
  ImageSlot& a = s.active();
  // Every visit starts with the box covering the whole image, and the window shows it: the
  // clicks are judged against it (an earlier zoom may still be on the screen).
  s.zoom = whole_image_box(a.nx(), a.ny());
  ensure_display_levels(a.view(), s.disp);
  draw_zoom(a.view(), s.disp, s.zoom, s.gfx);
  const CursorState cursor{s.cursorx, s.cursory, s.cursorkey};
  // The header does not change while the submenu runs: its WCS is read once per visit.
  const SkyCoordinatesParse sky = parse_sky_coordinates(a.cards);
  for (;;) {
    print_menu(s);
    const int32_t choice = s.con.read_int();
    if (choice == 0) return;
    if (choice == 1) SETZOOMBOX(a.view(), s.disp, s.zoom, cursor, s.con, s.gfx);
    if (choice == 2) analysis_loop(a.view(), s.zoom, cursor, s.con, s.gfx, &sky);
  }
}

}  // namespace zelvo
