#include "removal/object_list.h"

#include <optional>
#include <sstream>

#include "platform/list_io.h"

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

}  // namespace

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
  return list_line_reference(file, line) + ", is not four numbers (type, x, y, radius); the list stops there.";
}

}  // namespace zelvo
