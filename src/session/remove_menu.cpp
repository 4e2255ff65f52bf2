// R: the remove-features submenu on the active image.
#include "display/display.h"
#include "session/commands.h"
#include "session/remove_submenu.h"
#include "session/session.h"

namespace zelvo {

void command_remove(Session& s) {
  if (refuse_empty_slot(s)) return;
  ensure_display_levels(s.active().view(), s.display.state);
  s.removal.marked_objects = remove_submenu(s);
}

}  // namespace zelvo
