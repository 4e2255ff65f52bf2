#include "support/astropy_wcs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/session_harness.h"

namespace zelvo::testing {

namespace {

constexpr const char* kPython = "/usr/bin/python3";

// The input holds, per query, "HEADER n", n cards, "PIXELS m" and m lines "x y"; the output
// per query a line "radesys equinox" and m lines "lng lat".
constexpr const char* kSkyScript = R"(
import sys, warnings
import numpy as np
from astropy.io import fits
from astropy.wcs import WCS
warnings.simplefilter('ignore')
lines = open(sys.argv[1]).read().split('\n')
k = 0
while k < len(lines) and lines[k].startswith('HEADER'):
    n, key = int(lines[k].split()[1]), lines[k].split()[2].replace('-', ' ')
    cards = lines[k + 1:k + 1 + n]
    k += 1 + n
    m = int(lines[k].split()[1])
    pix = np.array([[float(v) for v in l.split()] for l in lines[k + 1:k + 1 + m]]).reshape(m, 2)
    k += 1 + m
    w = WCS(fits.Header.fromstring(''.join(c.ljust(80)[:80] for c in cards)), key=key)
    world = w.all_pix2world(pix, 1)
    print(w.wcs.radesys or '-', 0.0 if np.isnan(w.wcs.equinox) else w.wcs.equinox)
    for lng, lat in world[:, :2]:
        print('%.12f %.12f' % (lng % 360.0, lat))
)";

constexpr const char* kCardsScript = R"(
import sys
from astropy.io import fits
for c in fits.getheader(sys.argv[1]).cards:
    print(c.image)
)";

}  // namespace

std::string run_python(const ScratchFolder& dir, const char* script, const std::string& args) {
  dir.write("script.py", script);
  const std::string cmd = std::string(kPython) + " " + dir.file("script.py") + " " + args + " 2>/dev/null";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) out.clear();
  }
  return out;
}

std::optional<std::vector<AstropySky>> astropy_sky_batch(const std::vector<SkyQuery>& queries) {
  ScratchFolder dir;
  std::string input;
  for (const auto& q : queries) {
    input += "HEADER " + std::to_string(q.cards.size()) + " " + (q.key == ' ' ? '-' : q.key) + "\n";
    for (const auto& c : q.cards) input += c + "\n";
    input += "PIXELS " + std::to_string(q.pixels.size()) + "\n";
    for (const auto& [x, y] : q.pixels) {
      char buf[80];
      std::snprintf(buf, sizeof buf, "%.10f %.10f\n", x, y);
      input += buf;
    }
  }
  dir.write("queries.txt", input);
  if (run_python(dir, "import astropy.wcs\nprint('yes')\n", "").empty()) return std::nullopt;
  std::istringstream in(run_python(dir, kSkyScript, dir.file("queries.txt")));
  // A failed script leaves the answers short, which the callers' size checks report.
  std::vector<AstropySky> all;
  for (const auto& q : queries) {
    AstropySky r;
    in >> r.radesys >> r.equinox;
    SkyPoint p;
    for (std::size_t k = 0; k < q.pixels.size() && in >> p.lng >> p.lat; ++k) r.sky.push_back(p);
    all.push_back(r);
  }
  return all;
}

std::optional<AstropySky> astropy_sky(const std::vector<std::string>& cards,
                                      const std::vector<std::pair<double, double>>& pixels) {
  auto all = astropy_sky_batch({SkyQuery{cards, pixels}});
  if (!all) return std::nullopt;
  return all->front();
}

std::vector<std::string> astropy_cards(const std::string& fits_path) {
  ScratchFolder dir;
  std::istringstream in(run_python(dir, kCardsScript, fits_path));
  std::vector<std::string> cards;
  for (std::string l; std::getline(in, l);) cards.push_back(l);
  return cards;
}

std::vector<std::string> sip_header_cards() {
  return {card("CTYPE1", "'RA---TAN-SIP'"), card("CTYPE2", "'DEC--TAN-SIP'"),
          card("CRPIX1", "512.3"),          card("CRPIX2", "498.7"),
          card("CRVAL1", "150.1191666667"), card("CRVAL2", "2.2058333333"),
          card("CD1_1", "-7.1342E-05"),     card("CD1_2", "1.2088E-05"),
          card("CD2_1", "1.1954E-05"),      card("CD2_2", "7.1501E-05"),
          card("RADESYS", "'ICRS'"),        card("A_ORDER", "3"),
          card("A_0_2", "2.13E-06"),        card("A_1_1", "-5.24E-06"),
          card("A_2_0", "3.31E-06"),        card("A_0_3", "-1.2E-09"),
          card("A_1_2", "4.1E-10"),         card("A_2_1", "-2.2E-09"),
          card("A_3_0", "7.5E-10"),         card("B_ORDER", "3"),
          card("B_0_2", "-4.02E-06"),       card("B_1_1", "2.91E-06"),
          card("B_2_0", "-1.77E-06"),       card("B_0_3", "8.8E-10"),
          card("B_1_2", "-3.1E-09"),        card("B_2_1", "6.0E-10"),
          card("B_3_0", "-1.4E-09"),        card("AP_ORDER", "2"),
          card("AP_0_2", "-2.13E-06"),      card("AP_1_1", "5.24E-06"),
          card("AP_2_0", "-3.31E-06"),      card("BP_ORDER", "2"),
          card("BP_0_2", "4.02E-06"),       card("BP_1_1", "-2.91E-06"),
          card("BP_2_0", "1.77E-06")};
}

double separation_arcsec(const SkyPoint& a, const SkyPoint& b) {
  const double d2r = M_PI / 180.0;
  // Haversine: well conditioned for the milliarcsecond separations the tests compare.
  const double dlat = (b.lat - a.lat) * d2r, dlng = (b.lng - a.lng) * d2r;
  const double h = std::sin(dlat / 2) * std::sin(dlat / 2) +
                   std::cos(a.lat * d2r) * std::cos(b.lat * d2r) * std::sin(dlng / 2) * std::sin(dlng / 2);
  return 2.0 * std::asin(std::sqrt(std::min(1.0, h))) / d2r * 3600.0;
}

std::string card(const std::string& name, const std::string& value) {
  std::string c = name;
  c.resize(8, ' ');
  c += "= ";
  if (!value.empty() && value[0] == '\'')
    c += value;
  else
    c += std::string(value.size() < 20 ? 20 - value.size() : 0, ' ') + value;
  c.resize(80, ' ');
  return c;
}

}  // namespace zelvo::testing
