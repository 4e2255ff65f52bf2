#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "fits/history_cards.h"
#include "support/astropy_wcs.h"

using namespace zelvo;
using zelvo::testing::card;

namespace {

struct Wrap {
  const char* name;
  std::string text;
  std::vector<std::string> texts;  // what each card holds after "HISTORY "
};
void PrintTo(const Wrap& w, std::ostream* os) { *os << w.name; }

// A number card with a comment after the value, as FITS lays it out.
std::string commented(const std::string& name, const std::string& value, const std::string& comment) {
  std::string c = card(name, value).substr(0, 30) + " / " + comment;
  c.resize(80, ' ');
  return c;
}

class HistoryWrap : public ::testing::TestWithParam<Wrap> {};

TEST_P(HistoryWrap, EveryCardIsEightyColumnsAndHoldsTheTextInOrder) {
  const Wrap& w = GetParam();
  std::vector<std::string> cards = {card("EXPTIME", "300.0")};
  add_history(cards, w.text);
  ASSERT_EQ(cards.size(), 1 + w.texts.size());
  for (std::size_t i = 1; i < cards.size(); ++i) {
    EXPECT_EQ(cards[i].size(), 80u);
    EXPECT_EQ(cards[i].substr(0, 8), "HISTORY ");
  }
  EXPECT_EQ(history_of(cards), w.texts);
}

const std::string kWord72(72, 'w');

INSTANTIATE_TEST_SUITE_P(
    Texts, HistoryWrap,
    ::testing::Values(Wrap{"Short", "Zelvo T: rotated 90 degrees clockwise", {"Zelvo T: rotated 90 degrees clockwise"}},
                      Wrap{"ExactlyOneCard", kWord72, {kWord72}},
                      Wrap{"WrapsAtTheLastBlank",
                           "Zelvo G: (B-I) colour image from B slot 1 (ngc4565_b.fits) and I slot 2 "
                           "(ngc4565_i.fits), kappa 0.1",
                           {"Zelvo G: (B-I) colour image from B slot 1 (ngc4565_b.fits) and I slot 2",
                            "(ngc4565_i.fits), kappa 0.1"}},
                      Wrap{"CutsAWordLongerThanACard", kWord72 + "abc", {kWord72, "abc"}}),
    [](const ::testing::TestParamInfo<Wrap>& info) { return std::string(info.param.name); });

TEST(DataRange, TheRangeCardsFollowThePixelsAndKeepTheirComments) {
  Image img(3, 2, 50.0f);
  img.at(1, 1) = -12.5f;
  img.at(3, 2) = 7695.25f;
  img.at(2, 2) = std::numeric_limits<float>::quiet_NaN();  // never a limit
  const std::vector<std::string> cards = {card("OBJECT", "'M51'"), commented("DATAMIN", "0.0", "lowest value"),
                                          card("DATAMAX", "19936.0"), commented("IRAF-MAX", "19936.0", "DATA MAX"),
                                          card("IRAF-MIN", "0.0")};
  const std::vector<std::string> out = with_data_range(cards, img.view());
  ASSERT_EQ(out.size(), cards.size());
  EXPECT_EQ(out[0], cards[0]);
  EXPECT_EQ(out[1], commented("DATAMIN", "-12.5", "lowest value"));
  EXPECT_EQ(out[2], card("DATAMAX", "7695.25"));
  EXPECT_EQ(out[3], commented("IRAF-MAX", "7695.25", "DATA MAX"));
  EXPECT_EQ(out[4], card("IRAF-MIN", "-12.5"));
  for (const std::string& c : out) EXPECT_EQ(c.size(), 80u);

  // Undefined pixels written as such are no value; without any counted pixel the cards go.
  img.at(1, 1) = kUndefinedPixel;
  EXPECT_EQ(with_data_range(cards, img.view(), true)[1], commented("DATAMIN", "50.0", "lowest value"));
  Image blank(2, 2, std::numeric_limits<float>::infinity());
  EXPECT_EQ(with_data_range(cards, blank.view()), std::vector<std::string>{cards[0]});
  // A header without them is left as it is.
  EXPECT_EQ(with_data_range({cards[0]}, img.view()), std::vector<std::string>{cards[0]});
}

}  // namespace
