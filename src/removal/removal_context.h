// What a removal needs from its caller besides the image and the work state.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "numeric/image_view.h"
#include "numeric/stop_request.h"

namespace zelvo {

class Random;

struct RemovalContext {
  Random& rng;       // the session's generator
  int32_t& ranseed;  // its seed, advanced by every draw
  int extlogs = 0;   // 1: detailed tables in the debug log
  // The debug log, owned and opened by the caller (the dialogue appends to ZelvoDebug.log
  // for every routine call); nullptr: nothing is logged.
  std::ostream* log = nullptr;
  StopRequest stop{};  // Ctrl-C: a removal asked to stop before it repaints changes nothing
  // A model of the galaxy under the disc (its light above the sky, the image's size), or empty:
  // the background is then fitted to the image less the model and painted with it added.
  ConstImageView galaxy_model{};
};

}  // namespace zelvo
