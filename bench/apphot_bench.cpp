// Cost of one aperture measurement with the exact star aperture (2.5) and annulus (9 to 12)
// on a 512 x 512 and a 4096 x 4096 image, against photutils' per-star time for 1000 stars
// measured in one batched aperture_photometry(method="exact") call on the same 4096 x 4096
// frame (timed inside python). Prints the size ratio (flat in image size) and the ratio of
// our time to photutils' per-star time (target <= 0.2), and checks that the sums agree.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "photometry/apphot.h"
#include "timing_reporter.h"

namespace {

using namespace zelvo;

const ApertureRadii kRadii{2.5f, 9.0f, 12.0f};
constexpr int kStars = 1000;

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
      im.at(x, y) =
          800.0f + 0.01f * static_cast<float>(x - y) + noise + 12000.0f * std::exp(-(dx * dx + dy * dy) / 5.0f);
    }
  return im;
}

Image& image_of(int side) {
  static std::map<int, std::unique_ptr<Image>> cache;
  auto& p = cache[side];
  if (!p) p = std::make_unique<Image>(field(side));
  return *p;
}

// 1000 centres spread over the frame, off the pixel grid, away from the border.
std::vector<std::pair<float, float>> centres(int side) {
  std::vector<std::pair<float, float>> c;
  for (int k = 0; k < kStars; ++k)
    c.emplace_back(
        20.0f + std::fmod(k * 97.31f, static_cast<float>(side - 40)),
        20.0f + std::fmod(k * 61.77f + 13.0f * std::sin(static_cast<float>(k)), static_cast<float>(side - 40)));
  return c;
}

void BM_Apphot(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const Image& im = image_of(side);
  const auto cs = centres(side);
  std::size_t k = 0;
  for (auto _ : state) {
    const auto& [x, y] = cs[k++ % cs.size()];
    const Photometry p = APPHOT(im.view(), x, y, kRadii);
    benchmark::DoNotOptimize(p.corrected);
  }
}
BENCHMARK(BM_Apphot)->Arg(512)->Arg(4096)->Unit(benchmark::kMicrosecond);

// Its two parts: the exact sums of the three circles, and the clipped annulus sky.
void BM_ApertureSums(benchmark::State& state) {
  const Image& im = image_of(4096);
  const auto cs = centres(4096);
  std::size_t k = 0;
  for (auto _ : state) {
    const auto& [x, y] = cs[k++ % cs.size()];
    benchmark::DoNotOptimize(aperture_sums(im.view(), x, y, kRadii));
  }
}
BENCHMARK(BM_ApertureSums)->Unit(benchmark::kMicrosecond);

void BM_AnnulusSky(benchmark::State& state) {
  const Image& im = image_of(4096);
  const auto cs = centres(4096);
  std::size_t k = 0;
  for (auto _ : state) {
    const auto& [x, y] = cs[k++ % cs.size()];
    benchmark::DoNotOptimize(annulus_sky(im.view(), x, y, kRadii));
  }
}
BENCHMARK(BM_AnnulusSky)->Unit(benchmark::kMicrosecond);

// photutils on the 4096 x 4096 frame: one CircularAperture and one CircularAnnulus holding
// all 1000 positions, measured by one aperture_photometry call (exact overlap), best of 3.
// Prints "TIME <microseconds per star>" and then "<star sum> <annulus sum>" per star, or
// "SKIP <reason>".
const char* kPhotutilsScript = R"PY(
import sys, time
try:
    import numpy as np
    from photutils.aperture import CircularAperture, CircularAnnulus, aperture_photometry
except Exception as e:
    print("SKIP photutils is not importable:", e)
    sys.exit(0)
path, n, cpath = sys.argv[1], int(sys.argv[2]), sys.argv[3]
data = np.fromfile(path, dtype=np.float32).reshape(n, n)
xy = np.loadtxt(cpath) - 1.0   # photutils counts pixels from 0, centred on integers
best, cpu = None, None
for _ in range(3):
    t0, c0 = time.perf_counter(), time.process_time()
    t = aperture_photometry(data, [CircularAperture(xy, r=2.5), CircularAnnulus(xy, r_in=9.0, r_out=12.0)],
                            method="exact")
    dt, dc = time.perf_counter() - t0, time.process_time() - c0
    best = dt if best is None else min(best, dt)
    cpu = dc if cpu is None else min(cpu, dc)
