#include "fits/header_cards.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>

#include "text/list_format.h"
#include "text/list_parse.h"

namespace zelvo {

namespace {

// Columns first..last (1-based, inclusive) of an 80-column card.
std::string_view columns(const std::string& card, std::size_t first, std::size_t last) {
  return std::string_view(card).substr(first - 1, last - first + 1);
}

bool starts(const std::string& card, std::string_view name) { return card.compare(0, name.size(), name) == 0; }

// The number a free-format read of `field` gives, or nothing when the first item is
// missing, null or not a number. The whole value field is read (a slash, the start of
// the card's comment, ends it), so a value right-justified to column 30, as FITS writes
// numbers, is read whole.
std::optional<float> free_format_number(std::string_view field) {
  bool slash = false;
  const auto items = split_list_items(field, slash);
  if (items.empty() || items.front().null) return std::nullopt;
  return parse_real(items.front().text);
}

// A card's value as CFITSIO parses it: a string without its quotes ('' read as one ') and
// without surrounding blanks, or a number or other value as written; empty when the card
// has none.
std::string card_value(const std::string& card) {
  char value[FLEN_VALUE] = {};
  char comment[FLEN_COMMENT] = {};
  std::string c = pad_right(card, kCardLength);
  int s = 0;
  if (fits_parse_value(c.data(), value, comment, &s) > 0) {
    fits_clear_errmsg();
    return {};
  }
  std::string v = value;
  if (!v.empty() && v.front() == '\'') {
    std::string text;
    for (std::size_t i = 1; i < v.size(); ++i) {
      if (v[i] == '\'') {
        if (i + 1 < v.size() && v[i + 1] == '\'') {
          text += '\'';
          ++i;
          continue;
        }
        break;
      }
      text += v[i];
    }
    v = text;
  }
  const std::size_t first = v.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : trim_right(std::string_view(v).substr(first));
}

}  // namespace

std::string keyword_of(const std::string& card) { return trim_right(std::string_view(card).substr(0, 8)); }

void take_header_values(const std::vector<std::string>& cards, SlotHeader& hdr, HeaderTexts& texts) {
  hdr.exptime = 0.0f;
  hdr.object = std::string(20, ' ');
  texts = HeaderTexts{};
  std::optional<float> exptime, itime;
  std::size_t filter_card = 0;  // 1-based number of the card after the last HIE...FILTER marker
  for (std::size_t k = 1; k <= cards.size(); ++k) {
    const std::string& card = cards[k - 1];
    const std::string key = keyword_of(card);
    if (starts(card, "EXPTIME")) {
      if (const auto v = free_format_number(columns(card, 11, kCardLength))) exptime = v;
    }
    if (key == "ITIME") {
      if (const auto v = free_format_number(columns(card, 11, kCardLength))) itime = v;
    }
    if (starts(card, "OBJECT")) hdr.object = std::string(columns(card, 12, 25)) + std::string(6, ' ');
    for (char& c : hdr.object)
      if (c == '\'') c = ' ';
    if (key == "ST") texts.hdrst = pad_right(card_value(card), 15);
    if (key == "RA") texts.hdrra = pad_right(card_value(card), 15);
    if (key == "DEC") texts.hdrdec = pad_right(card_value(card), 15);
    if (starts(card, "HIE") && columns(card, 32, 39) == "FILTER  ") filter_card = k + 1;
  }
  if (exptime) {
    hdr.exptime = *exptime;
  } else if (itime) {
    hdr.exptime = *itime;
  }
  // A marker on the last card has no filter card after it: the filter stays blank.
  if (filter_card >= 1 && filter_card <= cards.size())
    texts.hdrfilter = std::string(1, cards[filter_card - 1][31]) + std::string(14, ' ');
}

void move_to_first_image(fitsfile* f, int& status) {
  int naxis = 0;
  fits_get_img_dim(f, &naxis, &status);
  if (status > 0 || naxis > 0) return;
  for (int hdu = 2;; ++hdu) {
    int type = 0;
    int s = 0;
    if (fits_movabs_hdu(f, hdu, &type, &s) > 0) break;
    int n = 0;
    if (type == IMAGE_HDU && fits_get_img_dim(f, &n, &s) <= 0 && n > 0) return;
  }
  fits_clear_errmsg();  // running off the end of the file is the expected way out
  int type = 0;
  fits_movabs_hdu(f, 1, &type, &status);
}

std::vector<std::string> read_cards(fitsfile* f, int& status) {
  std::vector<std::string> cards;
  int compressed_status = 0;
  if (fits_is_compressed_image(f, &compressed_status)) {
    char* header = nullptr;
    int nkeys = 0;
    if (fits_convert_hdr2str(f, 0, nullptr, 0, &header, &nkeys, &status) > 0) {
      // CFITSIO may have allocated the text before the conversion failed.
      int ignored = 0;
      if (header != nullptr) fits_free_memory(header, &ignored);
      return cards;
    }
    const std::size_t length = std::strlen(header);
    for (std::size_t at = 0; at < length; at += kCardLength) {
      std::string card = pad_right(std::string_view(header + at, std::min(kCardLength, length - at)), kCardLength);
      if (keyword_of(card) != "END") cards.push_back(std::move(card));
    }
    int ignored = 0;
    fits_free_memory(header, &ignored);
    return cards;
  }
  int nkeys = 0;
  int nspace = 0;
  fits_get_hdrspace(f, &nkeys, &nspace, &status);
  if (status > 0) return cards;
  cards.reserve(static_cast<std::size_t>(nkeys));
  for (int k = 1; k <= nkeys; ++k) {
    char card[FLEN_CARD] = {};
    if (fits_read_record(f, k, card, &status) > 0) break;
    cards.push_back(pad_right(card, kCardLength));
  }
  return cards;
}

namespace {

// Whether a card with this keyword describes the old data rather than the image: the
// structural, scaling, checksum and compression cards. The writer makes its own.
bool describes_old_data(const std::string& key) {
  static constexpr std::string_view kNames[] = {
      "SIMPLE",   "XTENSION", "BITPIX",   "NAXIS",    "EXTEND",   "PCOUNT",  "GCOUNT",  "GROUPS",
      "END",      "BSCALE",   "BZERO",    "BLANK",    "CHECKSUM", "DATASUM", "ZIMAGE",  "ZCMPTYPE",
      "ZBITPIX",  "ZNAXIS",   "ZSIMPLE",  "ZEXTEND",  "ZBLOCKED", "ZPCOUNT", "ZGCOUNT", "ZTENSION",
      "ZHECKSUM", "ZDATASUM", "ZQUANTIZ", "ZDITHER0", "ZMASKCMP", "ZBLANK",  "ZSCALE",  "ZZERO"};
  for (const auto n : kNames)
    if (key == n) return true;
  // Numbered families: NAXISn, ZNAXISn, ZTILEn, ZNAMEn, ZVALn.
  for (const std::string_view stem : {"NAXIS", "ZNAXIS", "ZTILE", "ZNAME", "ZVAL"}) {
    if (key.size() > stem.size() && key.compare(0, stem.size(), stem) == 0 &&
        key.find_first_not_of("0123456789", stem.size()) == std::string::npos)
      return true;
  }
  return false;
}

bool commentary(const std::string& key) { return key.empty() || key == "COMMENT" || key == "HISTORY"; }

}  // namespace

void write_source_cards(fitsfile* f, const std::vector<std::string>& cards, bool& had_checksum, int& status) {
  int nkeys = 0, nspace = 0;
  fits_get_hdrspace(f, &nkeys, &nspace, &status);
  std::vector<std::string> fresh;
  std::vector<std::string> fresh_keys;
  for (int k = 1; k <= nkeys && status <= 0; ++k) {
    char card[FLEN_CARD] = {};
    fits_read_record(f, k, card, &status);
    fresh.push_back(pad_right(card, kCardLength));
    fresh_keys.push_back(keyword_of(fresh.back()));
  }
  for (const std::string& source : cards) {
    if (status > 0) return;
    const std::string card = pad_right(source, kCardLength);
    const std::string key = keyword_of(card);
    if (key == "CHECKSUM") had_checksum = true;
    if (describes_old_data(key) || std::find(fresh.begin(), fresh.end(), card) != fresh.end()) continue;
    if (!commentary(key) && std::find(fresh_keys.begin(), fresh_keys.end(), key) != fresh_keys.end()) {
      if (key == "EXTNAME") fits_update_card(f, const_cast<char*>("EXTNAME"), card.c_str(), &status);
      continue;  // otherwise one of CFITSIO's own cards for the new data
    }
    int s = 0;
    if (fits_write_record(f, card.c_str(), &s) > 0) {
      fits_clear_errmsg();
      std::string clean = card;
      for (char& c : clean)
        if (c < ' ' || c > '~') c = ' ';
      s = 0;
      if (fits_write_record(f, clean.c_str(), &s) > 0) {
        // Not a keyword CFITSIO can write (a blank inside the name, say): its text is kept
        // as a comment.
        fits_clear_errmsg();
        s = 0;
        if (fits_write_comment(f, trim_right(clean).c_str(), &s) > 0) fits_clear_errmsg();
      }
    }
  }
  char when[32] = {};
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &utc);
  fits_write_history(f, (std::string("Zelvo wrote this file on ") + when + " UTC.").c_str(), &status);
}

}  // namespace zelvo
