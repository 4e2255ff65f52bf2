// Writing free-format records to the debug log.
#pragma once

#include <initializer_list>
#include <ostream>
#include <span>
#include <string>

#include "platform/list_io.h"

namespace zelvo {

// One free-format record, one line, flushed at once: an abrupt end loses at most that line.
inline void log_record(std::ostream& log, std::initializer_list<ListValue> items) {
  log << list_record(items) + '\n' << std::flush;
}

// A record of a text followed by any number of REAL values.
inline void log_values(std::ostream& log, const char* text, std::span<const float> values) {
  std::string line = list_record({text});
  for (float v : values) {
    if (line.back() != ' ') line.push_back(' ');
    line += format_real(v);
  }
  log << line + '\n' << std::flush;
}

}  // namespace zelvo
