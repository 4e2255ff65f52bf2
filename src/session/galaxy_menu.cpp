// G: the galaxy submenu. Profiles of the active image, and the colour and calibrated images
// written into the active slot from the other slots.
#include <cstdint>

#include "display/display.h"
#include "galaxy/colour.h"
#include "galaxy/galaxy_texts.h"
#include "galaxy/profile_page.h"
#include "platform/console.h"
#include "session/commands.h"
#include "session/loop.h"
#include "session/session.h"

namespace zelvo {

namespace {

SlotTable slot_table(Session& s) {
  SlotTable t;
  for (std::size_t k = 0; k < 4; ++k) t[k] = SlotAccess{s.slot[k].view(), &s.slot[k].exptime};
  return t;
}

}  // namespace

void command_galaxy(Session& s) {
  s.con.blank();
  for (auto l : galaxy_menu_lines()) s.con.text(l);
  s.con.blank();
  int32_t choice = 0;
  s.con.read_list({&choice});
  if (choice < 1 || choice > 4) return;
  // A refusal is followed by a pause, so its line can be read before the menu comes back.
  if (refuse_empty_slot(s)) {
    pause(s);
    return;
  }

  if (choice == 1 || choice == 2) {
    ensure_display_levels(s.active().view(), s.disp);
    const ProfileResult r = profile_option(choice == 1 ? ProfileScale::flux : ProfileScale::magnitude,
                                           s.active().view(), s.disp.fglev, s.disp.bglev, ProfileOutput{s.con, s.gfx});
    if (!r.done) pause(s);
    return;
  }

  const SlotChanges changes = choice == 3 ? colour_image_dialogue(slot_table(s), s.activeslot, s.con)
                                          : calibrated_image_dialogue(slot_table(s), s.activeslot, s.con);
  if (changes.pixels_changed.empty()) {
    pause(s);
    return;
  }
  for (int k : changes.pixels_changed) mark_modified(s.slot[static_cast<std::size_t>(k - 1)]);
  if (changes.header_from != s.activeslot)
    s.active().cards = s.slot[static_cast<std::size_t>(changes.header_from - 1)].cards;
}

}  // namespace zelvo
