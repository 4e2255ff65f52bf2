#include "synthetic_field.h"

#include <fitsio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string_view>

namespace zelvo {

namespace {

// xoshiro256** seeded through splitmix64: the same sequence on every platform, which the
// standard library's distributions do not promise.
class FieldRandom {
 public:
  explicit FieldRandom(uint64_t seed) {
    for (auto& w : s_) {
      seed += 0x9E3779B97F4A7C15ULL;
      uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
      w = z ^ (z >> 31);
    }
  }
  uint64_t next() {
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }
  // Uniform in [0, 1).
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Standard normal (Box-Muller, both values used).
  double gaussian() {
    if (has_spare_) {
      has_spare_ = false;
      return spare_;
    }
    double u = 0.0;
    while (u <= 0.0) u = uniform();
    const double v = uniform();
    const double r = std::sqrt(-2.0 * std::log(u));
    spare_ = r * std::sin(2.0 * std::numbers::pi * v);
    has_spare_ = true;
    return r * std::cos(2.0 * std::numbers::pi * v);
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
  double spare_ = 0.0;
  bool has_spare_ = false;
};

// The noiseless model, in double precision.
struct Model {
  int nx, ny;
  std::vector<double> v;
  double& at(int x, int y) { return v[static_cast<std::size_t>(y - 1) * nx + (x - 1)]; }
};

// Radial profile of a star of unit flux at distance r (before normalisation on the grid).
double star_profile(const FieldOptions& o, double r2) {
  if (o.star_profile == StarProfile::Gaussian) {
    const double sigma = o.fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
    return std::exp(-0.5 * r2 / (sigma * sigma));
  }
  const double beta = o.moffat_beta;
  const double alpha = o.fwhm / (2.0 * std::sqrt(std::pow(2.0, 1.0 / beta) - 1.0));
  return std::pow(1.0 + r2 / (alpha * alpha), -beta);
}

// Half-size of the square stamp a star is drawn in: the wings beyond it are negligible.
int star_radius(const FieldOptions& o) { return std::max(4, static_cast<int>(std::ceil(6.0 * o.fwhm))); }

// A star's pixel values for unit flux on the stamp around (x, y): each pixel is the mean
// of 4 x 4 samples, and the stamp is normalised to a sum of 1 (so `flux` is what the
// pixels hold, off-image parts included).
struct Stamp {
  int x0, y0, size;  // lower-left pixel and side
  std::vector<double> w;
  double peak;
};

Stamp star_stamp(const FieldOptions& o, double x, double y, int r) {
  Stamp s{static_cast<int>(std::lround(x)) - r, static_cast<int>(std::lround(y)) - r, 2 * r + 1, {}, 0.0};
  s.w.resize(static_cast<std::size_t>(s.size) * s.size);
  constexpr int kSub = 4;
  double sum = 0.0;
  for (int j = 0; j < s.size; ++j) {
    for (int i = 0; i < s.size; ++i) {
      double acc = 0.0;
      for (int b = 0; b < kSub; ++b) {
        for (int a = 0; a < kSub; ++a) {
          const double dx = s.x0 + i - 0.5 + (a + 0.5) / kSub - x;
          const double dy = s.y0 + j - 0.5 + (b + 0.5) / kSub - y;
          acc += star_profile(o, dx * dx + dy * dy);
        }
      }
      s.w[static_cast<std::size_t>(j) * s.size + i] = acc;
      sum += acc;
    }
  }
  for (double& w : s.w) w /= sum;
  s.peak = *std::max_element(s.w.begin(), s.w.end());
  return s;
}

void add_star(Model& m, const Stamp& s, double flux) {
  for (int j = 0; j < s.size; ++j) {
    const int y = s.y0 + j;
    if (y < 1 || y > m.ny) continue;
    for (int i = 0; i < s.size; ++i) {
      const int x = s.x0 + i;
      if (x >= 1 && x <= m.nx) m.at(x, y) += flux * s.w[static_cast<std::size_t>(j) * s.size + i];
    }
  }
}

// Sersic surface brightness relative to the value at the effective radius.
double sersic(GalaxyProfile p, double r_over_re) {
  // b_n for n = 1 and n = 4: half the light lies inside the effective radius.
  if (p == GalaxyProfile::Exponential) return std::exp(-1.678347 * (r_over_re - 1.0));
  return std::exp(-7.669250 * (std::pow(r_over_re, 0.25) - 1.0));
}

// Adds the galaxy to the model; returns the counts it added to the image.
double add_galaxy(Model& m, const FieldGalaxy& g, double surface_brightness) {
  const double pa = g.position_angle * std::numbers::pi / 180.0;
  const double c = std::cos(pa);
  const double s = std::sin(pa);
  const double reach = 10.0 * g.r_eff;  // beyond it the profile is far below the noise
  const int xlo = std::max(1, static_cast<int>(std::floor(g.x - reach)));
  const int xhi = std::min(m.nx, static_cast<int>(std::ceil(g.x + reach)));
  const int ylo = std::max(1, static_cast<int>(std::floor(g.y - reach)));
  const int yhi = std::min(m.ny, static_cast<int>(std::ceil(g.y + reach)));
  double total = 0.0;
  for (int y = ylo; y <= yhi; ++y) {
    for (int x = xlo; x <= xhi; ++x) {
      // The cusp needs fine sampling near the centre; elsewhere 2 x 2 samples do.
      const bool core = std::abs(x - g.x) < 3.0 && std::abs(y - g.y) < 3.0;
      const int sub = core ? 16 : 2;
      double acc = 0.0;
      for (int b = 0; b < sub; ++b) {
        for (int a = 0; a < sub; ++a) {
          const double dx = x - 0.5 + (a + 0.5) / sub - g.x;
          const double dy = y - 0.5 + (b + 0.5) / sub - g.y;
          const double u = dx * c + dy * s;  // along the major axis
          const double v = (-dx * s + dy * c) / g.axis_ratio;
          acc += sersic(g.profile, std::sqrt(u * u + v * v) / g.r_eff);
        }
      }
      const double value = surface_brightness * acc / (sub * sub);
      m.at(x, y) += value;
      total += value;
    }
  }
  return total;
}

// Counts above the saturation level that the saturated star's core holds (noiseless);
// that charge spills along the column.
double excess_charge(const Stamp& s, double flux, const SyntheticField& f, double saturation) {
  double excess = 0.0;
  for (int j = 0; j < s.size; ++j) {
    for (int i = 0; i < s.size; ++i) {
      const double v = f.sky_at(s.x0 + i, s.y0 + j) + flux * s.w[static_cast<std::size_t>(j) * s.size + i];
      if (v > saturation) excess += v - saturation;
    }
  }
  return excess;
}

double distance(double x1, double y1, double x2, double y2) { return std::hypot(x1 - x2, y1 - y2); }

}  // namespace

SyntheticField synthetic_field(const FieldOptions& o) {
  SyntheticField f;
  if (o.nx < 1 || o.ny < 1) return f;
  const int nx = o.nx;
  const int ny = o.ny;
  // Layout and noise draw from separate streams, so the noise settings never move objects.
  FieldRandom layout(o.seed);
  FieldRandom noise(o.seed ^ 0x5DEECE66DULL);

  f.cx = 0.5 * (nx + 1);
  f.cy = 0.5 * (ny + 1);
  f.sky_centre = o.sky;
  f.slope_x = o.sky_slope_x;
  f.slope_y = o.sky_slope_y;
  Model m{nx, ny, std::vector<double>(static_cast<std::size_t>(nx) * ny)};
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) m.at(x, y) = f.sky_at(x, y);

