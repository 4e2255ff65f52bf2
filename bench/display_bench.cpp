// Display of a 4096 x 4096 image on /null (automatic levels, statistics, summary and
// drawing, no dialogue) against giza's bare cpggray of the same image on /null.
// Prints both times and their ratio at the end of the run.
#include <benchmark/benchmark.h>
#include <cpgplot.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "display/display.h"
#include "platform/console.h"
#include "platform/graphics.h"

namespace {

using namespace zelvo;

constexpr int kSide = 4096;

// Sky of about 1000 with noise and a grid of stars; deterministic.
const Image& field() {
  static const Image im = [] {
    Image f(kSide, kSide);
    std::uint32_t state = 12345u;
    for (int j = 1; j <= kSide; ++j)
      for (int i = 1; i <= kSide; ++i) {
        state = state * 1664525u + 1013904223u;
        const float noise = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
        f.at(i, j) = 1000.0f + 0.01f * static_cast<float>(i) + 40.0f * noise;
      }
    for (int sy = 64; sy < kSide; sy += 256)
      for (int sx = 64; sx < kSide; sx += 256)
        for (int dy = -6; dy <= 6; ++dy)
          for (int dx = -6; dx <= 6; ++dx)
            f.at(sx + dx, sy + dy) += 20000.0f * std::exp(-static_cast<float>(dx * dx + dy * dy) / 8.0f);
    return f;
  }();
  return im;
}

void BM_DisplayImage(benchmark::State& state) {
  Image im = field();
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  Graphics gfx(con);
  if (!gfx.open("/null")) {
    state.SkipWithError("cannot open /null");
    return;
  }
  DisplayState st;
  st.minlim = -1.0e30f;
  st.maxlim = 1.0e30f;
  st.scaling = 'p';
  const HeaderTexts texts;
  for (auto _ : state) {
    out.str("");
    DISPLAYIMAGE({im.view(), "BENCH FIELD", "field4096.fits"}, st, texts, false, con, gfx);
    benchmark::DoNotOptimize(st.highlev);
  }
  gfx.close_all();
}
BENCHMARK(BM_DisplayImage)->Unit(benchmark::kMillisecond)->Iterations(8);

void BM_BareCpggray(benchmark::State& state) {
  const Image& im = field();
  if (cpgopen("/null") <= 0) {
    state.SkipWithError("cannot open /null");
    return;
  }
  cpgask(0);
  const float tr[6] = {-0.5f / kSide, 1.0f, 0.0f, -0.5f / kSide, 0.0f, 1.0f};
  // The same levels the display uses, in the order giza's grey ramp draws (low black).
  const AutoLevels lv = automatic_levels(ImageView{const_cast<float*>(im.px.data()), kSide, kSide}, -1.0e30f, 1.0e30f);
  for (auto _ : state) {
    cpgeras();
    cpgsvp(0.1f, 0.9f, 0.1f, 0.9f);
    cpgswin(0.0f, static_cast<float>(kSide), 0.0f, static_cast<float>(kSide));
    cpggray(im.px.data(), kSide, kSide, 1, kSide, 1, kSide, lv.lowlev, lv.highlev, tr);
    cpgbox("BCNST", 0.0f, 0, "BCNST", 0.0f, 0);
  }
  cpgend();
}
BENCHMARK(BM_BareCpggray)->Unit(benchmark::kMillisecond)->Iterations(8);

// Keeps the mean real time per iteration of each benchmark for the closing ratio line.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0)
        times_[r.benchmark_name()] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};  // ms
    ConsoleReporter::ReportRuns(runs);
  }
  // Real and CPU time per iteration (ms); zeros when the benchmark did not run.
  std::pair<double, double> time(const std::string& name) const {
    const auto it = times_.find(name);
    return it == times_.end() ? std::pair<double, double>{0.0, 0.0} : it->second;
  }

 private:
  std::map<std::string, std::pair<double, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto display = reporter.time("BM_DisplayImage/iterations:8");
  const auto bare = reporter.time("BM_BareCpggray/iterations:8");
  if (display.first > 0.0 && bare.first > 0.0 && bare.second > 0.0) {
    std::printf("4096 x 4096 on /null: DISPLAYIMAGE %.1f ms (CPU %.1f ms), bare cpggray %.1f ms (CPU %.1f ms), "
                "ratio %.2f (CPU %.2f)\n",
                display.first, display.second, bare.first, bare.second, display.first / bare.first,
                display.second / bare.second);
  }
  benchmark::Shutdown();
  return 0;
}
