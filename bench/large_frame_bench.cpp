// An 8192 x 8192 frame (256 MiB) against a 512 x 512 one with the same stars around its
// centre: D (DISPLAYIMAGE on /null, no dialogue), one removal (an object of option 9 within a
// visit whose image cache is already filled: the point-spread estimate and the disc removal)
// and one photometry measurement (the estimate and APPHOT of a clicked star, as option 4 of
// O makes them after its one pass over the image).
//
// Targets: D of 8192 x 8192 at most 0.5 s; one removal at most 2 x, one measurement at most
// 1.5 x the time on 512 x 512. Times are real time; CPU time is printed beside them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "display/display.h"
#include "display/zoom.h"
#include "numeric/random.h"
#include "photometry/apphot.h"
#include "photometry/psf.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/display_menu.h"
#include "session/photometry_menu.h"
#include "session/remove_submenu.h"
#include "support/frame_generator.h"
#include "support/scripted_session.h"

namespace {

using namespace zelvo;

constexpr int kSmall = 512;
constexpr int kLarge = 8192;
// Two interleaved 5 x 5 grids of stars 80 pixels apart around the centre: the first warms a
// removal visit (fills its cache), the second is timed.
constexpr int kGrid = 5;
constexpr int kSpacing = 80;

double star_x(int side, int grid, int k) { return side / 2 + (k % kGrid - kGrid / 2) * kSpacing + 40 * grid + 0.3; }
double star_y(int side, int /*grid*/, int k) { return side / 2 + (k / kGrid - kGrid / 2) * kSpacing + 0.6; }

// Both grids of stars on the benchmarks' sky.
const Image& field_of(int side) {
  return test_images::cached_star_field(side, [](int n) {
    std::vector<std::pair<double, double>> stars;
    for (int g = 0; g < 2; ++g)
      for (int k = 0; k < kGrid * kGrid; ++k) stars.emplace_back(star_x(n, g, k), star_y(n, g, k));
    return stars;
  });
}

std::filesystem::path list_of(int side, int grid) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zelvo_large_frame_bench_" + std::to_string(side) + "_" + std::to_string(grid) + ".log");
  std::ofstream out(path);
  for (int k = 0; k < kGrid * kGrid; ++k)
    out << " 1 " << star_x(side, grid, k) << " " << star_y(side, grid, k) << " 9.0\n";
  return path;
}

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Milliseconds (real, CPU) per item of each measured kind and size.
struct Times {
  double real = 0.0, cpu = 0.0;
};
std::map<std::string, Times>& results() {
  static std::map<std::string, Times> r;
  return r;
}

// Times `work` (which handles `items` items) over the benchmark's iterations.
template <class Setup, class Work>
void timed(benchmark::State& state, const std::string& key, int items, Setup setup, Work work) {
  double real = 0.0, cpu = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    setup();
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = cpu_seconds();
    work();
    cpu += cpu_seconds() - c0;
    real += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  const double n = static_cast<double>(state.iterations()) * items;
  results()[key] = Times{1000.0 * real / n, 1000.0 * cpu / n};
  state.counters["ms_per_item"] = results()[key].real;
}

void BM_Display(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const Image& im = field_of(side);
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
  const HeaderTexts texts;
  const ImageView view{const_cast<float*>(im.px.data()), side, side};
  timed(
      state, "display/" + std::to_string(side), 1, [&] { out.str(""); },
      [&] {
        DISPLAYIMAGE({view, "BENCH FIELD", "large.fits"}, st, texts, false, con, gfx);
      });
  gfx.close_all();
}
BENCHMARK(BM_Display)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond)->Iterations(3);

// Everything the removal submenu talks to, with its text and files thrown away.
void BM_Removal(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const Image& pristine = field_of(side);
  testing::ScriptedSession desk(pristine, -4242, "bench");
  const ImageView im = desk.image();
  const RemovalFiles warm_files{list_of(side, 0), "/dev/null", "/dev/null"};
  const RemovalFiles files{list_of(side, 1), "/dev/null", "/dev/null"};
  std::optional<RemovalVisit> visit;
  timed(
      state, "removal/" + std::to_string(side), kGrid * kGrid,
      [&] {
        std::memcpy(im.px, pristine.px.data(), im.size() * sizeof(float));
        visit.emplace();
        remove_listed_automatically(desk.s, *visit, warm_files);  // fills the visit's cache
        desk.out.str("");
      },
      [&] { remove_listed_automatically(desk.s, *visit, files); });
  if (desk.out.str().find("nothing removed") != std::string::npos) state.SkipWithError("a removal was refused");
}
BENCHMARK(BM_Removal)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Photometry(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const Image& im = field_of(side);
  const ImageView view{const_cast<float*>(im.px.data()), side, side};
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  ZoomBox zoom;
  PsfRequest req;
  timed(
      state, "photometry/" + std::to_string(side), kGrid * kGrid,
      [&] {
        // What the measuring loop works out once, before the first click.
        TileLevels tiles = central_tile_levels(view);
        const ImageLimits lim = image_limits(tiles);
        req.sky_upper = lim.sky_upper;
        req.saturation = lim.saturation;
        req.rough_sky = lim.rough_sky;
        out.str("");
      },
      [&] {
        for (int k = 0; k < kGrid * kGrid; ++k) {
          const PsfEstimate e =
              GETPSF(view, static_cast<float>(star_x(side, 1, k)), static_cast<float>(star_y(side, 1, k)), req);
          for (const std::string& l : e.notes) con.line(l);
          benchmark::DoNotOptimize(report_apphot(view, e.xcen, e.ycen, ApertureRadii{}, con, nullptr));
        }
      });
}
BENCHMARK(BM_Photometry)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const auto& r = results();
  const auto get = [&](const std::string& k) { return r.count(k) ? r.at(k) : Times{}; };
  std::printf("\n%d x %d against %d x %d:\n", kLarge, kLarge, kSmall, kSmall);
  const Times dl = get("display/8192"), ds = get("display/512");
  if (dl.real > 0)
    std::printf("  D: %.0f ms (CPU %.0f ms; %d x %d: %.1f ms), target at most 500 ms: %s\n", dl.real, dl.cpu, kSmall,
                kSmall, ds.real, dl.real <= 500.0 ? "MET" : "MISSED");
  const auto ratio_line = [&](const char* what, const std::string& kind, double target) {
    const Times l = get(kind + "/8192"), s = get(kind + "/512");
    if (l.real <= 0 || s.real <= 0) return;
    const double ratio = l.real / s.real;
    std::printf("  %s: %.3f ms against %.3f ms, ratio %.2f (target at most %.1f) %s; CPU %.3f / %.3f ms, ratio %.2f\n",
                what, l.real, s.real, ratio, target, ratio <= target ? "MET" : "MISSED", l.cpu, s.cpu, l.cpu / s.cpu);
  };
  ratio_line("one removal", "removal", 2.0);
  ratio_line("one photometry measurement", "photometry", 1.5);
  benchmark::Shutdown();
  return 0;
}
