// WCS cards through crops, quarter turns and mirrors. With p = M p' + t (old pixel from new),
// the pixel offset from the reference pixel transforms as p - CRPIX = M (p' - CRPIX'), so
//   CRPIX' = M^T (CRPIX - t)        (M^-1 = M^T for a signed permutation)
//   CD' = CD M,  PC' = PC M         (columns of the matrix follow the pixel axes)
// and the pixel-space SIP polynomials are re-expressed in the new axes. Distortions defined
// on intermediate world coordinates (TPV's PVi_m, IRAF's TNX) need no change.
#include "fits/wcs_cards.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <utility>

namespace zelvo {

namespace {

constexpr std::size_t kCardLength = 80;
using Cards = std::vector<std::string>;

std::string name_of(const std::string& card) {
  std::string n = card.substr(0, std::min<std::size_t>(8, card.size()));
  const auto end = n.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : n.substr(0, end + 1);
}

bool has_value(const std::string& card) { return card.size() >= 10 && card[8] == '=' && card[9] == ' '; }

std::optional<std::size_t> find_card(const Cards& cards, const std::string& name) {
  for (std::size_t k = 0; k < cards.size(); ++k)
    if (has_value(cards[k]) && name_of(cards[k]) == name) return k;
  return std::nullopt;
}

// The numeric value of a card (Fortran's D exponent accepted), if it has one.
std::optional<double> number_of(const std::string& card) {
  std::string v = card.substr(10);
  const auto slash = v.find('/');
  if (slash != std::string::npos) v.resize(slash);
  for (char& c : v)
    if (c == 'D' || c == 'd') c = 'E';
  const char* s = v.c_str();
  char* end = nullptr;
  const double d = std::strtod(s, &end);
  if (end == s) return std::nullopt;
  while (*end == ' ') ++end;
  if (*end != '\0' || !std::isfinite(d)) return std::nullopt;
  return d;
}

std::optional<double> value_of(const Cards& cards, const std::string& name) {
  const auto k = find_card(cards, name);
  return k ? number_of(cards[*k]) : std::nullopt;
}

// The shortest text that reads back as exactly `v`, in FITS's form (upper-case exponent,
// always a decimal point).
std::string fits_number(double v) {
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  for (char& c : s)
    if (c == 'e') c = 'E';
  if (s.find('.') == std::string::npos) {
    const auto e = s.find('E');
    s.insert(e == std::string::npos ? s.size() : e, ".0");
  }
  return s;
}

// "NAME    =                value / comment": the value right-aligned in columns 11-30 as
// FITS writes numbers, with the comment of `old` (if any) kept.
std::string number_card(const std::string& name, double v, const std::string& old = "") {
  std::string c = name;
  c.resize(8, ' ');
  c += "= ";
  const std::string num = fits_number(v);
  c += std::string(num.size() < 20 ? 20 - num.size() : 0, ' ') + num;
  if (!old.empty()) {
    const auto slash = old.find('/', 10);
    if (slash != std::string::npos) c += " " + old.substr(slash);
  }
  c.resize(kCardLength, ' ');
  return c;
}

// Rewrites the value of `name`, or adds the card after the last present card among `after`
// (at the end when none is present).
void set_number(Cards& cards, const std::string& name, double v, const std::vector<std::string>& after) {
  if (const auto k = find_card(cards, name)) {
    cards[*k] = number_card(name, v, cards[*k]);
    return;
  }
  std::optional<std::size_t> at;
  for (const auto& a : after)
    if (const auto k = find_card(cards, a)) at = at ? std::max(*at, *k) : *k;
  cards.insert(at ? cards.begin() + static_cast<std::ptrdiff_t>(*at + 1) : cards.end(), number_card(name, v));
}

// As set_number, but a card the header lacks is added only when `v` differs from the value
// its absence stands for.
void set_unless_default(Cards& cards, const std::string& name, double v, double fallback,
                        const std::vector<std::string>& after) {
  if (find_card(cards, name) || v != fallback) set_number(cards, name, v, after);
}

std::string ctype_of(const Cards& cards, const std::string& name) {
  const auto k = find_card(cards, name);
  if (!k) return "";
  std::string v = cards[*k].substr(10);
  const auto q1 = v.find('\''), q2 = v.find('\'', q1 == std::string::npos ? 0 : q1 + 1);
  return q1 == std::string::npos || q2 == std::string::npos ? "" : v.substr(q1 + 1, q2 - q1 - 1);
}

bool latitude_type(const std::string& t) { return t.rfind("DEC-", 0) == 0 || (t.size() >= 4 && t.compare(1, 3, "LAT") == 0); }
bool longitude_type(const std::string& t) { return t.rfind("RA--", 0) == 0 || (t.size() >= 4 && t.compare(1, 3, "LON") == 0); }

bool diagonal(const PixelMap& map) { return map.m[0][1] == 0 && map.m[1][0] == 0; }

// p' = M^T (p - t): a pixel position in the new frame.
std::array<double, 2> to_new(const PixelMap& map, double x, double y) {
  x -= map.t[0];
  y -= map.t[1];
  return {map.m[0][0] * x + map.m[1][0] * y, map.m[0][1] * x + map.m[1][1] * y};
}

// Largest axis number among the cards of one description (at least 2).
int axis_count(const Cards& cards, const std::string& alt) {
  int n = 2;
  if (const auto w = value_of(cards, "WCSAXES" + alt)) n = std::max(n, static_cast<int>(*w));
  for (int i = 3; i <= 9; ++i)
    for (const char* key : {"CTYPE", "CRVAL", "CDELT", "CRPIX"})
      if (find_card(cards, key + std::to_string(i) + alt)) n = std::max(n, i);
  return n;
}

// A matrix description (CDi_ja or PCi_ja): column j of every row i follows pixel axis j.
void transform_matrix(Cards& cards, const std::string& key, const std::string& alt, double fallback_diagonal,
                      const PixelMap& map) {
  const int n = axis_count(cards, alt);
  auto name = [&](int i, int j) { return key + std::to_string(i) + "_" + std::to_string(j) + alt; };
  for (int i = 1; i <= n; ++i) {
    double old[2];
    bool present[2];
    for (int j = 0; j < 2; ++j) {
      const auto v = value_of(cards, name(i, j + 1));
      present[j] = v.has_value();
      old[j] = v.value_or(i == j + 1 ? fallback_diagonal : 0.0);
    }
    for (int jp = 0; jp < 2; ++jp) {
      const double v = old[0] * map.m[0][jp] + old[1] * map.m[1][jp];
      if (present[jp] || v != (i == jp + 1 ? fallback_diagonal : 0.0))
        set_number(cards, name(i, jp + 1), v, {name(i, 1), name(i, 2), name(i - 1, 2), "CRPIX2" + alt, "CDELT2" + alt});
    }
  }
}

// CDELTia with CROTAi (or CDELTia alone). wcslib forms CD = R(s rho) diag(CDELT1, CDELT2),
// rho the CROTA of the latitude axis, s = +1 when that is axis 2 and -1 when it is axis 1.
// diag(c) M is diag(c) M again for a mirror and R(90) diag(c2 m10, -c1 m01) for a quarter
// turn, so the form survives with new CDELTs and rho' = rho + s 90.
void transform_cdelt(Cards& cards, const std::string& alt, const PixelMap& map) {
  const double c1 = value_of(cards, "CDELT1" + alt).value_or(1.0), c2 = value_of(cards, "CDELT2" + alt).value_or(1.0);
  const std::string t1 = ctype_of(cards, "CTYPE1" + alt), t2 = ctype_of(cards, "CTYPE2" + alt);
  int lat_axis = 0;
  if (latitude_type(t2) && longitude_type(t1)) lat_axis = 2;
  if (latitude_type(t1) && longitude_type(t2)) lat_axis = 1;
  const std::vector<std::string> after{"CDELT2" + alt, "CDELT1" + alt, "CRPIX2" + alt, "CRVAL2" + alt};
  if (diagonal(map)) {
    set_unless_default(cards, "CDELT1" + alt, c1 * map.m[0][0], 1.0, after);
    set_unless_default(cards, "CDELT2" + alt, c2 * map.m[1][1], 1.0, after);
    return;
  }
  if (lat_axis == 0) {
    // Without a celestial pair CROTA means nothing to wcslib: the turn goes into PCi_j.
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j)
        set_unless_default(cards, "PC" + std::to_string(i) + "_" + std::to_string(j) + alt, map.m[i - 1][j - 1],
                           i == j ? 1.0 : 0.0, after);
    return;
  }
  const std::string crota = "CROTA" + std::to_string(lat_axis) + alt;
  const double sign = lat_axis == 2 ? 1.0 : -1.0;
  double rho = value_of(cards, crota).value_or(0.0) + sign * 90.0;
  rho = std::remainder(rho, 360.0);  // within -180 .. 180
  set_unless_default(cards, "CDELT1" + alt, c2 * map.m[1][0], 1.0, after);
  set_unless_default(cards, "CDELT2" + alt, -c1 * map.m[0][1], 1.0, after);
  set_unless_default(cards, crota, rho, 0.0, after);
}

void transform_description(Cards& cards, const std::string& alt, const PixelMap& map) {
  const std::array<double, 2> r =
      to_new(map, value_of(cards, "CRPIX1" + alt).value_or(0.0), value_of(cards, "CRPIX2" + alt).value_or(0.0));
  const std::vector<std::string> after{"CRPIX1" + alt, "CRVAL2" + alt, "CRVAL1" + alt, "CTYPE2" + alt};
  set_number(cards, "CRPIX1" + alt, r[0], after);
  set_number(cards, "CRPIX2" + alt, r[1], {"CRPIX1" + alt});

  const int n = axis_count(cards, alt);
  bool cd = false, pc = false;
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      const std::string ij = std::to_string(i) + "_" + std::to_string(j) + alt;
      cd = cd || find_card(cards, "CD" + ij).has_value();
      pc = pc || find_card(cards, "PC" + ij).has_value();
    }
  if (cd)
    transform_matrix(cards, "CD", alt, 0.0, map);
  else if (pc)
    transform_matrix(cards, "PC", alt, 1.0, map);
  else
    transform_cdelt(cards, alt, map);
}

