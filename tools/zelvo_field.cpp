// zelvo-field: writes a deterministic synthetic sky field as a FITS file.
#include <fitsio.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "platform/list_io.h"
#include "synthetic_field.h"

namespace {

constexpr const char* kUsage =
    "Usage: zelvo-field [options]\n"
    "Writes a synthetic sky field (sky with a gradient, stars, one saturated star with a\n"
    "bleeding column, an elliptical galaxy, noise, and the header cards Zelvo reads) as a\n"
    "FITS file. The same options and seed always give the same file.\n"
    "\n"
    "  --size WxH          image size in pixels (default 512x512; one number: square)\n"
    "  --seed N            random seed (default 7)\n"
    "  --out FILE          output file (default field.fits); an existing file is kept\n"
    "  --force             replace an existing output file\n"
    "  --stars N           number of ordinary stars (default 30)\n"
    "  --sky LEVEL         sky level at the centre in counts (default 1000)\n"
    "  --noise SIGMA       sky noise in counts (default 10)\n"
    "  --fwhm PIXELS       star width (default 3.5)\n"
    "  --profile KIND      star profile: moffat (default) or gaussian\n"
    "  --galaxy KIND       galaxy profile: dev (de Vaucouleurs, default), exp or none\n"
    "  --saturation LEVEL  saturation level in counts (default 60000)\n"
    "  --no-saturated      leave out the saturated star\n"
    "  --object TEXT       OBJECT card (default 'NGC 3379')\n"
    "  --exptime SECONDS   EXPTIME card (default 300)\n"
    "  --filter LETTER     filter letter (default R)\n"
    "  --bitpix B          -32 (float, default) or 16 (unsigned 16-bit)\n"
    "  --list              print the objects placed in the field\n"
    "  --help              this text\n";

struct Args {
  zelvo::FieldOptions opt;
  std::string out = "field.fits";
  bool force = false;
  bool list = false;
  bool help = false;
};

bool parse_size(std::string_view s, int& nx, int& ny) {
  const auto x = s.find_first_of("xX");
  const auto a = zelvo::parse_integer(s.substr(0, x));
  const auto b = x == std::string_view::npos ? a : zelvo::parse_integer(s.substr(x + 1));
  if (!a || !b || *a < 1 || *b < 1 || *a > 32768 || *b > 32768) return false;
  nx = *a;
  ny = *b;
  return true;
}

// Reads the options; a message and nothing on a bad one.
std::optional<Args> parse_args(int argc, char** argv) {
  Args args;
  auto& o = args.opt;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string_view(argv[++i]);
    };
    auto bad = [&](std::string_view what) {
      std::cerr << "zelvo-field: " << a << " needs " << what << "\n";
      return std::nullopt;
    };
    auto real = [&](float& target) {
      const auto v = value();
      const auto r = v ? zelvo::parse_real(*v) : std::nullopt;
      if (r) target = *r;
      return r.has_value();
    };
    if (a == "--help" || a == "-h") {
      args.help = true;
      return args;
    } else if (a == "--size") {
      const auto v = value();
      if (!v || !parse_size(*v, o.nx, o.ny)) return bad("a size such as 512x512 (1 to 32768 each way)");
    } else if (a == "--seed") {
      const auto v = value();
      char* end = nullptr;
      const std::string t(v.value_or(""));
      const unsigned long long n = std::strtoull(t.c_str(), &end, 10);
      if (t.empty() || *end != '\0' || t[0] == '-') return bad("a whole number");
      o.seed = n;
    } else if (a == "--out") {
      const auto v = value();
      if (!v || v->empty()) return bad("a file name");
      args.out = *v;
    } else if (a == "--force") {
      args.force = true;
    } else if (a == "--stars") {
      const auto v = value();
      const auto n = v ? zelvo::parse_integer(*v) : std::nullopt;
      if (!n || *n < 0 || *n > 100000) return bad("a number of stars from 0 to 100000");
      o.stars = *n;
    } else if (a == "--sky") {
      if (!real(o.sky) || o.sky < 0) return bad("a level of 0 or more");
    } else if (a == "--noise") {
      if (!real(o.noise) || o.noise < 0) return bad("a noise of 0 or more");
    } else if (a == "--fwhm") {
      if (!real(o.fwhm) || o.fwhm < 0.5f || o.fwhm > 50.0f) return bad("a width from 0.5 to 50 pixels");
    } else if (a == "--profile") {
      const auto v = value();
      if (v == "moffat")
        o.star_profile = zelvo::StarProfile::Moffat;
      else if (v == "gaussian")
        o.star_profile = zelvo::StarProfile::Gaussian;
      else
        return bad("moffat or gaussian");
    } else if (a == "--galaxy") {
      const auto v = value();
      if (v == "dev")
        o.galaxy = zelvo::GalaxyProfile::DeVaucouleurs;
      else if (v == "exp")
        o.galaxy = zelvo::GalaxyProfile::Exponential;
      else if (v == "none")
        o.galaxy = zelvo::GalaxyProfile::None;
      else
        return bad("dev, exp or none");
    } else if (a == "--saturation") {
      if (!real(o.saturation) || o.saturation <= o.sky) return bad("a level above the sky");
    } else if (a == "--no-saturated") {
      o.saturated_star = false;
    } else if (a == "--object") {
      const auto v = value();
      if (!v) return bad("a text");
      o.object = *v;
    } else if (a == "--exptime") {
      if (!real(o.exptime) || o.exptime < 0) return bad("a time of 0 or more");
    } else if (a == "--filter") {
      const auto v = value();
      if (!v || v->size() != 1) return bad("one letter");
      o.filter = (*v)[0];
    } else if (a == "--bitpix") {
      const auto v = value();
      if (v == "-32")
        o.bitpix = -32;
      else if (v == "16")
        o.bitpix = 16;
      else
        return bad("-32 or 16");
    } else if (a == "--list") {
      args.list = true;
    } else {
      std::cerr << "zelvo-field: unknown option " << a << "\n\n" << kUsage;
      return std::nullopt;
    }
  }
  if (o.bitpix == 16 && o.saturation > 65535.0f) {
    std::cerr << "zelvo-field: with --bitpix 16 the saturation level must be at most 65535\n";
    return std::nullopt;
  }
  return args;
}