print("TIME", best / len(xy) * 1e6, cpu / len(xy) * 1e6)
for row in t:
    print(repr(float(row["aperture_sum_0"])), repr(float(row["aperture_sum_1"])))
)PY";

void compare_with_photutils(double ours_us, double ours_cpu_us) {
  const char* python = "/usr/bin/python3";
  if (access(python, X_OK) != 0) {
    std::printf("photutils comparison skipped: %s not found\n", python);
    return;
  }
  char dir[] = "/tmp/apphot_benchXXXXXX";
  if (!mkdtemp(dir)) {
    std::printf("photutils comparison skipped: no scratch folder\n");
    return;
  }
  const std::string raw = std::string(dir) + "/frame.raw", script = std::string(dir) + "/measure.py",
                    list = std::string(dir) + "/centres.txt";
  const Image& im = image_of(4096);
  const auto cs = centres(4096);
  {
    std::ofstream f(raw, std::ios::binary);
    f.write(reinterpret_cast<const char*>(im.px.data()), static_cast<std::streamsize>(im.px.size() * sizeof(float)));
    std::ofstream s(script);
    s << kPhotutilsScript;
    std::ofstream l(list);
    l.precision(9);
    for (const auto& [x, y] : cs) l << x << " " << y << "\n";
  }
  const std::string cmd = std::string(python) + " " + script + " " + raw + " 4096 " + list + " 2>&1";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  std::remove(raw.c_str());
  std::remove(script.c_str());
  std::remove(list.c_str());
  rmdir(dir);
  double us = 0.0, cpu = 0.0;
  if (std::sscanf(out.c_str(), "TIME %lf %lf", &us, &cpu) != 2 || !(us > 0.0) || !(cpu > 0.0)) {
    if (out.rfind("SKIP", 0) == 0)
      std::printf("photutils comparison skipped: %s", out.c_str() + 5);
    else
      std::printf("photutils comparison skipped: unexpected output: %.200s\n", out.c_str());
    return;
  }
  std::printf(
      "photutils aperture_photometry(method=\"exact\"), %d stars in one call on 4096 x 4096: %.2f us per star "
      "(CPU %.2f us)\n",
      kStars, us, cpu);
  std::printf("ours: %.2f us per measurement (CPU %.2f us)\n", ours_us, ours_cpu_us);
  std::printf("ratio ours / photutils per star: %.3f in CPU time, %.3f in real time (target <= 0.2)\n",
              ours_cpu_us / cpu, ours_us / us);
  // The sums of every star against photutils'.
  std::size_t line_start = out.find('\n') + 1, k = 0;
  double worst = 0.0;
  while (k < cs.size() && line_start < out.size()) {
    double s0 = 0, s1 = 0;
    if (std::sscanf(out.c_str() + line_start, "%lf %lf", &s0, &s1) != 2) break;
    const Photometry p = APPHOT(im.view(), cs[k].first, cs[k].second, kRadii);
    worst = std::max(
        {worst, std::fabs(p.sums.star.flux - s0) / std::fabs(s0), std::fabs(p.annulus.flux - s1) / std::fabs(s1)});
    ++k;
    line_start = out.find('\n', line_start) + 1;
  }
  std::printf("star and annulus sums of %zu stars against photutils: largest relative difference %.2e\n", k, worst);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  zelvo::bench::TimingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto t512 = reporter.time("BM_Apphot/512"), t4096 = reporter.time("BM_Apphot/4096");
  if (t512.real > 0.0 && t4096.real > 0.0)
    std::printf("one measurement: 4096 x 4096 %.2f us, 512 x 512 %.2f us, ratio %.2f (flat in image size)\n",
                t4096.real, t512.real, t4096.real / t512.real);
  if (t4096.real > 0.0) compare_with_photutils(t4096.real, t4096.cpu);
  benchmark::Shutdown();
  return 0;
}
