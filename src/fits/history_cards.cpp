#include "fits/history_cards.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "numeric/pixel_values.h"

namespace zelvo {

namespace {

constexpr std::size_t kCardWidth = 80;
constexpr std::string_view kHistoryKey = "HISTORY ";
constexpr std::size_t kHistoryText = kCardWidth - kHistoryKey.size();  // 72 columns

std::string padded(std::string card) {
  card.resize(kCardWidth, ' ');
  return card;
}

std::string_view keyword(const std::string& card) {
  std::string_view k = std::string_view(card).substr(0, std::min<std::size_t>(8, card.size()));
  while (!k.empty() && k.back() == ' ') k.remove_suffix(1);
  return k;
}

enum class RangeCard { none, minimum, maximum };

RangeCard range_card(const std::string& card) {
  if (card.size() < 10 || card.compare(8, 2, "= ") != 0) return RangeCard::none;
  const std::string_view k = keyword(card);
  if (k == "DATAMIN" || k == "IRAF-MIN") return RangeCard::minimum;
  if (k == "DATAMAX" || k == "IRAF-MAX") return RangeCard::maximum;
  return RangeCard::none;
}

// A REAL value card: the keyword, the value right-justified to column 30 (with a decimal
// point, so it reads back as a real), and the old card's comment.
std::string value_card(const std::string& old, float value) {
  char number[32];
  std::snprintf(number, sizeof number, "%.9G", static_cast<double>(value));
  std::string v = number;
  if (v.find_first_of(".E") == std::string::npos) v += ".0";
  std::string card = std::string(keyword(old));
  card.resize(8, ' ');
  card += "= ";
  card += std::string(v.size() < 20 ? 20 - v.size() : 0, ' ') + v;
  if (const std::size_t slash = old.find('/', 10); slash != std::string::npos) {
    std::string comment = old.substr(slash);
    while (!comment.empty() && comment.back() == ' ') comment.pop_back();
    card += " " + comment;
  }
  if (card.size() > kCardWidth) card.resize(kCardWidth);
  return padded(card);
}

struct Range {
  float lo = 0.0f, hi = 0.0f;
};

std::optional<Range> counted_range(ConstImageView image, bool undefined_as_null) {
  std::optional<Range> r;
  const std::size_t n = image.empty() ? 0 : image.size();
  for (std::size_t i = 0; i < n; ++i) {
    const float p = image.px[i];
    if (!counted_pixel(p) || (undefined_as_null && p == kUndefinedPixel)) continue;
    if (!r) {
      r = Range{p, p};
    } else {
      r->lo = std::min(r->lo, p);
      r->hi = std::max(r->hi, p);
    }
  }
  return r;
}

}  // namespace

void add_history(std::vector<std::string>& cards, std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  do {
    std::size_t take = text.size();
    if (take > kHistoryText) {
      // Break at the last blank that leaves a full card; a word longer than a card is cut.
      const std::size_t blank = text.substr(0, kHistoryText + 1).rfind(' ');
      take = (blank == std::string_view::npos || blank == 0) ? kHistoryText : blank;
    }
    cards.push_back(padded(std::string(kHistoryKey) + std::string(text.substr(0, take))));
    text.remove_prefix(take);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  } while (!text.empty());
}

std::vector<std::string> history_of(const std::vector<std::string>& cards) {
  std::vector<std::string> texts;
  for (const std::string& c : cards) {
    if (keyword(c) != "HISTORY") continue;
    std::string t = c.size() > 8 ? c.substr(8) : std::string();
    while (!t.empty() && t.back() == ' ') t.pop_back();
    texts.push_back(t);
  }
  return texts;
}

std::vector<std::string> with_data_range(const std::vector<std::string>& cards, ConstImageView image,
                                         bool undefined_as_null) {
  const bool any =
      std::any_of(cards.begin(), cards.end(), [](const std::string& c) { return range_card(c) != RangeCard::none; });
  if (!any) return cards;
  const std::optional<Range> r = counted_range(image, undefined_as_null);
  std::vector<std::string> out;
  out.reserve(cards.size());
  for (const std::string& c : cards) {
    const RangeCard kind = range_card(c);
    if (kind == RangeCard::none)
      out.push_back(c);
    else if (r)
      out.push_back(value_card(c, kind == RangeCard::minimum ? r->lo : r->hi));
  }
  return out;
}

}  // namespace zelvo
