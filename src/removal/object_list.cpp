#include "removal/object_list.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <sstream>
#include <vector>

#include "text/list_parse.h"

namespace zelvo {

namespace {

bool blank(const std::string& s) { return s.find_first_not_of(" \t\r") == std::string::npos; }

// The object on one line, or none when the line is not exactly four numbers.
std::optional<ListedObject> parse_object(const std::string& text, int32_t line) {
  bool slash = false;
  const auto items = split_list_items(text, slash);
  if (items.size() != 4) return std::nullopt;
  for (const auto& it : items)
    if (it.null) return std::nullopt;
  const auto type = parse_integer(items[0].text);
  const auto x = parse_real(items[1].text);
  const auto y = parse_real(items[2].text);
  const auto r = parse_real(items[3].text);
  if (!type || !x || !y || !r) return std::nullopt;
  return ListedObject{line, *type, *x, *y, *r};
}

bool is_region_file(const std::filesystem::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".reg";
}

std::string lower_trimmed(std::string_view s) {
  const std::size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string_view::npos) return {};
  const std::size_t b = s.find_last_not_of(" \t\r;");
  std::string t(s.substr(a, b - a + 1));
  for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return t;
}

// A region line: skipped (nullopt with ok), a circle, or not usable (ok false).
std::optional<ListedObject> parse_region(const std::string& text, int32_t line, bool& ok) {
  ok = true;
  const std::string t = lower_trimmed(text);
  if (t.empty() || t[0] == '#' || t == "image" || t.rfind("global", 0) == 0) return std::nullopt;
  ok = false;
  std::string_view v(t);
  if (v.rfind("+", 0) == 0) v.remove_prefix(1);
  if (v.rfind("circle(", 0) != 0) return std::nullopt;
  const std::size_t close = v.find(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string args(v.substr(7, close - 7));
  std::replace(args.begin(), args.end(), ',', ' ');
  std::istringstream in(args);
  std::string a, b, c, extra;
  if (!(in >> a >> b >> c) || (in >> extra)) return std::nullopt;
  const auto x = parse_real(a), y = parse_real(b), r = parse_real(c);
  if (!x || !y || !r || !(*r > 0.0f)) return std::nullopt;
  const std::string_view props = v.substr(close + 1);
  const bool red = props.find("color=red") != std::string_view::npos;
  ok = true;
  return ListedObject{line, red ? 2 : 1, *x, *y, *r};
}

// The regions of one line: DS9 separates regions on a line with ";". A ";" inside
// parentheses, braces or quotes (a text property) separates nothing, and a region that
// starts with "#" makes the rest of the line a comment.
std::vector<std::string> regions_of_line(const std::string& line) {
  std::vector<std::string> parts(1);
  int depth = 0;
  char quote = 0;
  for (char c : line) {
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '(' || c == '{') {
      ++depth;
    } else if ((c == ')' || c == '}') && depth > 0) {
      --depth;
    } else if (c == ';' && depth == 0) {
      if (lower_trimmed(parts.back()).starts_with('#')) return parts;
      parts.emplace_back();
      continue;
    }
    parts.back() += c;
  }
  return parts;
}

}  // namespace

ObjectList parse_region_list(std::string_view text) {
  std::istringstream in{std::string(text)};
  ObjectList list;
  int32_t line = 0;
  for (std::string s; std::getline(in, s);) {
    ++line;
    for (const std::string& region : regions_of_line(s)) {
      bool ok = true;
      const auto obj = parse_region(region, line, ok);
      if (!ok) {
        list.bad_line = line;
        return list;
      }
      if (obj) list.objects.push_back(*obj);
    }
  }
  return list;
}

ObjectList parse_list_file(const std::filesystem::path& file, std::string_view text) {
  return is_region_file(file) ? parse_region_list(text) : parse_object_list(text);
}

int32_t LINENOS(std::string_view text) {
  std::istringstream in{std::string(text)};
  int32_t n = 0;
  for (std::string s; std::getline(in, s);)
    if (!blank(s)) ++n;
  return n;
}

ObjectList parse_object_list(std::string_view text) {
  std::istringstream in{std::string(text)};
  ObjectList list;
  int32_t line = 0;
  for (std::string s; std::getline(in, s);) {
    ++line;
    if (blank(s)) continue;
    const auto obj = parse_object(s, line);
    if (!obj) {
      list.bad_line = line;
      break;
    }
    list.objects.push_back(*obj);
  }
  return list;
}

std::string list_line_reference(const std::filesystem::path& file, int32_t line) {
  std::string s = file.filename().string();
  s.append(", line ");
  s.append(std::to_string(line));
  return s;
}

std::string bad_list_line_message(const std::filesystem::path& file, int32_t line) {
  if (is_region_file(file))
    return list_line_reference(file, line) +
           ", is not a circle in image coordinates (circle(x,y,r)); the list stops there.";
  return list_line_reference(file, line) + ", is not four numbers (type, x, y, radius); the list stops there.";
}

}  // namespace zelvo
