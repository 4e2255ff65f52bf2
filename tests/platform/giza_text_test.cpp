// Text that giza must draw literally: what giza is handed and what the program strokes itself.
#include "platform/giza_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zelvo;

namespace {

struct PiecesCase {
  const char* text;
  std::vector<TextPiece> want;
};

bool same(const std::vector<TextPiece>& a, const std::vector<TextPiece>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (a[k].text != b[k].text || a[k].glyph != b[k].glyph) return false;
  return true;
}

class LiteralText : public ::testing::TestWithParam<PiecesCase> {};

TEST_P(LiteralText, MarkupCharactersAreNeverHandedToGiza) {
  const PiecesCase& c = GetParam();
  const std::vector<TextPiece> got = literal_pieces(c.text);
  std::string shown;
  for (const auto& p : got) shown += p.glyph ? std::string("<") + p.glyph + ">" : "[" + p.text + "]";
  EXPECT_TRUE(same(got, c.want)) << c.text << " became " << shown;
}

INSTANTIATE_TEST_SUITE_P(Pieces, LiteralText,
                         ::testing::Values(PiecesCase{"field.fits", {{"field.fits", 0}}},
                                           PiecesCase{"field_clean.fits", {{"field", 0}, {"", '_'}, {"clean.fits", 0}}},
                                           PiecesCase{"a^2", {{"a", 0}, {"", '^'}, {"2", 0}}},
                                           PiecesCase{"c:\\dir", {{"c:", 0}, {"", '\\'}, {"dir", 0}}},
                                           PiecesCase{"{x}", {{"\\(1225)x\\(1226)", 0}}},
                                           PiecesCase{"M\xc3\xb6rk.fits", {{"M??rk.fits", 0}}},
                                           PiecesCase{"__", {{"", '_'}, {"", '_'}}}));

}  // namespace
