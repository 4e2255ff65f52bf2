// The wcslib adapter: the only file that includes wcslib's headers.
#include "fits/sky_coordinates.h"

#include "fits/wcs_cards.h"

#include <wcs.h>
#include <wcserr.h>
#include <wcsfix.h>
#include <wcshdr.h>
#include <wcsmath.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace zelvo {

namespace {

constexpr std::size_t kCardLength = 80;

std::string trimmed(const char* text) {
  std::string s(text);
  const auto end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

// wcslib marks a value the header does not give with UNDEFINED.
bool no_value(double v) { return v == UNDEFINED || std::isnan(v); }

}  // namespace

// Owns one wcsprm, set up (wcsset) and ready for transformations. wcslib's routines take a
// non-const wcsprm even where they only read it, hence `mutable`.
struct SkyCoordinates::Impl {
  mutable wcsprm wcs{};
  Impl() { wcs.flag = -1; }
  ~Impl() { wcsfree(&wcs); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
};

SkyCoordinates::SkyCoordinates(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SkyCoordinates::~SkyCoordinates() = default;

std::optional<SkyPoint> SkyCoordinates::sky_at(double x, double y) const {
  wcsprm& w = impl_->wcs;
  // Axes beyond the image plane (a cube's third axis) are taken at their first pixel.
  std::vector<double> pixel(static_cast<std::size_t>(w.naxis), 1.0), img(pixel.size()), world(pixel.size());
  pixel[0] = x;
  pixel[1] = y;
  double phi = 0.0, theta = 0.0;
  int stat = 0;
  if (wcsp2s(&w, 1, w.naxis, pixel.data(), img.data(), &phi, &theta, world.data(), &stat) != 0 || stat != 0)
    return std::nullopt;
  SkyPoint p{world[static_cast<std::size_t>(w.lng)], world[static_cast<std::size_t>(w.lat)]};
  if (!std::isfinite(p.lng) || !std::isfinite(p.lat)) return std::nullopt;
  p.lng = std::fmod(p.lng, 360.0);
  if (p.lng < 0.0) p.lng += 360.0;
  return p;
}

std::optional<SkyPoint> SkyCoordinates::pixel_at(const SkyPoint& sky) const {
  wcsprm& w = impl_->wcs;
  std::vector<double> world(static_cast<std::size_t>(w.naxis), 0.0), img(world.size()), pixel(world.size());
  for (int i = 0; i < w.naxis; ++i) world[static_cast<std::size_t>(i)] = w.crval[i];
  world[static_cast<std::size_t>(w.lng)] = sky.lng;
  world[static_cast<std::size_t>(w.lat)] = sky.lat;
  double phi = 0.0, theta = 0.0;
  int stat = 0;
  if (wcss2p(&w, 1, w.naxis, world.data(), &phi, &theta, img.data(), pixel.data(), &stat) != 0 || stat != 0)
    return std::nullopt;
  return SkyPoint{pixel[0], pixel[1]};
}

bool SkyCoordinates::equatorial() const { return lng_name() == "RA" && lat_name() == "DEC"; }
std::string SkyCoordinates::lng_name() const { return trimmed(impl_->wcs.lngtyp); }
std::string SkyCoordinates::lat_name() const { return trimmed(impl_->wcs.lattyp); }

std::string SkyCoordinates::frame() const {
  if (!equatorial()) return "";
  const wcsprm& w = impl_->wcs;
  std::string system = trimmed(w.radesys);
  double equinox = w.equinox;
  // The defaults of the FITS standard when RADESYS or EQUINOX is missing.
  if (system.empty()) {
    if (no_value(equinox))
      system = "ICRS";
    else
      system = equinox < 1984.0 ? "FK4" : "FK5";
  }
  if (no_value(equinox)) {
    if (system == "FK4" || system == "FK4-NO-E") equinox = 1950.0;
    if (system == "FK5") equinox = 2000.0;
  }
  if (system == "ICRS" || system == "GAPPT" || no_value(equinox)) return system;
  char buf[48];
  const bool besselian = system == "FK4" || system == "FK4-NO-E";
  std::snprintf(buf, sizeof buf, " %c%.1f", besselian ? 'B' : 'J', equinox);
  return system + buf;
}

SkyCoordinatesParse parse_sky_coordinates(const std::vector<std::string>& cards) {
  SkyCoordinatesParse out;
  // wcslib reads the header as one string of 80-column records.
  std::string header;
  header.reserve(cards.size() * kCardLength);
  // A WCS card given twice would be read by wcslib as its last copy and rewritten by the
  // edits as its first: neither is trusted.
  if (const std::string twice = duplicated_wcs_keyword(cards); !twice.empty()) {
    out.problem = "The header's sky coordinates cannot be used: it gives " + twice + " twice";
    return out;
  }
  if (!dss_terms_sound(cards)) {
    out.problem =
        "The header's sky coordinates cannot be used: its DSS plate solution terms (AMDXn, AMDYn) are "
        "incomplete or damaged";
    return out;
  }
  for (const std::string& c : cards) {
    // Numbers with Fortran's D exponent, as FITS allows, read whole.
    std::string card = with_e_exponent(c.substr(0, std::min(c.size(), kCardLength)));
    card.resize(kCardLength, ' ');
    header += card;
  }
  if (header.empty()) return out;

  // wcslib's detailed error records stay off: its fix-up routines lose some of them (memory
  // leaks), and the status code's fixed message says enough.
  wcserr_enable(0);
  int nreject = 0, nwcs = 0;
  wcsprm* all = nullptr;
  const int nkeys = static_cast<int>(header.size() / kCardLength);
  // WCSHDR_all admits the informal forms old headers use (EPOCH, CROTAn with CDi_j, ...),
  // as astropy.wcs does.
  if (wcspih(header.data(), nkeys, WCSHDR_all, 0, &nreject, &nwcs, &all) != 0) {
    wcsvfree(&nwcs, &all);
    return out;
  }
  // The primary description is the one without an alternate letter.
  const wcsprm* primary = nullptr;
  for (int i = 0; i < nwcs; ++i)
    if (all[i].alt[0] == ' ' || all[i].alt[0] == '\0') primary = &all[i];
  if (primary == nullptr) {
    wcsvfree(&nwcs, &all);
    return out;
  }

  auto impl = std::make_unique<SkyCoordinates::Impl>();
  int status = wcssub(1, primary, nullptr, nullptr, &impl->wcs);
  wcsvfree(&nwcs, &all);
  if (status != 0) return out;

  // Whether the header names celestial axes at all decides between "no WCS" and "a WCS
  // that cannot be used".
  bool celestial_type = false;
  for (int i = 0; i < impl->wcs.naxis; ++i) {
    const std::string t = trimmed(impl->wcs.ctype[i]);
    for (const char* prefix : {"RA--", "DEC-", "GLON", "GLAT", "ELON", "ELAT", "SLON", "SLAT", "HLON", "HLAT"})
      if (t.rfind(prefix, 0) == 0) celestial_type = true;
  }
  if (!celestial_type) return out;

  int fixstat[NWCSFIX];
  wcsfix(1, nullptr, &impl->wcs, fixstat);
  status = wcsset(&impl->wcs);
  if (status != 0 || impl->wcs.lng < 0 || impl->wcs.lat < 0) {
    std::string reason = status > 0 && status <= WCSERR_NON_SEPARABLE ? wcs_errmsg[status] : "";
    if (reason.empty()) reason = "no pair of celestial axes";
    out.problem = "The header's sky coordinates cannot be used: " + reason;
    return out;
  }
  out.wcs.reset(new SkyCoordinates(std::move(impl)));
  return out;
}

std::string sexagesimal_hours(double degrees) {
  // Rounded once in thousandths of a second of time, so that 59.9996 s carries into the minute.
  long long ms = std::llround(degrees / 15.0 * 3600.0 * 1000.0);
  const long long day = 24LL * 3600 * 1000;
  ms = ((ms % day) + day) % day;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                ms % 1000);
  return buf;
}

std::string sexagesimal_degrees(double degrees) {
  const char sign = degrees < 0.0 ? '-' : '+';
  const long long cs = std::llround(std::fabs(degrees) * 3600.0 * 100.0);  // hundredths of an arcsecond
  char buf[32];
  std::snprintf(buf, sizeof buf, "%c%02lld:%02lld:%02lld.%02lld", sign, cs / 360000, cs / 6000 % 60, cs / 100 % 60,
                cs % 100);
  return buf;
}

std::string sky_position_text(std::string_view lead, const SkyCoordinates& wcs, const SkyPoint& p) {
  char buf[160];
  if (wcs.equatorial()) {
    std::snprintf(buf, sizeof buf, "RA %s Dec %s = %.7f %+.7f deg (%s)", sexagesimal_hours(p.lng).c_str(),
                  sexagesimal_degrees(p.lat).c_str(), p.lng, p.lat, wcs.frame().c_str());
  } else {
    std::snprintf(buf, sizeof buf, "%s %.7f %s %+.7f deg", wcs.lng_name().c_str(), p.lng, wcs.lat_name().c_str(),
                  p.lat);
  }
  return std::string(lead) + buf;
}

std::optional<std::string> sky_report_line(std::string_view lead, const SkyCoordinatesParse& sky, double x, double y) {
  if (!sky.wcs) {
    if (sky.problem.empty()) return std::nullopt;
    return std::string(lead) + "none. " + sky.problem;
  }
  const auto p = sky.wcs->sky_at(x, y);
  if (!p) return std::string(lead) + "none: the projection has no sky position there.";
  return sky_position_text(lead, *sky.wcs, *p);
}

}  // namespace zelvo