  const int small = std::min(nx, ny);
  if (o.galaxy != GalaxyProfile::None) {
    f.galaxy.profile = o.galaxy;
    f.galaxy.x = f.cx + layout.uniform(-0.1, 0.1) * nx;
    f.galaxy.y = f.cy + layout.uniform(-0.1, 0.1) * ny;
    f.galaxy.r_eff = std::max(2.0, small / 20.0);
    f.galaxy.axis_ratio = layout.uniform(0.65, 0.85);
    f.galaxy.position_angle = layout.uniform(0.0, 180.0);
    f.galaxy.flux = add_galaxy(m, f.galaxy, o.galaxy_surface_brightness);
  }
  const bool with_galaxy = o.galaxy != GalaxyProfile::None;

  const int r = star_radius(o);
  const int margin = std::min(r, small / 8);
  auto inside_x = [&] { return layout.uniform(margin + 1, nx - margin); };
  auto inside_y = [&] { return layout.uniform(margin + 1, ny - margin); };

  if (o.saturated_star) {
    // As far from the galaxy as a few hundred tries find, with room for the bleed column.
    double best = -1.0;
    for (int t = 0; t < 300; ++t) {
      const double x = inside_x();
      const double y = layout.uniform(0.25 * ny, 0.75 * ny);
      const double d = with_galaxy ? distance(x, y, f.galaxy.x, f.galaxy.y) : 0.0;
      if (d > best) {
        best = d;
        f.saturated.x = x;
        f.saturated.y = y;
      }
      if (!with_galaxy || d > 6.0 * f.galaxy.r_eff) break;
    }
    // A wider stamp: the wings of so bright a star still show far out.
    const Stamp s = star_stamp(o, f.saturated.x, f.saturated.y, 4 * r);
    f.saturated.flux = 5.0 * o.saturation / s.peak;  // the core rises five times above saturation
    f.saturated.peak = f.saturated.flux * s.peak;
    add_star(m, s, f.saturated.flux);
    f.has_saturated = true;
    // The spilled charge fills the column up and down from the core.
    const double spill = excess_charge(s, f.saturated.flux, f, o.saturation) / o.saturation;
    const int half = std::clamp(static_cast<int>(spill / 2.0), 6, std::max(6, ny / 8));
    const int yc = static_cast<int>(std::lround(f.saturated.y));
    f.bleed.x = static_cast<int>(std::lround(f.saturated.x));
    f.bleed.y_first = std::max(1, yc - half);
    f.bleed.y_last = std::min(ny, yc + half);
  }

