// Free-format (list-directed) output: numbers written as Fortran's free format shows them,
// free-format records, and the fixed-width text fields of the program.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace zelvo {

// One item of a free-format output record.
class ListValue {
 public:
  ListValue(const char* s) : text_(s) {}
  ListValue(std::string_view s) : text_(s) {}
  ListValue(const std::string& s) : text_(s) {}
  ListValue(int v);
  ListValue(long v);
  ListValue(long long v);
  ListValue(unsigned v) : ListValue(static_cast<long long>(v)) {}
  ListValue(float v);
  ListValue(double v);
  ListValue(char c) : text_(1, c) {}
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// A REAL written the way free-format output shows it: up to 7 significant digits,
// always with a decimal point or an exponent ("6.0", "0.1", "1.0E+30", "NaN").
std::string format_real(float v);
// A DOUBLE likewise, with up to 15 significant digits.
std::string format_double(double v);

// A free-format record: one leading blank, items separated by one blank; no extra blank
// is added next to an item that already ends or begins with one.
std::string list_record(std::initializer_list<ListValue> items);
// A fixed text as the command window shows it (after its blank column).
inline std::string text_line(std::string_view t) { return " " + std::string(t); }

// Text helpers for the fixed-width text fields of the program.
std::string pad_right(std::string_view s, std::size_t width);  // cut or blank-pad
std::string pad_left(std::string_view s, std::size_t width);   // right-aligned, cut
std::string trim_right(std::string_view s);
// Position (1-based) of the last non-blank character, 0 for an all-blank text.
int STRLEN(std::string_view s);

}  // namespace zelvo
