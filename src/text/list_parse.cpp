#include "text/list_parse.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace zelvo {

std::vector<ListItem> split_list_items(std::string_view line, bool& slash, bool slash_in_text) {
  std::vector<ListItem> items;
  slash = false;
  std::size_t i = 0;
  const std::size_t n = line.size();
  auto is_blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  bool after_comma = true;  // a comma right at the start or after a comma gives a null item
  while (i < n) {
    while (i < n && is_blank(line[i])) ++i;
    if (i >= n) break;
    char c = line[i];
    if (c == ',') {
      if (after_comma) items.push_back(ListItem{"", true});
      after_comma = true;
      ++i;
      continue;
    }
    if (c == '/' && !slash_in_text) {
      slash = true;
      break;
    }
    ListItem item;
    if (c == '\'' || c == '"') {
      const char q = c;
      ++i;
      while (i < n) {
        if (line[i] == q) {
          if (i + 1 < n && line[i + 1] == q) {
            item.text.push_back(q);
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item.text.push_back(line[i++]);
      }
    } else {
      while (i < n && !is_blank(line[i]) && line[i] != ',' && (slash_in_text || line[i] != '/'))
        item.text.push_back(line[i++]);
    }
    items.push_back(std::move(item));
    // Separator after the item: blanks, optionally one comma.
    while (i < n && is_blank(line[i])) ++i;
    if (i < n && line[i] == ',') {
      ++i;
      after_comma = true;
    } else {
      after_comma = false;
    }
  }
  return items;
}

namespace {
std::string fortran_exponent(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c == 'd' || c == 'D') c = 'e';
  return s;
}
}  // namespace

std::optional<int32_t> parse_integer(std::string_view text) {
  std::string s(text);
  if (s.empty()) return std::nullopt;
  // Digits and signs only: strtoll would also skip leading white space such as a vertical
  // tab, which the item splitter leaves inside an item.
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-')) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (end == s.c_str() || *end != '\0' || errno == ERANGE) return std::nullopt;
  if (v < -2147483648LL || v > 2147483647LL) return std::nullopt;
  return static_cast<int32_t>(v);
}

std::optional<double> parse_double(std::string_view text) {
  const std::string s = fortran_exponent(text);
  if (s.empty()) return std::nullopt;
  // Only plain decimal numbers: no hexadecimal floats, no "inf"/"nan" words typed by accident.
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E')) return std::nullopt;
  }
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end != '\0') return std::nullopt;
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<float> parse_real(std::string_view text) {
  const auto d = parse_double(text);
  if (!d) return std::nullopt;
  if (std::fabs(*d) > 3.4028234663852886e38) return std::nullopt;
  return static_cast<float>(*d);
}

}  // namespace zelvo
