#include "text/list_format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zelvo {

ListValue::ListValue(int v) : text_(std::to_string(v)) {}
ListValue::ListValue(long v) : text_(std::to_string(v)) {}
ListValue::ListValue(long long v) : text_(std::to_string(v)) {}
ListValue::ListValue(float v) : text_(format_real(v)) {}
ListValue::ListValue(double v) : text_(format_double(v)) {}

namespace {
std::string format_general(double v, int digits) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, v);
  std::string s(buf);
  const auto e = s.find('E');
  std::string mant = e == std::string::npos ? s : s.substr(0, e);
  std::string expo = e == std::string::npos ? "" : s.substr(e);
  if (mant.find('.') == std::string::npos) mant += ".0";
  return mant + expo;
}
}  // namespace

std::string format_real(float v) { return format_general(static_cast<double>(v), 7); }
std::string format_double(double v) { return format_general(v, 15); }

std::string list_record(std::initializer_list<ListValue> items) {
  std::string out = " ";
  bool first = true;
  for (const auto& it : items) {
    const std::string& t = it.text();
    if (!first && !t.empty() && out.back() != ' ' && t.front() != ' ') out.push_back(' ');
    out += t;
    first = false;
  }
  return out;
}

std::string pad_right(std::string_view s, std::size_t width) {
  std::string r(s.substr(0, std::min(s.size(), width)));
  r.resize(width, ' ');
  return r;
}

std::string pad_left(std::string_view s, std::size_t width) {
  std::string_view t = s.substr(0, std::min(s.size(), width));
  return std::string(width - t.size(), ' ') + std::string(t);
}

std::string trim_right(std::string_view s) { return std::string(s.substr(0, static_cast<std::size_t>(STRLEN(s)))); }

int STRLEN(std::string_view s) {
  for (std::size_t i = s.size(); i > 0; --i)
    if (s[i - 1] != ' ') return static_cast<int>(i);
  return 0;
}

}  // namespace zelvo
