// R: the remove-features submenu on the active image.
#include "display/display.h"
#include "session/remove_submenu.h"
#include "session/commands.h"
#include "session/session.h"

namespace zelvo {

void command_remove(Session& s) {
  if (refuse_empty_slot(s)) return;
  ImageSlot& a = s.active();
  ensure_display_levels(a.view(), s.disp);
  RemoveSubmenuContext ctx{.image = a.view(),
                           .object = a.object,
                           .name = a.name,
                           .texts = a.texts,
                           .disp = s.disp,
                           .zoom = s.zoom,
                           .cursor = CursorState{s.cursorx, s.cursory, s.cursorkey},
                           .con = s.con,
                           .gfx = s.gfx,
                           .rng = s.rng,
                           .ranseed = s.ranseed,
                           .work = s.removal,
                           .mainlog = s.mainlog.stream(),
                           .extlogs = s.extlogs,
                           .mark_modified = [&a] { mark_modified(a); },
                           .files = {}};
  s.marked_objects = remove_submenu(ctx);
}

}  // namespace zelvo
