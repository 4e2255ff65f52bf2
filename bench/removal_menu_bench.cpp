// Option 9 of the remove-features submenu (automatic removal from an object list) on a list
// of 100 stars, on a 4096 x 4096 and a 1024 x 1024 field: the time per object on each and
// their ratio (target: at most 2), and the parts that make it up: the sky upper limit and the
// saturation level computed from the whole image, as the visit's tile cache first does, the
// point-spread estimate, and the removal itself. The visit's one pass to fill its cache is
// part of the per-object time (spread over the list).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "display/display.h"
#include "display/zoom.h"
#include "numeric/random.h"
#include "photometry/psf.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "removal/deathstar.h"
#include "removal/wipe.h"
#include "session/remove_submenu.h"
#include "support/frame_generator.h"
#include "support/scripted_session.h"

namespace {

using namespace zelvo;

constexpr int kGrid = 10;     // 10 x 10 = 100 stars ...
constexpr int kSpacing = 80;  // ... 80 pixels apart, centred on the image
constexpr int kStars = kGrid * kGrid;

// The star positions: the same offsets from the image centre on every size, so the local
// work per star is the same and only whole-image passes grow with the image.
double star_x(int side, int k) { return side / 2 + (k % kGrid - kGrid / 2) * kSpacing + 0.3; }
double star_y(int side, int k) { return side / 2 + (k / kGrid - kGrid / 2) * kSpacing + 0.6; }

// The 100 stars on the benchmarks' sky.
const Image& field_of(int side) {
  return test_images::cached_star_field(side, [](int n) {
    std::vector<std::pair<double, double>> stars;
    for (int k = 0; k < kStars; ++k) stars.emplace_back(star_x(n, k), star_y(n, k));
    return stars;
  });
}

std::filesystem::path list_of(int side) {
  const auto path =
      std::filesystem::temp_directory_path() / ("zelvo_removal_menu_bench_" + std::to_string(side) + ".log");
  std::ofstream out(path);
  for (int k = 0; k < kStars; ++k) out << " 1 " << star_x(side, k) << " " << star_y(side, k) << " 9.0\n";
  return path;
}

// Milliseconds per object of the last option-9 run of each size (real time).
std::map<int, double>& per_object_ms() {
  static std::map<int, double> ms;
  return ms;
}
// The same in CPU time of the process (the machine may be shared).
std::map<int, double>& per_object_cpu_ms() {
  static std::map<int, double> ms;
  return ms;
}
double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

void BM_Option9(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const Image& pristine = field_of(side);
  testing::ScriptedSession desk(pristine, -4242, "bench");
  const RemovalFiles files{list_of(side), "/dev/null", "/dev/null"};
  {
    // The removal work arrays are made once per session on the first removal: not per object.
    RemovalVisit warm;
    remove_listed_automatically(desk.s, warm, files);
  }
  double seconds = 0.0, cpu = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    desk.s.active().image.px = pristine.px;
    desk.out.str("");
    RemovalVisit visit;
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = cpu_seconds();
    remove_listed_automatically(desk.s, visit, files);
    cpu += cpu_seconds() - c0;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (visit.marked.size() != static_cast<std::size_t>(kStars)) state.SkipWithError("not every star was handled");
  }
  const std::string text = desk.out.str();
  if (text.find("nothing removed") != std::string::npos) state.SkipWithError("a removal was refused");
  per_object_ms()[side] = 1000.0 * seconds / static_cast<double>(state.iterations()) / kStars;
  per_object_cpu_ms()[side] = 1000.0 * cpu / static_cast<double>(state.iterations()) / kStars;
  state.counters["ms_per_object"] = per_object_ms()[side];
}
BENCHMARK(BM_Option9)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond)->Iterations(2);

// The parts of one object.
void BM_SkyUpperLimit(benchmark::State& state) {
  Image im = field_of(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(sky_upper_limit(im.view()));
}
BENCHMARK(BM_SkyUpperLimit)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_SaturationLevel(benchmark::State& state) {
  Image im = field_of(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(saturation_level(im.view()));
}
BENCHMARK(BM_SaturationLevel)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_PointSpreadEstimate(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  Image im = field_of(side);
  PsfRequest req;
  req.sky_upper = 1.0e6f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        GETPSF(im.view(), static_cast<float>(star_x(side, 0)), static_cast<float>(star_y(side, 0)), req));
  }
}
BENCHMARK(BM_PointSpreadEstimate)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_DiscRemoval(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  Image im = field_of(side);
  Random rng;
  int32_t seed = -4242;
  RemovalWork work;
  std::ofstream log{"/dev/null"};
  const RemovalContext rctx{rng, seed, 0, &log};
  for (auto _ : state) {
    float r = 10.0f;
    if (!DEATHSTAR(work, im.view(), static_cast<float>(star_x(side, 0)), static_cast<float>(star_y(side, 0)), r, rctx)
             .changed())
      state.SkipWithError("removal refused");
    UNWIPE(work, im.view());
  }
}
BENCHMARK(BM_DiscRemoval)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const auto& ms = per_object_ms();
  const auto& cms = per_object_cpu_ms();
  const auto small = ms.find(1024), large = ms.find(4096);
  if (small != ms.end() && large != ms.end() && small->second > 0.0) {
    const double ratio = large->second / small->second;
    std::printf(
        "option 9, 100 stars: 4096 x 4096 %.2f ms per object, 1024 x 1024 %.2f ms per object,\n"
        "  ratio %.2f (target at most 2.00) %s; in CPU time %.2f and %.2f ms, ratio %.2f\n",
        large->second, small->second, ratio, ratio <= 2.0 ? "MET" : "MISSED", cms.at(4096), cms.at(1024),
        cms.at(4096) / cms.at(1024));
  }
  benchmark::Shutdown();
  return 0;
}
