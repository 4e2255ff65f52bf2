// What a removal needs from its caller besides the image and the work state.
#pragma once

#include <cstdint>
#include <filesystem>

#include "numeric/stop_request.h"

namespace zelvo {

class Console;
class Random;

struct RemovalContext {
  Console& con;       // the command window
  Random& rng;        // the session's generator
  int32_t& ranseed;   // its seed, advanced by every draw
  int extlogs = 0;    // 1: detailed tables in the debug log
  std::filesystem::path debug_log = "ZelvoDebug.log";  // opened for appending per removal
  StopRequest stop{};  // Ctrl-C: a removal asked to stop before it repaints changes nothing
};

}  // namespace zelvo
