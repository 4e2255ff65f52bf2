// Cost of one aperture measurement (star 2.5, annulus 9 to 12) on a 512 x 512 and a
// 4096 x 4096 image, the same measurement with whole-image masks, and photutils'
// aperture_photometry with a circular aperture and annulus on the same 4096 x 4096 image.
// Prints the size ratio, the speed-ups and whether the counts and fluxes agree.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "photometry/apphot.h"
#include "session/photometry_menu.h"
#include "platform/console.h"
#include "removal/edge.h"
#include "removal/removal_work.h"
#include "removal/ring_values.h"
#include "timing_reporter.h"

namespace {

using namespace zelvo;

const ApertureRadii kRadii{2.5f, 9.0f, 12.0f};

// Sky 800 with a slope, hashed noise of +-20 and a Gaussian star of peak 12000 at the
// image centre (side / 2 + 0.3, side / 2 - 0.2).
Image field(int side) {
  Image im(side, side);
  const float xc = static_cast<float>(side / 2) + 0.3f, yc = static_cast<float>(side / 2) - 0.2f;
  for (int y = 1; y <= side; ++y)
    for (int x = 1; x <= side; ++x) {
      uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
      h = (h ^ (h >> 16)) * 0x45d9f3bu;
      h ^= h >> 16;
      const float noise = 40.0f * (static_cast<float>(h & 0xffffu) / 65535.0f - 0.5f);
      const float dx = static_cast<float>(x) - xc, dy = static_cast<float>(y) - yc;
      im.at(x, y) = 800.0f + 0.01f * static_cast<float>(x - y) + noise + 12000.0f * std::exp(-(dx * dx + dy * dy) / 5.0f);
    }
  return im;
}

Image& image_of(int side) {
  static std::map<int, std::unique_ptr<Image>> cache;
  auto& p = cache[side];
  if (!p) p = std::make_unique<Image>(field(side));
  return *p;
}

float centre_x(int side) { return static_cast<float>(side / 2) + 0.3f; }
float centre_y(int side) { return static_cast<float>(side / 2) - 0.2f; }

// The measurement with a fresh whole-image mask and masked image per radius, summed over
// the whole arrays.
ApertureSums whole_image_sums(const Image& img, float xc, float yc) {
  ApertureSums out;
  ApertureSum* sums[3] = {&out.outer, &out.inner, &out.star};
  const float rs[3] = {kRadii.outer, kRadii.inner, kRadii.star};
  for (int k = 0; k < 3; ++k) {
    RemovalWork w;
    w.prepare(img.nx, img.ny);
    if (FINDEDGE(w, xc, yc, rs[k]) != EdgeStatus::ok) {
      out.status = EdgeStatus::stuck;
      return out;
    }
    MASKCIRCLE(w, w.TheRing.x, w.TheRing.y, GREATSMALL(w.TheRing.y));
    float msum = 0.0f, flux = 0.0f;
    for (std::size_t i = 0; i < img.px.size(); ++i) {
      msum += w.TheMask.px[i];
      w.TheAux.px[i] = img.px[i] * w.TheMask.px[i];
    }
    for (float v : w.TheAux.px) flux += v;
    sums[k]->n = static_cast<int32_t>(msum);
    sums[k]->flux = flux;
  }
  return out;
}

struct Sink {
  std::istringstream in;
  std::ostringstream out;
  Console con{in, out};
};

void BM_Apphot(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const Image& im = image_of(side);
  Sink sink;
  for (auto _ : state) {
    const Photometry p = report_apphot(ImageView{const_cast<float*>(im.px.data()), im.nx, im.ny}, centre_x(side),
                                centre_y(side), kRadii, sink.con, nullptr);
    if (!p.corrected) state.SkipWithError("measurement failed");
    benchmark::DoNotOptimize(p.corrected);
    sink.out.str("");
  }
}
BENCHMARK(BM_Apphot)->Arg(512)->Arg(4096)->Unit(benchmark::kMicrosecond);

void BM_WholeImageApphot(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const Image& im = image_of(side);
  for (auto _ : state) {
    const ApertureSums s = whole_image_sums(im, centre_x(side), centre_y(side));
    benchmark::DoNotOptimize(s.star.flux);
  }
}
BENCHMARK(BM_WholeImageApphot)->Arg(4096)->Unit(benchmark::kMicrosecond);

bool same(const ApertureSum& a, const ApertureSum& b) { return a.n == b.n && a.flux == b.flux; }

// The box sums against the whole-image sums on both sizes.
bool sums_agree() {
  for (int side : {512, 4096}) {
    Image& im = image_of(side);
    const ApertureSums box = aperture_sums(im.view(), centre_x(side), centre_y(side), kRadii);
    const ApertureSums whole = whole_image_sums(im, centre_x(side), centre_y(side));
    if (box.status != EdgeStatus::ok || whole.status != EdgeStatus::ok) return false;
    if (!same(box.outer, whole.outer) || !same(box.inner, whole.inner) || !same(box.star, whole.star)) return false;
  }
  return true;
}

// photutils on the 4096 x 4096 image: one CircularAperture and one CircularAnnulus built and
// measured per star (default exact overlap), timed over repeated calls. Prints
// "TIME <microseconds> <corrected flux>" or "SKIP <reason>".
const char* kPhotutilsScript = R"PY(
import sys, time
try:
    import numpy as np
    from photutils.aperture import CircularAperture, CircularAnnulus, aperture_photometry
except Exception as e:
    print("SKIP photutils is not importable:", e)
    sys.exit(0)
path, n, x, y = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
data = np.fromfile(path, dtype=np.float32).reshape(n, n)
pos = (x - 1.0, y - 1.0)   # photutils counts pixels from 0, centred on integers
def measure():
    ap = CircularAperture(pos, r=2.5)
    ann = CircularAnnulus(pos, r_in=9.0, r_out=12.0)
    t = aperture_photometry(data, [ap, ann])
    back = t["aperture_sum_1"][0] / ann.area
    return t["aperture_sum_0"][0] - back * ap.area
measure()
reps = 200
t0 = time.perf_counter()
for _ in range(reps):
    f = measure()
dt = (time.perf_counter() - t0) / reps
print("TIME", dt * 1e6, f)
)PY";

