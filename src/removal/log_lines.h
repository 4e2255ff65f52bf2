// Writing free-format records to the debug log, and the lines a removal reports.
#pragma once

#include <initializer_list>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "text/list_format.h"

namespace zelvo {

// One free-format record, one line, flushed at once: an abrupt end loses at most that line.
inline void log_record(std::ostream& log, std::initializer_list<ListValue> items) {
  log << list_record(items) + '\n' << std::flush;
}

// The caller's debug log, or a stream that drops every line when there is none.
class DebugLog {
 public:
  explicit DebugLog(std::ostream* log) : out_(log ? *log : nowhere_) {}
  DebugLog(const DebugLog&) = delete;
  DebugLog& operator=(const DebugLog&) = delete;
  std::ostream& out() { return out_; }

 private:
  std::ostream nowhere_{nullptr};
  std::ostream& out_;
};

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