// SIP: x = CD (u + f(u, v), v + g(u, v)) with (u, v) the offset from CRPIX and f, g the A and
// B polynomials (AP and BP the inverse ones, on the same kind of offsets). With
// (u, v) = M (u', v'), the new polynomials are (f', g') = M^T (f, g)(M (u', v')).
void transform_sip(Cards& cards, const PixelMap& map) {
  const std::string t1 = ctype_of(cards, "CTYPE1");
  if (t1.size() < 4 || t1.compare(t1.size() - 4, 4, "-SIP") != 0) return;
  using Coefficients = std::map<std::pair<int, int>, double>;
  std::map<std::string, Coefficients> poly;  // "A", "B", "AP", "BP"
  std::map<std::string, double> extra;       // A_ORDER, B_DMAX, ...
  std::optional<std::size_t> first;
  Cards kept;
  for (const std::string& c : cards) {
    const std::string name = name_of(c);
    const auto us = name.find('_');
    const std::string family = us == std::string::npos ? "" : name.substr(0, us);
    if (has_value(c) && (family == "A" || family == "B" || family == "AP" || family == "BP")) {
      const std::string rest = name.substr(us + 1);
      const auto v = number_of(c);
      int p = 0, q = 0;
      if (v && (rest == "ORDER" || rest == "DMAX")) {
        extra[name] = *v;
      } else if (v && std::sscanf(rest.c_str(), "%d_%d", &p, &q) == 2) {
        poly[family][{p, q}] = *v;
      } else {
        kept.push_back(c);
        continue;
      }
      if (!first) first = kept.size();
      continue;
    }
    kept.push_back(c);
  }
  if (!first) return;

  const auto& m = map.m;
  std::map<std::string, Coefficients> out;
  std::map<std::string, double> out_extra;
  auto power = [](int base, int e) { return (e % 2 == 1 && base < 0) ? -1.0 : 1.0; };  // base is +-1
  for (const auto& [f, g] : {std::pair<std::string, std::string>{"A", "B"}, {"AP", "BP"}}) {
    if (diagonal(map)) {
      for (const auto& [pq, v] : poly[f])
        out[f][pq] = m[0][0] * power(m[0][0], pq.first) * power(m[1][1], pq.second) * v;
      for (const auto& [pq, v] : poly[g])
        out[g][pq] = m[1][1] * power(m[0][0], pq.first) * power(m[1][1], pq.second) * v;
    } else {
      // u = m01 v', v = m10 u': u^p v^q becomes m01^p m10^q u'^q v'^p, and f' = m10 G, g' = m01 F.
      for (const auto& [pq, v] : poly[g])
        out[f][{pq.second, pq.first}] = m[1][0] * power(m[0][1], pq.first) * power(m[1][0], pq.second) * v;
      for (const auto& [pq, v] : poly[f])
        out[g][{pq.second, pq.first}] = m[0][1] * power(m[0][1], pq.first) * power(m[1][0], pq.second) * v;
    }
  }
  for (const auto& [name, v] : extra) {
    std::string n = name;
    if (!diagonal(map)) {
      // A and B (AP and BP) trade places under a quarter turn.
      if (n.rfind("AP_", 0) == 0) n = "BP" + n.substr(2);
      else if (n.rfind("BP_", 0) == 0) n = "AP" + n.substr(2);
      else if (n.rfind("A_", 0) == 0) n = "B" + n.substr(1);
      else if (n.rfind("B_", 0) == 0) n = "A" + n.substr(1);
    }
    out_extra[n] = v;
  }

  Cards sip;
  for (const std::string f : {"A", "B", "AP", "BP"}) {
    if (const auto it = out_extra.find(f + "_ORDER"); it != out_extra.end()) {
      // Orders are integers: written without a decimal point.
      std::string c = f + "_ORDER";
      c.resize(8, ' ');
      const std::string v = std::to_string(static_cast<long>(it->second));
      c += "= " + std::string(20 - v.size(), ' ') + v;
      c.resize(kCardLength, ' ');
      sip.push_back(c);
    }
    for (const auto& [pq, v] : out[f])
      sip.push_back(number_card(f + "_" + std::to_string(pq.first) + "_" + std::to_string(pq.second), v));
  }
  for (const std::string f : {"A_DMAX", "B_DMAX"})
    if (const auto it = out_extra.find(f); it != out_extra.end()) sip.push_back(number_card(f, it->second));
  kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(*first), sip.begin(), sip.end());
  cards = std::move(kept);
}