  // Fluxes from a truncated power law N(>F) ~ F^-0.8: many faint stars, few bright ones.
  const double a = 0.8;
  const double fmin = o.faintest_flux;
  const double fmax = std::max(o.brightest_flux, o.faintest_flux);
  const double span = 1.0 - std::pow(fmin / fmax, a);
  for (int k = 0; k < o.stars; ++k) {
    const double flux = fmin * std::pow(1.0 - layout.uniform() * span, -1.0 / a);
    for (int t = 0; t < 200; ++t) {
      const double x = inside_x();
      const double y = inside_y();
      bool free = true;
      if (with_galaxy && distance(x, y, f.galaxy.x, f.galaxy.y) < 3.0 * f.galaxy.r_eff) free = false;
      if (f.has_saturated) {
        if (distance(x, y, f.saturated.x, f.saturated.y) < 10.0 * o.fwhm) free = false;
        if (std::abs(x - f.bleed.x) < 4.0 * o.fwhm && y > f.bleed.y_first - 4.0 * o.fwhm &&
            y < f.bleed.y_last + 4.0 * o.fwhm)
          free = false;
      }
      for (const auto& st : f.stars)
        if (distance(x, y, st.x, st.y) < 5.0 * o.fwhm) free = false;
      if (!free) continue;
      const Stamp s = star_stamp(o, x, y, r);
      add_star(m, s, flux);
      f.stars.push_back(FieldStar{x, y, flux, flux * s.peak});
      break;
    }
  }

