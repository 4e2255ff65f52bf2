// Option 5's isophote fit and model side by side with photutils 1.6 (Ellipse.fit_image and
// build_ellipse_model) in one run, on the same frames and masks:
//  - a synthetic 512 x 512 galaxy whose isophotes are exact ellipses twisting from a Sersic
//    n = 4 bulge (ellipticity 0.1 at 20 degrees) to an exponential disc (0.5 at 60 degrees),
//    sky 1000, Gaussian noise 10, 15 stars (masked) and 5 knots on the disc;
//  - M51 (tests/data/m51.fits), centred on its nucleus;
//  - the synthetic galaxy scaled to 2048 x 2048.
// Prints, for each: ellipticity, angle and intensity against the truth, residual mean and RMS
// in sigma at disc radii, star fluxes recovered on the residual, isophotes converged and how far
// out, and the processor time of fit + model against photutils' (target: ratio at most 0.1).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "galaxy/isophote_fit.h"
#include "galaxy/isophote_model.h"
#include "support/twisted_galaxy.h"

using namespace zelvo;
using namespace zelvo::test_images;

namespace {

constexpr double kDeg = 57.29577951308232;
constexpr double kNoise = 10.0;
constexpr double kStarMask = 8.0;

struct Frame {
  std::string name;
  Image image;
  double x = 0, y = 0;  // the centre given to both fits
  double maxsma = 0;
  bool truth = false;  // synthetic: the geometry and light are known
  TwistedGalaxy g;
  std::vector<GaussStar> stars;
  double scale = 1.0;
};

Frame synthetic(int n) {
  Frame f;
  const double s = n / 512.0;
  f.name = "synthetic " + std::to_string(n) + " x " + std::to_string(n);
  f.scale = s;
  f.g.x0 = n / 2 + 0.3;
  f.g.y0 = n / 2 - 0.4;
  f.g.twist_at *= s;
  f.g.twist_width *= s;
  f.g.bulge_re *= s;
  f.g.disc_h *= s;
  f.truth = true;
  // 15 stars spread over the disc and beyond, fluxes 5000 to 75000.
  for (int k = 0; k < 15; ++k) {
    const double r = (25.0 + 13.0 * k) * s, t = 2.39996 * k;
    f.stars.push_back({f.g.x0 + r * std::cos(t), f.g.y0 + r * std::sin(t), 5000.0 * (1 + k), 1.5 * s});
  }
  std::vector<GaussStar> all = f.stars;
  // 5 knots on the disc (not masked: they are what the residual is to show).
  for (int k = 0; k < 5; ++k) {
    const double r = (50.0 + 20.0 * k) * s, t = 1.1 + 1.3 * k;
    all.push_back({f.g.x0 + r * std::cos(t), f.g.y0 + r * std::sin(t) * 0.5, 3000.0, 2.5 * s});
  }
  f.image = twisted_galaxy_frame(f.g, n, n, kNoise, 17, all);
  f.x = f.g.x0 - 1.2;
  f.y = f.g.y0 + 0.8;
  f.maxsma = 230.0 * s;
  return f;
}

Frame m51() {
  Frame f;
  f.name = "M51 512 x 512";
  const FitsRead r = READ_FITS_2D_IMAGE(std::string(ZELVO_SOURCE_DIR) + "/tests/data/m51.fits");
  f.image = r.image;
  f.x = 258.0;
  f.y = 259.0;
  f.maxsma = 250.0;
  return f;
}

std::vector<uint8_t> star_mask(const Frame& f) {
  std::vector<uint8_t> m(f.image.px.size(), 0);
  for (const GaussStar& s : f.stars) mask_circle(m, f.image.nx, f.image.ny, s.x, s.y, kStarMask * f.scale);
  return m;
}

IsophoteRequest request(const Frame& f, const std::vector<uint8_t>& mask) {
  IsophoteRequest req;
  req.start = starting_shape(f.image.view(), f.x, f.y, 20.0 * f.scale);
  req.sma0 = 10.0 * f.scale;
  req.maxsma = f.maxsma;
  req.mask = mask;
  return req;
}

void BM_FitAndModel(benchmark::State& state, Frame (*make)()) {
  static std::map<void*, Frame> frames;
  Frame& f = frames.try_emplace(reinterpret_cast<void*>(make), make()).first->second;
  const std::vector<uint8_t> mask = star_mask(f);
  const IsophoteRequest req = request(f, mask);
  for (auto _ : state) benchmark::DoNotOptimize(model_galaxy(f.image.view(), req));
}
Frame synthetic512() { return synthetic(512); }
Frame synthetic2048() { return synthetic(2048); }
BENCHMARK_CAPTURE(BM_FitAndModel, synthetic512, synthetic512)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_FitAndModel, m51, m51)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_FitAndModel, synthetic2048, synthetic2048)->Unit(benchmark::kMillisecond)->Iterations(1);