// IRAF's logical-physical map: logical = LTM physical + LTV. With logical p = M p' + t the new
// one is LTM' = M^T LTM, LTV' = M^T (LTV - t).
void transform_ltm(Cards& cards, const PixelMap& map) {
  const char* names[] = {"LTV1", "LTV2", "LTM1_1", "LTM1_2", "LTM2_1", "LTM2_2"};
  if (std::none_of(std::begin(names), std::end(names), [&](const char* n) { return find_card(cards, n).has_value(); }))
    return;
  double l[2][2];
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      l[i][j] = value_of(cards, "LTM" + std::to_string(i + 1) + "_" + std::to_string(j + 1)).value_or(i == j ? 1.0 : 0.0);
  const auto v = to_new(map, value_of(cards, "LTV1").value_or(0.0), value_of(cards, "LTV2").value_or(0.0));
  const std::vector<std::string> after{"LTV2", "LTV1", "LTM1_1", "LTM1_2", "LTM2_1", "LTM2_2"};
  set_number(cards, "LTV1", v[0], after);
  set_number(cards, "LTV2", v[1], after);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      const double nl = map.m[0][i] * l[0][j] + map.m[1][i] * l[1][j];
      const std::string name = "LTM" + std::to_string(i + 1) + "_" + std::to_string(j + 1);
      set_unless_default(cards, name, nl, i == j ? 1.0 : 0.0, after);
    }
}

}  // namespace

