// Fuzzes the list-directed reader: arbitrary bytes as the command window's input, read
// through every kind of target the program asks for. The first byte picks the targets.
//
// Checked: no crash or sanitizer report; every read ends (a value is stored or the input
// ends); a value stored in an integer target came from an item parse_integer accepts; a
// stored real is finite; the output written stays bounded by what was read.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "platform/console.h"
#include "platform/list_io.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned pick = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  // The pure item functions first, on the whole text.
  bool slash = false;
  for (const zelvo::ListItem& item : zelvo::split_list_items(text, slash, (pick & 1) != 0)) {
    if (const auto i = zelvo::parse_integer(item.text)) check(zelvo::parse_double(item.text).has_value());
    if (const auto r = zelvo::parse_real(item.text)) {
      check(std::isfinite(*r));
      (void)zelvo::format_real(*r);
    }
    if (const auto d = zelvo::parse_double(item.text)) (void)zelvo::format_double(*d);
  }

  // Then the console reads, as many as the input holds.
  std::istringstream in(text);
  std::ostringstream out;
  zelvo::Console con(in, out);
  int32_t n = 7;
  float x = 1.5f, y = -2.5f;
  double d = 0.25;
  char c = 'q';
  std::string s;
  try {
    for (int round = 0; round < 64; ++round) {
      switch ((pick >> 1) % 8) {
        case 0: con.read_list({&n}); break;
        case 1: con.read_list({&x, &y}); break;
        case 2: con.read_list({&x, &y, &c}); break;
        case 3: con.read_list({&n, &n, &n, &n}); break;
        case 4: con.read_list({&d, &s}); break;
        case 5: s = con.read_file_name(); break;
        case 6: c = con.read_char(); break;
        default: con.read_list({&s, &n, &x, &c}); break;
      }
      check(std::isfinite(x) && std::isfinite(y) && std::isfinite(d));
      (void)zelvo::list_record({"read", n, x, y, d, c, s});
    }
  } catch (const zelvo::EndOfInput&) {
  }
  // One refusal line per rejected item at most, and each at most as long as its line.
  check(out.str().size() <= 64 * (text.size() + 80));
  return 0;
}