// photutils on a raw float32 frame: centre (FITS pixels), maxsma, starting shape and an
// optional mask file. Prints "TIME fit model" (process time, s), one "ISO sma intens eps pa
// x0 y0 stop" line per isophote (pixels from 1, pa in degrees), and writes the model.
const char* kPhotutilsScript = R"PY(
import sys, time, warnings
warnings.simplefilter("ignore")
try:
    import numpy as np
    from photutils.isophote import EllipseGeometry, Ellipse, build_ellipse_model
except Exception as e:
    print("SKIP photutils is not importable:", e); sys.exit(0)
raw, n, x, y, sma0, maxsma, eps, pa, maskpath, modelpath = sys.argv[1:11]
n = int(n)
data = np.fromfile(raw, dtype=np.float32).reshape(n, n).astype(float)
if maskpath != "-":
    data = np.ma.masked_array(data, mask=np.fromfile(maskpath, dtype=np.uint8).reshape(n, n).astype(bool))
g = EllipseGeometry(float(x) - 1, float(y) - 1, sma=float(sma0), eps=max(float(eps), 0.05), pa=float(pa))
c0 = time.process_time()
isolist = Ellipse(data, g).fit_image(maxsma=float(maxsma))
c1 = time.process_time()
model = build_ellipse_model((n, n), isolist)
c2 = time.process_time()
print("TIME", c1 - c0, c2 - c1)
for iso in isolist:
    print("ISO", iso.sma, iso.intens, iso.eps, np.degrees(iso.pa), iso.x0 + 1, iso.y0 + 1, iso.stop_code)
model.astype(np.float32).tofile(modelpath)
)PY";

struct Theirs {
  bool ran = false;
  std::string why;
  double fit_s = 0, model_s = 0;
  std::vector<Isophote> isophotes;
  Image model;
};

