#include "platform/giza_text.h"

namespace zelvo {

std::vector<TextPiece> literal_pieces(std::string_view s) {
  std::vector<TextPiece> pieces;
  std::string run;
  auto flush_run = [&] {
    if (!run.empty()) pieces.push_back(TextPiece{run, 0});
    run.clear();
  };
  for (const char ch : s) {
    const auto u = static_cast<unsigned char>(ch);
    if (ch == '_' || ch == '^' || ch == '\\') {
      flush_run();
      pieces.push_back(TextPiece{"", ch});
    } else if (ch == '{') {
      run += "\\(1225)";  // giza's symbol for a left brace
    } else if (ch == '}') {
      run += "\\(1226)";
    } else {
      run += (u >= 32 && u < 127) ? ch : '?';
    }
  }
  flush_run();
  return pieces;
}

}  // namespace zelvo
