#include "session/settings.h"

#include <cctype>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/list_io.h"
#include "platform/log_file.h"
#include "session/batch_run.h"

namespace zelvo {

namespace {
// First list-directed item of each non-blank line, up to `count` records.
std::vector<std::optional<int32_t>> first_values(std::istream& in, std::size_t count) {
  std::vector<std::optional<int32_t>> values;
  std::string line;
  while (values.size() < count && std::getline(in, line)) {
    bool slash = false;
    const auto items = split_list_items(line, slash);
    if (items.empty()) {
      if (slash) values.push_back(std::nullopt);
      continue;
    }
    values.push_back(items[0].null ? std::nullopt : parse_integer(items[0].text));
  }
  return values;
}

// The first list-directed item of the non-blank lines after the first `skip` ones.
std::vector<std::string> first_words(std::istream& in, std::size_t skip) {
  std::vector<std::string> words;
  std::string line;
  std::size_t seen = 0;
  while (std::getline(in, line)) {
    bool slash = false;
    const auto items = split_list_items(line, slash);
    if (items.empty() && !slash) continue;
    if (seen++ < skip) continue;
    words.push_back(items.empty() || items[0].null ? std::string() : items[0].text);
  }
  return words;
}

void read_display_choices(const std::string& text, const std::string& path, Settings& s) {
  std::istringstream in(text);
  const std::vector<std::string> w = first_words(in, 2);
  std::vector<std::string> unknown;
  if (w.size() > 0 && !w[0].empty()) {
    std::string lower;
    for (char c : w[0]) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == level_mode_name(LevelMode::zscale))
      s.level_mode = LevelMode::zscale;
    else if (lower != level_mode_name(LevelMode::text))
      unknown.push_back("line 3 '" + one_line(w[0]) + "' is not text or zscale (text is used)");
  }
  if (w.size() > 1 && !w[1].empty()) {
    if (const auto st = stretch_from_name(w[1]))
      s.stretch = *st;
    else
      unknown.push_back("line 4 '" + one_line(w[1]) + "' is not linear, sqrt, log or asinh (linear is used)");
  }
  if (unknown.empty()) return;
  s.display_notice = path + ": " + unknown[0] + (unknown.size() > 1 ? "; " + unknown[1] : "") + ".";
}
}  // namespace

Settings read_settings(const std::string& path) {
  Settings s;
  const std::string expected = path +
                               " should hold two lines: the window-size code (1 = 1280 x 1024, "
                               "2 = 1024 x 768, 3 = 800 x 600) and the extended-logs switch (1 = on).";
  // A FIFO or a device is refused without reading from it, so start-up can never block.
  const SmallFile file = read_small_file(path);
  if (!file.read()) {
    s.notice = file.status == SmallFile::Status::not_regular
                   ? file.refusal + "; using window-size code 2 and extended logs off."
                   : "Could not read " + path + "; using window-size code 2 and extended logs off. " + expected;
    return s;
  }
  read_display_choices(file.text, path, s);
  std::istringstream in(file.text);
  const auto v = first_values(in, 2);
  if (v.size() < 2 || !v[0] || !v[1]) {
    s.notice =
        "Could not read both values of " + path + "; using window-size code 2 and extended logs off. " + expected;
    return s;
  }
  s.window_code = *v[0];
  s.extlogs = *v[1] == 1 ? 1 : 0;
  if (s.window_code < 1 || s.window_code > 3) {
    s.notice = "Window-size code " + std::to_string(s.window_code) + " in " + path +
               " is not 1, 2 or 3; using 2 (1024 x 768).";
    s.window_code = 2;
  }
  return s;
}

WindowSize window_size(int code) {
  switch (code) {
    case 1: return WindowSize{1280, 1024};
    case 3: return WindowSize{800, 600};
    default: return WindowSize{1024, 768};
  }
}

}  // namespace zelvo
