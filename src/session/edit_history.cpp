#include "session/edit_history.h"

#include <cstdio>

#include "fits/history_cards.h"
#include "session/session.h"
#include "text/list_format.h"

namespace zelvo {

void note_edit(ImageSlot& slot, char command, std::string_view what) {
  add_history(slot.cards, std::string("Zelvo ") + command + ": " + std::string(what));
}

std::string fixed(double value, int decimals) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

std::string slot_label(int number, const ImageSlot& slot) {
  std::string name = slot.file.empty() ? trim_right(slot.name) : slot.file;
  const std::string marker = std::string(" ") + kModifiedMarker;
  if (name.size() > marker.size() && name.compare(name.size() - marker.size(), marker.size(), marker) == 0)
    name.resize(name.size() - marker.size());
  return "slot " + std::to_string(number) + " (" + name + ")";
}

}  // namespace zelvo
