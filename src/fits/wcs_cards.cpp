// WCS cards through crops, quarter turns and mirrors. With p = M p' + t (old pixel from new),
// the pixel offset from the reference pixel transforms as p - CRPIX = M (p' - CRPIX'), so
//   CRPIX' = M^T (CRPIX - t)        (M^-1 = M^T for a signed permutation)
//   CD' = CD M,  PC' = PC M         (columns of the matrix follow the pixel axes)
// and the pixel-space SIP polynomials are re-expressed in the new axes. Distortions defined
// on intermediate world coordinates (TPV's PVi_m, IRAF's TNX) need no change.
#include "fits/wcs_cards.h"

#include "fits/sky_coordinates.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
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

bool latitude_type(const std::string& t) {
  return t.rfind("DEC-", 0) == 0 || (t.size() >= 4 && t.compare(1, 3, "LAT") == 0);
}
bool longitude_type(const std::string& t) {
  return t.rfind("RA--", 0) == 0 || (t.size() >= 4 && t.compare(1, 3, "LON") == 0);
}

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
      if (n.rfind("AP_", 0) == 0)
        n = "BP" + n.substr(2);
      else if (n.rfind("BP_", 0) == 0)
        n = "AP" + n.substr(2);
      else if (n.rfind("A_", 0) == 0)
        n = "B" + n.substr(1);
      else if (n.rfind("B_", 0) == 0)
        n = "A" + n.substr(1);
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
      l[i][j] =
          value_of(cards, "LTM" + std::to_string(i + 1) + "_" + std::to_string(j + 1)).value_or(i == j ? 1.0 : 0.0);
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

