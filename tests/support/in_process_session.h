// A Session for calling one command in-process: answers come from a string, output goes to
// a string, graphics to the null device (cursor positions are typed lines "x y").
#pragma once

#include <sstream>
#include <string>
#include <utility>

#include "numeric/image_view.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/session.h"

namespace zelvo::testing {

struct InProcessSession {
  std::istringstream in;
  std::ostringstream out;
  Console con{in, out};
  Graphics gfx{con};
  Session s{con, gfx};

  InProcessSession() { gfx.open("/null"); }

  // Puts `img` into slot k (1..4) under `name`.
  void load(int k, Image img, const std::string& name) {
    ImageSlot& sl = s.slots.all[static_cast<std::size_t>(k - 1)];
    sl.image = std::move(img);
    sl.name = name;
  }
  ImageSlot& slot(int k) { return s.slots.all[static_cast<std::size_t>(k - 1)]; }

  // Runs `command` with the given answer lines; returns what it printed.
  template <typename Command>
  std::string run(Command command, const std::string& answers) {
    in.clear();
    in.str(answers);
    out.str("");
    command(s);
    return out.str();
  }
};

}  // namespace zelvo::testing
