// The program run: start-up, the main menu loop and the ending.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "platform/interrupt.h"

namespace zelvo {

struct Session;

struct ProgramOptions {
  std::string device;           // giza device; empty: chosen from the settings file
  std::optional<int32_t> seed;  // fixed random seed; otherwise the clock
  InterruptFlag interrupt;      // raised by Ctrl-C; none: nothing is ever interrupted
};

// Runs one whole session reading answers from `in` and writing to `out` (a terminal when
// `terminal`). Works in the current folder ("Zelvo.ini", "Zelvo.log", ...). Returns the
// process exit status (0, also when the input ends).
int run_zelvo(const ProgramOptions& options, std::istream& in, std::ostream& out, bool terminal);

// "Press <enter> to continue..." and one line read and discarded.
void pause(Session& s);

// Opens the screen device named by s.settings.device at the configured window size.
bool open_screen(Session& s);

}  // namespace zelvo