Theirs photutils(const Frame& f, const std::vector<uint8_t>& mask, const IsophoteRequest& req) {
  const EllipseShape& start = req.start;
  Theirs t;
  const char* python = "/usr/bin/python3";
  if (access(python, X_OK) != 0) {
    t.why = "no /usr/bin/python3";
    return t;
  }
  char dir[] = "/tmp/isophote_benchXXXXXX";
  if (!mkdtemp(dir)) {
    t.why = "no scratch folder";
    return t;
  }
  const std::string d(dir), raw = d + "/frame.raw", mpath = d + "/mask.raw", model = d + "/model.raw",
                            script = d + "/fit.py";
  {
    std::ofstream(raw, std::ios::binary)
        .write(reinterpret_cast<const char*>(f.image.px.data()), static_cast<std::streamsize>(f.image.px.size() * 4));
    std::ofstream(mpath, std::ios::binary)
        .write(reinterpret_cast<const char*>(mask.data()), static_cast<std::streamsize>(mask.size()));
    std::ofstream(script) << kPhotutilsScript;
  }
  std::ostringstream cmd;
  cmd << python << " " << script << " " << raw << " " << f.image.nx << " " << f.x << " " << f.y << " " << req.sma0
      << " " << f.maxsma << " " << start.eps << " " << start.pa << " " << (f.stars.empty() ? "-" : mpath) << " "
      << model << " 2>&1";
  std::string out;
  if (FILE* p = popen(cmd.str().c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream l(line);
    std::string tag;
    l >> tag;
    if (tag == "TIME") {
      l >> t.fit_s >> t.model_s;
      t.ran = true;
    } else if (tag == "ISO") {
      Isophote i;
      double pa = 0;
      int stop = 0;
      l >> i.sma >> i.intens >> i.shape.eps >> pa >> i.shape.x0 >> i.shape.y0 >> stop;
      i.shape.pa = pa / kDeg;
      i.stop = stop == 0 ? IsophoteStop::converged : IsophoteStop::carried;
      t.isophotes.push_back(i);
    } else if (tag == "SKIP") {
      t.why = line;
    }
  }
  if (t.ran) {
    t.model = Image(f.image.nx, f.image.ny);
    std::ifstream(model, std::ios::binary)
        .read(reinterpret_cast<char*>(t.model.px.data()), static_cast<std::streamsize>(t.model.px.size() * 4));
  } else if (t.why.empty()) {
    t.why = "unexpected output: " + out.substr(0, 300);
  }
  for (const std::string& p : {raw, mpath, model, script}) std::remove(p.c_str());
  rmdir(dir);
  return t;
}

// Accuracy of a table against the synthetic truth, out to sma 120 (scaled), where the fit converged.
void accuracy(const char* who, const Frame& f, const std::vector<Isophote>& iso) {
  double deps = 0, dpa = 0, dint = 0;
  int n = 0;
  for (const Isophote& i : iso) {
    if (i.stop != IsophoteStop::converged || i.sma < 3.0 * f.scale || i.sma > 120.0 * f.scale) continue;
    ++n;
    deps = std::max(deps, std::fabs(i.shape.eps - f.g.eps(i.sma)));
    if (f.g.eps(i.sma) > 0.15) dpa = std::max(dpa, std::fabs(pa_off(i.shape.pa, f.g.pa_deg(i.sma))));
    dint = std::max(dint, std::fabs(i.intens - f.g.intens(i.sma)) / f.g.intens(i.sma));
  }
  std::printf(
      "  %-9s out to sma %.0f (%d converged isophotes): |eps - truth| <= %.4f, |pa - truth| <= %.2f deg, "
      "|intens - truth| <= %.3f %%\n",
      who, 120.0 * f.scale, n, deps, dpa, 100.0 * dint);
}

// Residual frame - model in the disc (truth sma 60 to 160, scaled), away from stars and
// knots: mean and RMS in units of the noise (the mean about the sky each model leaves).
void residual_stats(const char* who, const Frame& f, const Image& model, double sky_left) {
  double s = 0, s2 = 0;
  long n = 0;
  for (int y = 1; y <= f.image.ny; y += f.scale > 1 ? 2 : 1)
    for (int x = 1; x <= f.image.nx; x += f.scale > 1 ? 2 : 1) {
      const double a = f.g.sma_at(x, y);
      if (a < 60.0 * f.scale || a > 160.0 * f.scale) continue;
      bool near = false;
      for (const GaussStar& st : f.stars) near = near || std::hypot(x - st.x, y - st.y) < 12.0 * f.scale;
      if (near) continue;
      const double d = f.image.at(x, y) - model.at(x, y) - sky_left;
      s += d;
      s2 += d * d;
      ++n;
    }
  const double mean = s / n;
  std::printf("  %-9s residual at disc radii: mean %+.3f sigma, RMS %.3f sigma (%ld pixels)\n", who, mean / kNoise,
              std::sqrt(s2 / n) / kNoise, n);
}

// Star fluxes on the residual: the sum within 8 pixels (scaled) less the median of the
// residual between 10 and 15 pixels times the area (a local sky, fair to both models).
void star_fluxes(const char* who, const Frame& f, const Image& model) {
  double worst = 0, mean = 0;
  for (const GaussStar& st : f.stars) {
    double sum = 0;
    int n = 0;
    std::vector<double> ring;
    const double r = kStarMask * f.scale, r1 = 10.0 * f.scale, r2 = 15.0 * f.scale;
    for (int y = static_cast<int>(st.y - r2) - 1; y <= static_cast<int>(st.y + r2) + 1; ++y)
      for (int x = static_cast<int>(st.x - r2) - 1; x <= static_cast<int>(st.x + r2) + 1; ++x) {
        if (x < 1 || y < 1 || x > f.image.nx || y > f.image.ny) continue;
        const double d = std::hypot(x - st.x, y - st.y), v = f.image.at(x, y) - model.at(x, y);
        if (d <= r) {
          sum += v;
          ++n;
        } else if (d > r1 && d <= r2) {
          ring.push_back(v);
        }
      }
    std::nth_element(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(ring.size() / 2), ring.end());
    const double e = (sum - n * ring[ring.size() / 2] - st.flux) / st.flux;
    worst = std::max(worst, std::fabs(e));
    mean += e / f.stars.size();
  }
  std::printf("  %-9s %zu star fluxes on the residual: mean error %+.2f %%, largest |error| %.2f %%\n", who,
              f.stars.size(), 100 * mean, 100 * worst);
}

void reach(const char* who, const std::vector<Isophote>& iso) {
  int conv = 0;
  double far = 0, last = 0;
  for (const Isophote& i : iso) {
    last = std::max(last, i.sma);
    if (i.stop == IsophoteStop::converged) {
      ++conv;
      far = std::max(far, i.sma);
    }
  }
  std::printf("  %-9s %d of %zu isophotes converged, the farthest at sma %.1f; table out to %.1f\n", who, conv,
              iso.size(), far, last);
}

// The centre's largest distance from the first isophote's (the nucleus) over the table.
void centre_wander(const char* who, const std::vector<Isophote>& iso) {
  if (iso.empty()) return;
  double worst = 0, at = 0;
  for (const Isophote& i : iso) {
    const double d = std::hypot(i.shape.x0 - iso.front().shape.x0, i.shape.y0 - iso.front().shape.y0);
    if (d > worst) worst = d, at = i.sma;
  }
  std::printf("  %-9s centre wanders at most %.2f pixels from the nucleus (at sma %.1f)\n", who, worst, at);
}

void compare(const Frame& f) {
  std::printf("\n== %s ==\n", f.name.c_str());
  const std::vector<uint8_t> mask = star_mask(f);
  const IsophoteRequest req = request(f, mask);
  const std::clock_t c0 = std::clock();
  const IsophoteModel ours = model_galaxy(f.image.view(), req);
  const double our_s = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  const Theirs theirs = photutils(f, mask, req);
  // photutils' model includes the sky; ours is the light above the sky it measured.
  reach("zelvo", ours.fit.isophotes);
  centre_wander("zelvo", ours.fit.isophotes);
  if (theirs.ran) {
    reach("photutils", theirs.isophotes);
    centre_wander("photutils", theirs.isophotes);
  }
  if (f.truth) {
    accuracy("zelvo", f, ours.fit.isophotes);
    if (theirs.ran) accuracy("photutils", f, theirs.isophotes);
    residual_stats("zelvo", f, ours.model, ours.sky.level);
    if (theirs.ran) residual_stats("photutils", f, theirs.model, 0.0);
    star_fluxes("zelvo", f, ours.model);
    if (theirs.ran) star_fluxes("photutils", f, theirs.model);
  }
  std::printf("  processor time, fit + model: zelvo %.3f s", our_s);
  if (!theirs.ran) {
    std::printf("; photutils skipped: %s\n", theirs.why.c_str());
    return;
  }
  std::printf(", photutils %.1f s (fit_image %.1f s + build_ellipse_model %.1f s)\n", theirs.fit_s + theirs.model_s,
              theirs.fit_s, theirs.model_s);
  std::printf("  ratio zelvo / photutils: %.4f (target <= 0.1)\n", our_s / (theirs.fit_s + theirs.model_s));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  compare(synthetic(512));
  compare(m51());
  compare(synthetic(2048));
  return 0;
}
