// A session on strings for running the remove-features dialogue on one image, shared by the
// tests and the benchmarks: console and graphics without a device (cursor positions are
// typed), the image in slot 1, the generator seeded, no main log. The caller says where the
// dialogue's files go (RemovalFiles) at each call.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>

#include "numeric/image_view.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/remove_submenu.h"
#include "session/session.h"

namespace zelvo::testing {

struct RemovalDesk {
  std::istringstream in;
  std::ostringstream out;
  Console con{in, out};
  Graphics gfx{con};
  Session session{con, gfx};

  RemovalDesk(Image image, int32_t seed, std::string name) {
    ImageSlot& a = session.active();
    a.image = std::move(image);
    a.name = std::move(name);
    session.random.seed = seed;
  }
  RemovalDesk(const RemovalDesk&) = delete;
  RemovalDesk& operator=(const RemovalDesk&) = delete;

  ImageView image() { return session.active().view(); }
  // The answers the dialogue reads next.
  void answer(const std::string& script) {
    in.clear();
    in.str(script);
  }
};

}  // namespace zelvo::testing