  // Noise: the sky's Gaussian noise plus the photon noise of what objects add; then the
  // detector clips at saturation and the bleed column sits at the saturation level.
  f.image = Image(nx, ny);
  for (int y = 1; y <= ny; ++y) {
    for (int x = 1; x <= nx; ++x) {
      const double model = m.at(x, y);
      const double signal = std::max(0.0, model - f.sky_at(x, y));
      const double sigma = std::sqrt(double(o.noise) * o.noise + (o.gain > 0.0f ? signal / o.gain : 0.0));
      double v = model + sigma * noise.gaussian();
      v = std::clamp(v, 0.0, static_cast<double>(o.saturation));
      f.image.at(x, y) = static_cast<float>(v);
    }
  }
  if (f.has_saturated)
    for (int y = f.bleed.y_first; y <= f.bleed.y_last; ++y) f.image.at(f.bleed.x, y) = o.saturation;
  return f;
}

namespace {

// One 80-column card: `left` (name and "="), blanks up to column `col`, the value from
// there, then " / " and the comment, which starts in column 32 at the earliest (after the
// fixed-format value field, columns 11-30); cut or padded to 80 columns.
std::string card_at(std::string_view left, std::size_t col, std::string_view value, std::string_view comment) {
  std::string c(left);
  if (c.size() < col - 1) c.resize(col - 1, ' ');
  c += value;
  if (!comment.empty()) {
    if (c.size() < 30) c.resize(30, ' ');
    c += " / ";
    c += comment;
  }
  c.resize(80, ' ');
  return c;
}

std::string name_part(std::string_view key) {
  std::string k(key);
  k.resize(8, ' ');
  return k + "=";
}

// A number in the fixed format: right-justified in columns 11-30.
std::string number_card(std::string_view key, std::string_view number, std::string_view comment) {
  return card_at(name_part(key), 31 - number.size(), number, comment);
}

// A quoted string starting in column 11, at least 8 characters inside the quotes.
std::string string_card(std::string_view key, std::string_view text, std::string_view comment) {
  std::string q = "'";
  for (char ch : text) q += ch == '\'' ? std::string("''") : std::string(1, ch);
  while (q.size() < 9) q += ' ';
  q += "'";
  return card_at(name_part(key), 11, q, comment);
}

std::string format(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// hh:mm:ss.ss (11 characters) for hours, [+-]dd:mm:ss.ss (12) for degrees.
std::string sexagesimal(double value, bool sign) {
  const char s = value < 0 ? '-' : '+';
  double v = std::fabs(value);
  long centi = std::lround(v * 360000.0);  // hundredths of a second (of time or arc)
  const long whole = centi / 360000;
  centi %= 360000;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%02ld:%02ld:%05.2f", sign ? std::string(1, s).c_str() : "", whole, centi / 6000,
                (centi % 6000) / 100.0);
  return buf;
}

}  // namespace

std::vector<std::string> field_header_cards(const FieldOptions& o) {
  double st = std::fmod(o.st_hours, 24.0);
  if (st < 0) st += 24.0;
  std::vector<std::string> cards = {
      string_card("OBJECT", o.object, "Target"),
      number_card("EXPTIME", format("%.1f", o.exptime), "Exposure time [s]"),
      string_card("DATE-OBS", "2021-03-14T22:05:31", "Start of the exposure (UTC)"),
      string_card("TELESCOP", "Synthetic 1.2m", "Telescope"),
      string_card("INSTRUME", "Synthetic CCD", "Camera"),
      string_card("BUNIT", "adu", "Pixel unit"),
      number_card("GAIN", format("%.2f", o.gain), "Electrons per count"),
      number_card("RDNOISE", format("%.2f", o.noise * o.gain), "Read noise [electrons]"),
      number_card("SATURATE", format("%.1f", o.saturation), "Saturation level [counts]"),
      number_card("AIRMASS", "1.120", "Airmass at the start"),
      number_card("EQUINOX", "2000.0", "Equinox of the coordinates"),
      string_card("CTYPE1", "RA---TAN", "Gnomonic projection"),
      string_card("CTYPE2", "DEC--TAN", "Gnomonic projection"),
      number_card("CRPIX1", format("%.1f", 0.5 * (o.nx + 1)), "Reference pixel"),
      number_card("CRPIX2", format("%.1f", 0.5 * (o.ny + 1)), "Reference pixel"),
      number_card("CRVAL1", format("%.6f", o.ra_deg), "Right ascension at the reference pixel [deg]"),
      number_card("CRVAL2", format("%.6f", o.dec_deg), "Declination at the reference pixel [deg]"),
      number_card("CDELT1", format("%.6E", -0.4 / 3600.0), "0.4 arcsec per pixel [deg]"),
      number_card("CDELT2", format("%.6E", 0.4 / 3600.0), "0.4 arcsec per pixel [deg]"),
      // The pointing as texts: the quoted value starts in column 34, so its text fills
      // columns 35-45 (RA, ST) and 35-46 (DEC).
      card_at(name_part("RA"), 34, "'" + sexagesimal(o.ra_deg / 15.0, false) + "'", "Right ascension (J2000)"),
      card_at(name_part("DEC"), 34, "'" + sexagesimal(o.dec_deg, true) + "'", "Declination (J2000)"),
      card_at(name_part("ST"), 34, "'" + sexagesimal(st, false) + "'", "Sidereal time at the start"),
      // The filter pair: "FILTER  " in columns 32-39 marks the next card, whose column 32
      // holds the filter letter.
      card_at("HIERARCH INS FILT1 TYPE =", 31, "'FILTER  '", "Kind of element"),
      card_at("HIERARCH INS FILT1 NAME =", 31, "'" + std::string(1, o.filter) + "'", "Filter in the beam"),
  };
  return cards;
}

int write_field_fits(const std::string& path, const Image& image, const FieldOptions& o, bool overwrite) {
  int status = 0;
  if (image.empty()) return BAD_NAXES;
  if (overwrite) std::remove(path.c_str());
  fitsfile* f = nullptr;
  if (fits_create_diskfile(&f, path.c_str(), &status) > 0) return status;
  long naxes[2] = {image.nx, image.ny};
  fits_create_img(f, o.bitpix == 16 ? USHORT_IMG : FLOAT_IMG, 2, naxes, &status);
  for (const auto& c : field_header_cards(o)) fits_write_record(f, c.c_str(), &status);
  const std::string note = "Synthetic field: seed " + std::to_string(o.seed) + ", made by zelvo-field";
  fits_write_comment(f, note.c_str(), &status);
  fits_write_img(f, TFLOAT, 1, static_cast<LONGLONG>(image.px.size()), const_cast<float*>(image.px.data()), &status);
  if (status > 0) {
    int ignored = 0;
    fits_delete_file(f, &ignored);
    return status;
  }
  fits_close_file(f, &status);
  if (status > 0) std::remove(path.c_str());
  return status;
}

}  // namespace zelvo
