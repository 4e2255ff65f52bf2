// A Session on strings, for calling one command or dialogue in-process: answers come from a
// string, output goes to a string, graphics to the null device (cursor positions are typed
// lines "x y"). Shared by the tests and the benchmarks.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>

#include "numeric/image_view.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/session.h"

namespace zelvo::testing {

struct ScriptedSession {
  std::istringstream in;
  std::ostringstream out;
  Console con{in, out};
  Graphics gfx{con};
  Session s{con, gfx};

  ScriptedSession() { gfx.open("/null"); }
  // `image` in the active slot under `name`, the generator seeded with `seed`.
  ScriptedSession(Image image, int32_t seed, std::string name) : ScriptedSession() {
    ImageSlot& a = s.active();
    a.image = std::move(image);
    a.name = std::move(name);
    s.random.seed = seed;
  }
  ScriptedSession(const ScriptedSession&) = delete;
  ScriptedSession& operator=(const ScriptedSession&) = delete;

  // Puts `img` into slot k (1..4) under `name`.
  void load(int k, Image img, const std::string& name) {
    ImageSlot& sl = s.slots.all[static_cast<std::size_t>(k - 1)];
    sl.image = std::move(img);
    sl.name = name;
  }
  ImageSlot& slot(int k) { return s.slots.all[static_cast<std::size_t>(k - 1)]; }
  ImageView image() { return s.active().view(); }

  // The answers the next command reads.
  void answer(const std::string& script) {
    in.clear();
    in.str(script);
  }
  // Runs `command` with the given answer lines; returns what it printed.
  template <typename Command>
  std::string run(Command command, const std::string& answers) {
    answer(answers);
    out.str("");
    command(s);
    return out.str();
  }
};

}  // namespace zelvo::testing
