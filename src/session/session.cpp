#include "session/session.h"

#include <string_view>

#include "display/zoom.h"
#include "platform/console.h"
#include "platform/list_io.h"

namespace zelvo {

bool name_marked_modified(const std::string& name) {
  const std::string t = trim_right(name);
  const std::string marker = kModifiedMarker;
  return t.size() > 10 && t.compare(t.size() - marker.size(), marker.size(), marker) == 0;
}

void mark_modified(ImageSlot& s) {
  s.modified = true;
  const std::string t = trim_right(s.name);
  if (name_marked_modified(t)) return;
  // Every name shows the marker, a short one too; a long name gives way to it, so the
  // marker stays whole within 80 characters.
  const std::string tail = std::string(" ") + kModifiedMarker;
  s.name = t.substr(0, 80 - tail.size()) + tail;
}

namespace {
constexpr std::string_view kOutsideShown =
    "That click lies outside the image shown; click on it (or press q in the graphics window to go back).";
constexpr std::string_view kViewKey =
    "(Press l in the graphics window to switch the zoomed view between zscale levels and its whole range.)";
constexpr std::string_view kViewZscale = "The zoomed view shows zscale levels of its own pixels.";
constexpr std::string_view kViewRange = "The zoomed view shows the whole range of its own pixels.";
}  // namespace

std::optional<CursorRead> Session::read_position(float x0, float y0, ConstImageView image, const Box& area,
                                                 const std::function<void()>& relevel) {
  if (relevel && !view_key_told && gfx.has_cursor()) {
    con.text(kViewKey);
    view_key_told = true;
  }
  for (;;) {
    const CursorRead c = read_cursor(x0, y0);
    if (ends_click_loop(c.key)) return std::nullopt;
    if (relevel && (c.key == 'l' || c.key == 'L')) {
      flip_view_levels(relevel);
      continue;
    }
    if (click_accepted(area, c.x, c.y, image)) return c;
    con.text(kOutsideShown);
  }
}

void Session::flip_view_levels(const std::function<void()>& redraw) {
  DisplayState& st = display.state;
  st.view = st.view == ViewLevels::zscale ? ViewLevels::range : ViewLevels::zscale;
  con.text(st.view == ViewLevels::zscale ? kViewZscale : kViewRange);
  redraw();
}

CursorRead Session::read_cursor(float x0, float y0) {
  gfx.focus();
  const CursorRead c = gfx.cursor(x0, y0);
  con.focus_command();
  cursor = CursorMemory{c.x, c.y};
  return c;
}

}  // namespace zelvo
