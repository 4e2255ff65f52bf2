// O: the aperture-photometry submenu on the active image.
#include "display/display.h"
#include "fits/sky_coordinates.h"
#include "photometry/apphot.h"
#include "session/commands.h"
#include "session/session.h"

namespace zelvo {

void command_photometry(Session& s) {
  if (refuse_empty_slot(s)) return;
  ImageSlot& a = s.active();
  ensure_display_levels(a.view(), s.disp);
  const SkyCoordinatesParse sky = parse_sky_coordinates(a.cards);
  PhotometryContext ctx{a.view(), a.exptime, s.disp, s.zoom, CursorState{s.cursorx, s.cursory, s.cursorkey},
                        s.con, s.gfx};
  ctx.sky = &sky;
  photometry_submenu(ctx);
}

}  // namespace zelvo
