// Cost of one star removal (ring radius 20) on a 512 x 512 and a 4096 x 4096 image, and the
// same removal done the straightforward way (whole-image mask clear, whole-image scratch
// clear per ring point, whole-image wipe and undo loops). Prints the size ratio, the
// speed-up and whether the painted pixels agree at the end of the run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>

#include "numeric/random.h"
#include "removal/deathstar.h"
#include "removal/edge.h"
#include "removal/gradient.h"
#include "removal/ring_values.h"
#include "removal/wipe.h"

namespace {

using namespace zelvo;

constexpr float kRadius = 19.0f;  // traced at 20
constexpr int32_t kSeed = -424242;

// Sky with a gentle slope, noise and a Gaussian star at (c + 0.5, c + 0.5), c = side / 2.
// Pixel values depend only on the offset from the star, so the star's surroundings are the
// same on every image size.
Image star_image(int side) {
  Image im(side, side);
  const int c = side / 2;
  for (int y = 1; y <= side; ++y) {
    for (int x = 1; x <= side; ++x) {
      const int dx = x - c, dy = y - c;
      uint32_t h = static_cast<uint32_t>(dx) * 2654435761u ^ static_cast<uint32_t>(dy) * 2246822519u;
      h ^= h >> 15;
      h *= 2654435761u;
      h ^= h >> 13;
      const float noise = static_cast<float>(h >> 8) / 16777216.0f - 0.5f;
      const float r2 = static_cast<float>(dx * dx + dy * dy);
      im.at(x, y) = 1000.0f + 0.05f * static_cast<float>(dx) + 0.02f * static_cast<float>(dy) + 30.0f * noise +
                    20000.0f * std::exp(-r2 / 18.0f);
    }
  }
  return im;
}

const Image& image_of(int side) {
  static std::map<int, std::unique_ptr<Image>> cache;
  auto& p = cache[side];
  if (!p) p = std::make_unique<Image>(star_image(side));
  return *p;
}

float centre_of(int side) { return static_cast<float>(side / 2) + 0.5f; }

// Everything a removal talks to, with the debug log thrown away.
struct Sink {
  Random rng;
  int32_t seed = kSeed;
  std::ofstream log{"/dev/null"};
  RemovalContext ctx() { return RemovalContext{rng, seed, 0, &log}; }
};

// The straightforward background sampling: the whole scratch array cleared per ring point
// and the ring's whole box scanned for every sampling radius.
void whole_image_ring_values(RemovalWork& w, ImageView image) {
  const auto gx = GREATSMALL(w.TheRing.x);
  const auto gy = GREATSMALL(w.TheRing.y);
  const Box box = Box{static_cast<int32_t>(gx.small) - 8, static_cast<int32_t>(gx.great) + 8,
                      static_cast<int32_t>(gy.small) - 8, static_cast<int32_t>(gy.great) + 8}
                      .clipped(w.NX, w.NY);
  constexpr float kRad[3] = {2.0f, 4.0f, 6.0f};
  std::array<float, 300> buffer{};
  for (int32_t i = 0; i < w.nRing; ++i) {
    const float xi = w.TheRing.x[static_cast<std::size_t>(i)], yi = w.TheRing.y[static_cast<std::size_t>(i)];
    std::fill(w.TheAux.px.begin(), w.TheAux.px.end(), 0.0f);
    RadiusSamples s[3];
    for (int k = 0; k < 3; ++k) {
      for (int32_t y = box.y0; y <= box.y1; ++y) {
        for (int32_t x = box.x0; x <= box.x1; ++x) {
          const float dx = static_cast<float>(x) - xi, dy = static_cast<float>(y) - yi;
          w.TheAux.at(x, y) = std::sqrt(dx * dx + dy * dy) >= kRad[k] ? 0.0f : 1.0f - w.TheMask.at(x, y);
        }
      }
      for (int32_t y = box.y0; y <= box.y1; ++y)
        for (int32_t x = box.x0; x <= box.x1; ++x) w.TheAux.at(x, y) *= image.at(x, y);
      std::size_t n = 0;
      for (int32_t y = box.y0; y <= box.y1; ++y) {
        for (int32_t x = box.x0; x <= box.x1; ++x) {
          const float v = w.TheAux.at(x, y);
          if (v > 0.01f && std::isfinite(v) && n < buffer.size()) buffer[n++] = v;
        }
      }
      s[k] = clip_radius_samples(std::span<float>(buffer.data(), n), box, nullptr);
    }
    const RingBackground b = ring_background(s);
    if (!b.measured) w.RingWeight[static_cast<std::size_t>(i)] = 0.0f;
    w.TheRing.back[static_cast<std::size_t>(i)] = b.back;
    w.TheRing.sigma[static_cast<std::size_t>(i)] = b.sigma;
  }
}

// The same removal with every loop over the whole image.
bool whole_image_removal(RemovalWork& w, ImageView image, float xc, float yc, float r, Sink& sink) {
  w.prepare(image.nx, image.ny);
  if (FINDEDGE(w, xc, yc, r) != EdgeStatus::ok) return false;
  std::fill(w.TheMask.px.begin(), w.TheMask.px.end(), 0.0f);
  w.mask_box = Box{};
  MASKCIRCLE(w, w.TheRing.x, w.TheRing.y, GREATSMALL(w.TheRing.y));
  whole_image_ring_values(w, image);
  std::ostringstream log;
  if (!GRADIENT(w, xc, yc, log)) return false;
  if (!fit_background(w, image, xc, yc, r, 0, log)) return false;
  w.mask_box = Box{1, w.NX, 1, w.NY};
  WIPEOUT(w, image, xc, yc, r, sink.ctx(), log);
  return true;
}

void BM_Removal(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  Image im = image_of(side);
  Sink sink;
  RemovalWork work;
  const float c = centre_of(side);
  // A first removal allocates the work arrays; the timed ones reuse them.
  float r = kRadius;
  DEATHSTAR(work, im.view(), c, c, r, sink.ctx());
  UNWIPE(work, im.view());
  for (auto _ : state) {
    r = kRadius;
    const RemovalResult res = DEATHSTAR(work, im.view(), c, c, r, sink.ctx());
    UNWIPE(work, im.view());
    if (!res.changed()) state.SkipWithError("removal failed");
    benchmark::DoNotOptimize(im.px.data());
  }
}
BENCHMARK(BM_Removal)->Arg(512)->Arg(4096)->Unit(benchmark::kMicrosecond);

void BM_WholeImageRemoval(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  Image im = image_of(side);
  Sink sink;
  RemovalWork work;
  const float c = centre_of(side);
  for (auto _ : state) {
    if (!whole_image_removal(work, im.view(), c, c, kRadius + 1.0f, sink)) state.SkipWithError("removal failed");
    work.mask_box = Box{1, work.NX, 1, work.NY};
    UNWIPE(work, im.view());
    benchmark::DoNotOptimize(im.px.data());
  }
}
BENCHMARK(BM_WholeImageRemoval)->Arg(512)->Arg(4096)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  double time(const std::string& name) const {
    const auto it = times_.find(name);
    return it == times_.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> times_;
};

// Removes the star with the same seed from both sizes and both ways; true when the painted
// pixels (at the same offsets from the star) are the same everywhere.
bool painted_pixels_agree() {
  Image small = image_of(512), large = image_of(4096), whole = image_of(4096);
  Sink s1, s2, s3;
  RemovalWork w1, w2, w3;
  float r1 = kRadius, r2 = kRadius;
  if (!DEATHSTAR(w1, small.view(), centre_of(512), centre_of(512), r1, s1.ctx()).changed()) return false;
  if (!DEATHSTAR(w2, large.view(), centre_of(4096), centre_of(4096), r2, s2.ctx()).changed()) return false;
  if (!whole_image_removal(w3, whole.view(), centre_of(4096), centre_of(4096), kRadius + 1.0f, s3)) return false;
  if (whole.px != large.px) return false;
  const int shift = 4096 / 2 - 512 / 2;
  for (int y = 1; y <= 512; ++y)
    for (int x = 1; x <= 512; ++x)
      if (small.at(x, y) != large.at(x + shift, y + shift)) return false;
  return small.px != image_of(512).px;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double t512 = reporter.time("BM_Removal/512"), t4096 = reporter.time("BM_Removal/4096");
  const double whole4096 = reporter.time("BM_WholeImageRemoval/4096");
  if (t512 > 0.0 && t4096 > 0.0) {
    std::printf("removal at ring radius 20: 4096 x 4096 %.1f us, 512 x 512 %.1f us, ratio %.2f (target <= 2)\n", t4096,
                t512, t4096 / t512);
  }
  if (t4096 > 0.0 && whole4096 > 0.0) {
    std::printf("4096 x 4096: whole-image version %.1f us, speed-up %.0f x\n", whole4096, whole4096 / t4096);
  }
  std::printf("painted pixels identical for the same seed (512 vs 4096, box vs whole image): %s\n",
              painted_pixels_agree() ? "yes" : "NO");
  benchmark::Shutdown();
  return 0;
}
