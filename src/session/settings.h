// The settings file "Zelvo.ini" and the main log "Zelvo.log".
#pragma once

#include <string>

#include "display/display.h"

namespace zelvo {

struct Settings {
  int window_code = 2;                     // 1: 1280 x 1024, 2: 1024 x 768, 3: 800 x 600
  int extlogs = 0;                         // 1 = extended debug logs
  std::string notice;                      // one line to show the user when the file could not be used as it is
  LevelMode level_mode = LevelMode::text;  // line 3: "text" (the default) or "zscale"
  Stretch stretch = Stretch::linear;       // line 4: "linear" (the default), "sqrt", "log", "asinh"
  std::string display_notice;              // one line naming an unknown word of lines 3 and 4
};

// Reads the two integer records of the settings file (the first list-directed value of each
// line; the rest of a line is a comment). A missing or unreadable file gives the defaults
// (window code 2, extended logs off) and a notice; a window code other than 1, 2 or 3 falls
// back to 2 with a notice. Lines 3 and 4, when present, choose the automatic levels and the
// stretch (first word of each, any case); an unknown word keeps the default with a notice.
Settings read_settings(const std::string& path = "Zelvo.ini");

// Window size in pixels for a window-size code (1, 2 or 3; any other gives code 2's).
struct WindowSize {
  int width = 1024, height = 768;
};
WindowSize window_size(int code);

}  // namespace zelvo