void compare_with_photutils(double ours_us, float ours_flux) {
  const char* python = "/usr/bin/python3";
  if (access(python, X_OK) != 0) {
    std::printf("photutils comparison skipped: %s not found\n", python);
    return;
  }
  char raw[] = "/tmp/apphot_benchXXXXXX";
  const int fd = mkstemp(raw);
  if (fd < 0) {
    std::printf("photutils comparison skipped: no scratch file\n");
    return;
  }
  close(fd);
  char script[] = "/tmp/apphot_benchXXXXXX";
  const int sfd = mkstemp(script);
  if (sfd >= 0) close(sfd);
  const Image& im = image_of(4096);
  {
    std::ofstream f(raw, std::ios::binary);
    f.write(reinterpret_cast<const char*>(im.px.data()), static_cast<std::streamsize>(im.px.size() * sizeof(float)));
    std::ofstream s(script);
    s << kPhotutilsScript;
  }
  char cmd[512];
  std::snprintf(cmd, sizeof cmd, "%s %s %s 4096 %.6f %.6f 2>&1", python, script, raw,
                static_cast<double>(centre_x(4096)), static_cast<double>(centre_y(4096)));
  std::string out;
  if (FILE* p = popen(cmd, "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  std::remove(raw);
  std::remove(script);
  double us = 0.0, flux = 0.0;
  if (std::sscanf(out.c_str(), "TIME %lf %lf", &us, &flux) == 2 && us > 0.0) {
    std::printf("photutils aperture_photometry on 4096 x 4096: %.1f us per star; ours %.1f us: %.0f x faster\n", us,
                ours_us, us / ours_us);
    std::printf("corrected flux: photutils (exact overlap) %.1f, ours (pixel discs) %.1f\n", flux,
                static_cast<double>(ours_flux));
  } else if (out.rfind("SKIP", 0) == 0) {
    std::printf("photutils comparison skipped: %s", out.c_str() + 5);
  } else {
    std::printf("photutils comparison skipped: unexpected output: %s\n", out.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  zelvo::bench::TimingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto t512 = reporter.time("BM_Apphot/512"), t4096 = reporter.time("BM_Apphot/4096");
  const auto whole = reporter.time("BM_WholeImageApphot/4096");
  if (t512.real > 0.0 && t4096.real > 0.0) {
    std::printf("one measurement: 4096 x 4096 %.2f us, 512 x 512 %.2f us, ratio %.2f (target <= 1.5)\n", t4096.real,
                t512.real, t4096.real / t512.real);
    std::printf("  (CPU time: %.2f us and %.2f us, ratio %.2f)\n", t4096.cpu, t512.cpu, t4096.cpu / t512.cpu);
  }
  if (t4096.real > 0.0 && whole.real > 0.0)
    std::printf("4096 x 4096: whole-image masks %.0f us, speed-up %.0f x\n", whole.real, whole.real / t4096.real);
  std::printf("counts and fluxes identical to whole-image masks (512 and 4096): %s\n", sums_agree() ? "yes" : "NO");
  if (t4096.real > 0.0) {
    Sink sink;
    const Photometry p = report_apphot(image_of(4096).view(), centre_x(4096), centre_y(4096), kRadii, sink.con, nullptr);
    compare_with_photutils(t4096.real, p.corrected.value_or(0.0f));
  }
  benchmark::Shutdown();
  return 0;
}