namespace zelvo {

namespace {

bool all_digits(const std::string& s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// "NAME<digits>[A-Z]" or "NAME<digits>_<digits>[A-Z]" for one of `stems`.
bool numbered(const std::string& n, std::initializer_list<const char*> stems, bool pair) {
  for (const std::string stem : stems) {
    if (n.rfind(stem, 0) != 0) continue;
    std::string rest = n.substr(stem.size());
    if (!rest.empty() && rest.back() >= 'A' && rest.back() <= 'Z') rest.pop_back();
    if (!pair) {
      if (all_digits(rest)) return true;
      continue;
    }
    const auto us = rest.find('_');
    if (us != std::string::npos && all_digits(rest.substr(0, us)) && all_digits(rest.substr(us + 1))) return true;
  }
  return false;
}

// The cards of a DSS plate solution.
bool dss_keyword(const std::string& n) {
  static const std::set<std::string> kNames = {"PLTRAH",  "PLTRAM",   "PLTRAS",   "PLTDECSN", "PLTDECD", "PLTDECM",
                                               "PLTDECS", "PLTSCALE", "XPIXELSZ", "YPIXELSZ", "CNPIX1",  "CNPIX2"};
  if (kNames.count(n) != 0) return true;
  return (n.rfind("PPO", 0) == 0 && all_digits(n.substr(3))) ||
         ((n.rfind("AMDX", 0) == 0 || n.rfind("AMDY", 0) == 0) && all_digits(n.substr(4)));
}

// The old matrix cards CD00i00j and PC00i00j.
bool old_matrix_keyword(const std::string& n) {
  return n.size() == 8 && (n.rfind("CD00", 0) == 0 || n.rfind("PC00", 0) == 0) && all_digits(n.substr(2)) &&
         n.compare(5, 2, "00") == 0;
}

// Every keyword that places pixels on the sky.
bool wcs_keyword(const std::string& n) {
  if (numbered(n, {"CTYPE", "CRPIX", "CRVAL", "CDELT", "CROTA", "CUNIT"}, false)) return true;
  if (numbered(n, {"CD", "PC", "PV", "PS"}, true)) return true;
  if (numbered(n, {"A_", "B_", "AP_", "BP_"}, true)) return true;
  for (const char* k : {"WCSAXES", "LONPOLE", "LATPOLE", "A_ORDER", "B_ORDER", "AP_ORDER", "BP_ORDER"})
    if (n.rfind(k, 0) == 0 && n.size() <= std::string(k).size() + 1) return true;
  return dss_keyword(n) || old_matrix_keyword(n);
}

void remove_if_keyword(Cards& cards, bool (*which)(const std::string&)) {
  cards.erase(std::remove_if(cards.begin(), cards.end(),
                             [&](const std::string& c) { return has_value(c) && which(name_of(c)); }),
              cards.end());
}

std::string string_card(const std::string& name, const std::string& v) {
  std::string c = name;
  c.resize(8, ' ');
  std::string q = "'" + v;
  if (q.size() < 9) q.resize(9, ' ');
  c += "= " + q + "'";
  c.resize(kCardLength, ' ');
  return c;
}

// Renames CD00i00j and PC00i00j to CDi_j and PCi_j (an old card beside a standard one of the
// same element is dropped: wcslib reads the standard one). Returns whether there were any.
bool translate_old_matrices(Cards& cards) {
  bool any = false;
  Cards out;
  for (const std::string& c : cards) {
    const std::string n = name_of(c);
    if (!has_value(c) || !old_matrix_keyword(n)) {
      out.push_back(c);
      continue;
    }
    any = true;
    const std::string standard = n.substr(0, 2) + std::to_string(n[4] - '0') + "_" + std::to_string(n[7] - '0');
    if (find_card(cards, standard)) continue;
    std::string renamed = standard;
    renamed.resize(8, ' ');
    out.push_back(renamed + c.substr(8));
  }
  cards = std::move(out);
  return any;
}

// The standard coordinates (degrees) of `p` in the tangent plane at `ref`, as TAN projects.
std::optional<std::array<double, 2>> tangent_plane(const SkyPoint& ref, const SkyPoint& p) {
  constexpr double kRad = 3.14159265358979323846 / 180.0;
  const double a0 = ref.lng * kRad, d0 = ref.lat * kRad, a = p.lng * kRad, d = p.lat * kRad;
  const double cosc = std::sin(d0) * std::sin(d) + std::cos(d0) * std::cos(d) * std::cos(a - a0);
  if (cosc <= 0.0) return std::nullopt;
  return std::array<double, 2>{
      std::cos(d) * std::sin(a - a0) / cosc / kRad,
      (std::cos(d0) * std::sin(d) - std::sin(d0) * std::cos(d) * std::cos(a - a0)) / cosc / kRad};
}

// The DSS plate solution as a TAN projection with a CD matrix, fitted by least squares to the
// solution's sky positions on a grid over the image, the reference pixel at its centre. The
// largest misfit (pixels) comes back in `misfit`; nothing when the solution gives no sky position.
std::optional<Cards> fit_dss(const Cards& cards, int nx, int ny, double& misfit) {
  const SkyCoordinatesParse parse = parse_sky_coordinates(cards);
  if (!parse.wcs || !parse.wcs->equatorial()) return std::nullopt;
  const SkyCoordinates& wcs = *parse.wcs;
  const double cx = (nx + 1) / 2.0, cy = (ny + 1) / 2.0;
  const auto centre = wcs.sky_at(cx, cy);
  if (!centre) return std::nullopt;
  constexpr int kGrid = 11;
  std::vector<std::array<double, 4>> samples;  // dx, dy, xi, eta
  double sxx = 0, sxy = 0, syy = 0, sx_xi = 0, sy_xi = 0, sx_eta = 0, sy_eta = 0;
  for (int i = 0; i < kGrid; ++i)
    for (int j = 0; j < kGrid; ++j) {
      const double x = 1.0 + (nx - 1) * i / (kGrid - 1.0), y = 1.0 + (ny - 1) * j / (kGrid - 1.0);
      const auto sky = wcs.sky_at(x, y);
      if (!sky) return std::nullopt;
      const auto t = tangent_plane(*centre, *sky);
      if (!t) return std::nullopt;
      const double dx = x - cx, dy = y - cy;
      samples.push_back({dx, dy, (*t)[0], (*t)[1]});
      sxx += dx * dx;
      sxy += dx * dy;
      syy += dy * dy;
      sx_xi += dx * (*t)[0];
      sy_xi += dy * (*t)[0];
      sx_eta += dx * (*t)[1];
      sy_eta += dy * (*t)[1];
    }
  const double det = sxx * syy - sxy * sxy;
  if (det == 0.0) return std::nullopt;
  const double cd11 = (sx_xi * syy - sy_xi * sxy) / det, cd12 = (sy_xi * sxx - sx_xi * sxy) / det;
  const double cd21 = (sx_eta * syy - sy_eta * sxy) / det, cd22 = (sy_eta * sxx - sx_eta * sxy) / det;
  const double cdet = cd11 * cd22 - cd12 * cd21;
  if (cdet == 0.0) return std::nullopt;
  misfit = 0.0;
  for (const auto& s : samples) {
    // The fitted position of each sample's sky point, in pixels.
    const double px = (cd22 * s[2] - cd12 * s[3]) / cdet, py = (-cd21 * s[2] + cd11 * s[3]) / cdet;
    misfit = std::max(misfit, std::hypot(px - s[0], py - s[1]));
  }
  Cards out{string_card("CTYPE1", "RA---TAN"), string_card("CTYPE2", "DEC--TAN"),  number_card("CRPIX1", cx),
            number_card("CRPIX2", cy),         number_card("CRVAL1", centre->lng), number_card("CRVAL2", centre->lat),
            number_card("CD1_1", cd11),        number_card("CD1_2", cd12),         number_card("CD2_1", cd21),
            number_card("CD2_2", cd22)};
  const std::string frame = wcs.frame();
  const std::string system = frame.substr(0, frame.find(' '));
  if (!find_card(cards, "RADESYS") && !system.empty()) out.push_back(string_card("RADESYS", system));
  return out;
}

// The primary description's standard cards, replaced by a fitted DSS solution.
bool primary_standard_keyword(const std::string& n) {
  if (!n.empty() && n.back() >= 'A' && n.back() <= 'Z') return false;  // an alternate description
  return numbered(n, {"CTYPE", "CRPIX", "CRVAL", "CDELT", "CROTA", "CUNIT"}, false) ||
         numbered(n, {"CD", "PC", "PV"}, true);
}

}  // namespace

std::string with_e_exponent(const std::string& card) {
  if (!has_value(card)) return card;
  std::size_t b = 10;
  while (b < card.size() && card[b] == ' ') ++b;
  std::size_t e = b;
  while (e < card.size() && card[e] != ' ' && card[e] != '/') ++e;
  const std::string v = card.substr(b, e - b);
  const auto d = v.find_first_of("Dd");
  if (d == std::string::npos || d == 0) return card;
  auto number_part = [](const std::string& s, bool exponent) {
    std::size_t i = 0, digits = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    for (; i < s.size(); ++i) {
      if (std::isdigit(static_cast<unsigned char>(s[i])))
        ++digits;
      else if (s[i] != '.' || exponent)
        return false;
    }
    return digits > 0;
  };
  if (!number_part(v.substr(0, d), false) || !number_part(v.substr(d + 1), true)) return card;
  std::string out = card;
  out[b + d] = 'E';
  return out;
}

bool dss_terms_sound(const std::vector<std::string>& cards) {
  bool x = false, y = false;
  for (const std::string& c : cards) {
    const std::string n = name_of(c);
    if (n.rfind("AMDX", 0) != 0 && n.rfind("AMDY", 0) != 0) continue;
    const std::string number = n.substr(4);
    if (!all_digits(number) || number[0] == '0' || number.size() > 2 || !has_value(c) || !number_of(c)) return false;
    (n[3] == 'X' ? x : y) = true;
  }
  return x == y;
}

std::string duplicated_wcs_keyword(const std::vector<std::string>& cards) {
  // A copy with the same value is harmless: only copies that disagree make the WCS ambiguous.
  std::map<std::string, std::string> seen;
  for (const std::string& c : cards) {
    if (!has_value(c)) continue;
    const std::string n = name_of(c);
    if (!wcs_keyword(n)) continue;
    const auto number = number_of(c);
    std::string value = c.substr(10);
    if (number) {
      value = fits_number(*number);
    } else {
      const auto q1 = value.find('\''), q2 = value.find('\'', q1 == std::string::npos ? 0 : q1 + 1);
      value = q1 == std::string::npos || q2 == std::string::npos ? value : value.substr(q1, q2 - q1 + 1);
    }
    const auto [it, fresh] = seen.emplace(n, value);
    if (!fresh && it->second != value) return n;
  }
  return "";
}

namespace {

// The alternate-description letter of a matrix card CDi_ja or PCi_ja ("" for the primary),
// or nothing for any other card.
std::optional<std::string> matrix_alt(const std::string& card, const char* stem) {
  if (!has_value(card)) return std::nullopt;
  const std::string n = name_of(card);
  if (n.rfind(stem, 0) != 0 || !numbered(n, {stem}, true)) return std::nullopt;
  return n.back() >= 'A' && n.back() <= 'Z' ? std::string(1, n.back()) : std::string();
}

// A description with both a CD and a PC matrix keeps the PC matrix, the one wcslib reads its
// sky coordinates with; an edit carrying both would turn the two differently. Returns whether
// CD cards were removed.
bool drop_cd_beside_pc(Cards& cards) {
  std::set<std::string> with_pc, with_cd;
  for (const std::string& c : cards) {
    if (const auto a = matrix_alt(c, "PC")) with_pc.insert(*a);
    if (const auto a = matrix_alt(c, "CD")) with_cd.insert(*a);
  }
  const auto before = cards.size();
  cards.erase(std::remove_if(cards.begin(), cards.end(),
                             [&](const std::string& c) {
                               const auto a = matrix_alt(c, "CD");
                               return a && with_pc.count(*a) > 0;
                             }),
              cards.end());
  return cards.size() != before;
}

}  // namespace

std::optional<std::string> standardise_wcs_cards(std::vector<std::string>& cards, int nx, int ny) {
  for (std::string& c : cards)
    if (wcs_keyword(name_of(c))) c = with_e_exponent(c);
  if (const std::string twice = duplicated_wcs_keyword(cards); !twice.empty()) {
    remove_if_keyword(cards, wcs_keyword);
    return "The header gives " + twice +
           " twice, so its sky coordinates are ambiguous: they are removed, not "
           "carried wrong through the edit.";
  }
  std::set<std::string> seen;
  cards.erase(std::remove_if(cards.begin(), cards.end(),
                             [&](const std::string& c) {
                               return has_value(c) && wcs_keyword(name_of(c)) && !seen.insert(name_of(c)).second;
                             }),
              cards.end());
  std::optional<std::string> line;
  if (translate_old_matrices(cards))
    line = "The header's old CD00i00j/PC00i00j matrix is rewritten as CDi_j/PCi_j cards.";
  if (drop_cd_beside_pc(cards))
    line =
        "The header gives both a CD and a PC matrix: the PC matrix, which its sky coordinates are read with, "
        "is kept and the CD cards are removed.";
  const bool dss = std::any_of(cards.begin(), cards.end(),
                               [](const std::string& c) { return has_value(c) && name_of(c) == "PLTRAH"; });
  if (!dss) return line;
  double misfit = 0.0;
  const std::optional<Cards> fitted = fit_dss(cards, nx, ny, misfit);
  std::size_t at = cards.size();
  for (std::size_t k = 0; k < cards.size(); ++k)
    if (has_value(cards[k]) && dss_keyword(name_of(cards[k]))) {
      at = k;
      break;
    }
  Cards out;
  for (std::size_t k = 0; k < cards.size(); ++k) {
    if (k == at && fitted && misfit <= kDssFitTolerance) out.insert(out.end(), fitted->begin(), fitted->end());
    const std::string n = has_value(cards[k]) ? name_of(cards[k]) : "";
    if (dss_keyword(n) || primary_standard_keyword(n)) continue;
    out.push_back(cards[k]);
  }
  cards = std::move(out);
  if (!fitted)
    return "The header's DSS plate solution cannot be read: it is removed, not carried wrong through the edit.";
  char buf[200];
  if (misfit > kDssFitTolerance) {
    std::snprintf(buf, sizeof buf,
                  "The header's DSS plate solution departs %.2f pixels from any TAN projection over the image: it is "
                  "removed, not carried wrong through the edit.",
                  misfit);
    return std::string(buf);
  }
  std::snprintf(buf, sizeof buf,
                "The header's DSS plate solution is replaced by a TAN projection with a CD matrix (within %.3f pixels "
                "over the image).",
                misfit);
  return std::string(buf);
}

}  // namespace zelvo
