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

constexpr const char* kSkyScript = R"(
import sys, warnings
import numpy as np
from astropy.io import fits
from astropy.wcs import WCS
warnings.simplefilter('ignore')
cards = [l.rstrip('\n') for l in open(sys.argv[1])]
header = fits.Header.fromstring(''.join(c.ljust(80)[:80] for c in cards))
w = WCS(header)
pix = np.loadtxt(sys.argv[2], ndmin=2)
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

}  // namespace

std::optional<AstropySky> astropy_sky(const std::vector<std::string>& cards,
                                      const std::vector<std::pair<double, double>>& pixels) {
  ScratchFolder dir;
  std::string header, pix;
  for (const auto& c : cards) header += c + "\n";
  for (const auto& [x, y] : pixels) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%.10f %.10f\n", x, y);
    pix += buf;
  }
  dir.write("header.txt", header);
  dir.write("pixels.txt", pix);
  if (run_python(dir, "import astropy.wcs\nprint('yes')\n", "").empty()) return std::nullopt;
  const std::string out = run_python(dir, kSkyScript, dir.file("header.txt") + " " + dir.file("pixels.txt"));
  std::istringstream in(out);
  AstropySky r;
  in >> r.radesys >> r.equinox;
  SkyPoint p;
  while (in >> p.lng >> p.lat) r.sky.push_back(p);
  return r;  // a failed script leaves `sky` short, which the caller's size check reports
}

std::vector<std::string> astropy_cards(const std::string& fits_path) {
  ScratchFolder dir;
  std::istringstream in(run_python(dir, kCardsScript, fits_path));
  std::vector<std::string> cards;
  for (std::string l; std::getline(in, l);) cards.push_back(l);
  return cards;
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
