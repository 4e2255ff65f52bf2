#include "session/session.h"

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

CursorRead Session::read_cursor(float x0, float y0) {
  gfx.focus();
  const CursorRead c = gfx.cursor(x0, y0);
  con.focus_command();
  cursor = CursorMemory{c.x, c.y};
  return c;
}

}  // namespace zelvo
