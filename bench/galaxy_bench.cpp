// The rotation curve evaluated per offset against the term-by-term loop (the spline called
// for every offset of the square at every test radius), at R = 100 and R = 300 with step 1,
// and a whole flux profile with R = 300 on a 4096 x 4096 image. The speed-ups are printed
// after the table, all from this one run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "display/profile_page.h"
#include "galaxy/profile.h"
#include "galaxy/rotation.h"
#include "galaxy/spline.h"
#include "numeric/fortran.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "rotation_literal.h"
#include "session/galaxy_menu.h"
#include "session/session.h"

using namespace zelvo;

namespace {

// An exponential profile in one-pixel bins out to R, with its spline.
struct Fitted {
  BinnedProfile p;
  std::vector<float> y2;
};
Fitted exponential_profile(int R) {
  Fitted f;
  for (int k = 1; k <= R; ++k) {
    f.p.rprof.push_back(static_cast<float>(k) - 0.5f);
    f.p.prof.push_back(3000.0f * std::exp(-f.p.rprof.back() / (0.2f * static_cast<float>(R))));
  }
  f.y2 = profile_spline(f.p);
  return f;
}

void BM_RotationLiteral(benchmark::State& state) {
  const auto R = static_cast<int>(state.range(0));
  const Fitted f = exponential_profile(R);
  for (auto _ : state) benchmark::DoNotOptimize(literal_forces(f.p, f.y2, static_cast<float>(R), 1.0f));
}

void BM_RotationPerOffset(benchmark::State& state) {
  const auto R = static_cast<int>(state.range(0));
  const Fitted f = exponential_profile(R);
  for (auto _ : state) benchmark::DoNotOptimize(rotation_forces(f.p, f.y2, static_cast<float>(R), 1.0f));
  // The two must agree to the last bit, or the comparison means nothing.
  const auto want = literal_forces(f.p, f.y2, static_cast<float>(R), 1.0f);
  const auto got = rotation_forces(f.p, f.y2, static_cast<float>(R), 1.0f).force;
  if (got != want) state.SkipWithError("per-offset forces differ from the literal loop");
}

// The cost of one force term, which the duration announced before a long rotation curve
// rests on: whole-number steps (direction cosines from a table) and fractional ones
// (computed). Prints nanoseconds per term and the ratio of the measured time to the estimate.
void BM_RotationTermCost(benchmark::State& state) {
  const auto R = static_cast<int>(state.range(0));
  const float step = static_cast<float>(state.range(1)) / 100.0f;
  const Fitted f = exponential_profile(R);
  for (auto _ : state) benchmark::DoNotOptimize(rotation_forces(f.p, f.y2, static_cast<float>(R), step));
  state.counters["terms"] = rotation_terms(static_cast<float>(R), step);
  state.counters["ns_per_term"] =
      benchmark::Counter(rotation_terms(static_cast<float>(R), step) * 1e-9 * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["measured_over_estimate"] =
      benchmark::Counter(rotation_seconds(static_cast<float>(R), step) * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A whole flux profile, R = 300 and step 10, on a 4096 x 4096 disc on a flat sky, drawn on
// the null device, with the log in a scratch file.
void BM_FluxProfile4096(benchmark::State& state) {
  const int n = 4096;
  Image img(n, n);
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x)
      img.at(x, y) =
          1002.5f + 5000.0f * std::exp(-std::hypot(static_cast<float>(x - 2048), static_cast<float>(y - 2048)) / 60.0f);
  const std::string log = (std::filesystem::temp_directory_path() / "zelvo-bench-profile.log").string();
  for (auto _ : state) {
    std::istringstream in("0\n");
    std::ostringstream out;
    Console con(in, out);
    Graphics gfx(con);
    gfx.open("/null");
    Session s(con, gfx);
    std::swap(s.slots.all[0].image, img);  // the frame is lent to the session, not copied
    s.display.state.fglev = 900.0f;
    s.display.state.bglev = 3000.0f;
    const ProfileResult r = THEPROFILE(s, 2048, 2048, 300.0f, 10.0f, 0.3f, 30.0f, ProfileFiles{log, ""});
    std::swap(s.slots.all[0].image, img);
    if (!r.done) state.SkipWithError("the profile was refused");
    benchmark::DoNotOptimize(r.curve.vrot.data());
  }
  std::filesystem::remove(log);
}

BENCHMARK(BM_RotationTermCost)->Args({150, 100})->Args({150, 10})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotationLiteral)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RotationPerOffset)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FluxProfile4096)->Unit(benchmark::kMillisecond)->Iterations(3);

// Collects the real and CPU time per iteration of every run while the console shows the
// table. On a busy machine the CPU times give the fairer ratio, so both are printed.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  struct Times {
    double real, cpu;  // seconds
  };
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (!r.error_occurred) {
        const double unit = benchmark::GetTimeUnitMultiplier(r.time_unit);
        seconds[r.benchmark_name()] = {r.GetAdjustedRealTime() / unit, r.GetAdjustedCPUTime() / unit};
      }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, Times> seconds;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& t = reporter.seconds;
  std::printf("\n");
  for (int R : {100, 300}) {
    const std::string lit = "BM_RotationLiteral/" + std::to_string(R) + "/iterations:1";
    const std::string opt = "BM_RotationPerOffset/" + std::to_string(R);
    if (t.count(lit) && t.count(opt)) {
      const auto& a = t.at(lit);
      const auto& b = t.at(opt);
      std::printf(
          "Rotation curve, R = %d, step 1: literal %.3f s, per offset %.4f s (real time): speed-up %.1f x;"
          " CPU time: speed-up %.1f x\n",
          R, a.real, b.real, a.real / b.real, a.cpu / b.cpu);
    }
  }
  const std::string prof = "BM_FluxProfile4096/iterations:3";
  if (t.count(prof))
    std::printf(
        "Whole flux profile page, R = 300, on 4096 x 4096: %.3f s real time, %.3f s CPU time;"
        " target at most 0.1 s: ratio %.2f (%s)\n",
        t.at(prof).real, t.at(prof).cpu, t.at(prof).real / 0.1, t.at(prof).real <= 0.1 ? "met" : "NOT met");
  benchmark::Shutdown();
  return 0;
}