PixelMap crop_map(int x1, int y1) {
  PixelMap p;
  p.t = {static_cast<double>(x1 - 1), static_cast<double>(y1 - 1)};
  return p;
}

PixelMap quarter_turn_map(int nx) {
  PixelMap p;
  p.m = {{{0, -1}, {1, 0}}};
  p.t = {static_cast<double>(nx + 1), 0.0};
  return p;
}

PixelMap mirror_x_map(int nx) {
  PixelMap p;
  p.m = {{{-1, 0}, {0, 1}}};
  p.t = {static_cast<double>(nx + 1), 0.0};
  return p;
}

PixelMap mirror_y_map(int ny) {
  PixelMap p;
  p.m = {{{1, 0}, {0, -1}}};
  p.t = {0.0, static_cast<double>(ny + 1)};
  return p;
}

void transform_wcs_cards(std::vector<std::string>& cards, const PixelMap& map) {
  // The descriptions present: the primary one ("") and alternates "A" to "Z".
  std::set<std::string> alts;
  for (const std::string& c : cards) {
    if (!has_value(c)) continue;
    const std::string n = name_of(c);
    for (const char* key : {"CRPIX", "CRVAL", "CTYPE", "CDELT", "CD", "PC"}) {
      const std::size_t k = std::string(key).size();
      if (n.rfind(key, 0) != 0 || n.size() <= k || !std::isdigit(static_cast<unsigned char>(n[k]))) continue;
      const char last = n.back();
      alts.insert(last >= 'A' && last <= 'Z' ? std::string(1, last) : std::string());
    }
  }
  for (const std::string& alt : alts) transform_description(cards, alt, map);
  transform_sip(cards, map);
  transform_ltm(cards, map);
}

}  // namespace zelvo