void print_objects(const zelvo::SyntheticField& f) {
  std::printf("%-10s %9s %9s %12s %10s\n", "object", "x", "y", "flux", "peak");
  for (const auto& s : f.stars) std::printf("%-10s %9.2f %9.2f %12.1f %10.1f\n", "star", s.x, s.y, s.flux, s.peak);
  if (f.has_saturated) {
    std::printf("%-10s %9.2f %9.2f %12.1f %10.1f\n", "saturated", f.saturated.x, f.saturated.y, f.saturated.flux,
                f.saturated.peak);
    std::printf("%-10s %9d %4d..%-4d\n", "bleed", f.bleed.x, f.bleed.y_first, f.bleed.y_last);
  }
  if (f.galaxy.profile != zelvo::GalaxyProfile::None)
    std::printf("%-10s %9.2f %9.2f %12.1f   r_eff %.1f, b/a %.2f, PA %.1f deg\n", "galaxy", f.galaxy.x, f.galaxy.y,
                f.galaxy.flux, f.galaxy.r_eff, f.galaxy.axis_ratio, f.galaxy.position_angle);
}

}  // namespace

int main(int argc, char** argv) {
  const auto args = parse_args(argc, argv);
  if (!args) return 2;
  if (args->help) {
    std::cout << kUsage;
    return 0;
  }
  const zelvo::SyntheticField field = zelvo::synthetic_field(args->opt);
  const int status = zelvo::write_field_fits(args->out, field.image, args->opt, args->force);
  if (status > 0) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    std::cerr << "zelvo-field: could not write " << args->out << ": " << text << "\n";
    char msg[FLEN_ERRMSG] = {};
    while (fits_read_errmsg(msg) > 0) std::cerr << "  " << msg << "\n";
    if (status == FILE_NOT_CREATED) std::cerr << "  (an existing file is kept; --force replaces it)\n";
    return 1;
  }
  std::printf("Wrote %s: %d x %d pixels, seed %llu, %zu stars%s%s\n", args->out.c_str(), field.image.nx, field.image.ny,
              static_cast<unsigned long long>(args->opt.seed), field.stars.size(),
              field.has_saturated ? ", a saturated star" : "",
              field.galaxy.profile != zelvo::GalaxyProfile::None ? ", a galaxy" : "");
  if (args->list) print_objects(field);
  return 0;
}
