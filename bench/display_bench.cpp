// Display of a 4096 x 4096 image (zscale levels, statistics, summary and drawing, no
// dialogue) with each stretch against giza's bare cpggray of the full image, both on giza's
// PNG device, and of an 8192 x 8192 image with each stretch; and the two pictures compared:
// the display resamples the image to the window's pixels before giza sees it, and must still
// show what the full-resolution drawing shows. Prints, at the end of the run, each stretch's
// ratio against the target (at most 0.1 of the bare drawing), the time the 8192 display adds
// to the 4096 one (at most 0.1 s per quadrupling of the pixels) and the mean absolute grey
// difference of the two PNG files (at most 2 of 255).
#include <benchmark/benchmark.h>
#include <cpgplot.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "display/display.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/display_menu.h"

namespace {

using namespace zelvo;

constexpr int kSide = 4096;
constexpr int kLargeSide = 8192;
constexpr Stretch kStretches[] = {Stretch::linear, Stretch::sqrt, Stretch::log, Stretch::asinh};

// Sky of about 1000 with noise and a grid of stars; deterministic.
Image make_field(int side) {
  {
    Image f(side, side);
    std::uint32_t state = 12345u;
    for (int j = 1; j <= side; ++j)
      for (int i = 1; i <= side; ++i) {
        state = state * 1664525u + 1013904223u;
        const float noise = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
        f.at(i, j) = 1000.0f + 0.01f * static_cast<float>(i) + 40.0f * noise;
      }
    for (int sy = 64; sy < side; sy += 256)
      for (int sx = 64; sx < side; sx += 256)
        for (int dy = -6; dy <= 6; ++dy)
          for (int dx = -6; dx <= 6; ++dx)
            f.at(sx + dx, sy + dy) += 20000.0f * std::exp(-static_cast<float>(dx * dx + dy * dy) / 8.0f);
    return f;
  }
}

const Image& field(int side = kSide) {
  static const Image small = make_field(kSide);
  if (side == kSide) return small;
  static const Image large = make_field(kLargeSide);
  return large;
}

std::string scratch(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

// The levels the display takes, low drawn black and high white.
AutoLevels levels() {
  return automatic_levels(ImageView{const_cast<float*>(field().px.data()), kSide, kSide}, -1.0e30f, 1.0e30f);
}

// One display of the field as the program draws it, on the current device of `gfx`.
void display_once(Console& con, Graphics& gfx, const Image& im, LevelMode mode = LevelMode::text,
                  Stretch stretch = Stretch::linear) {
  DisplayState st;
  st.minlim = -1.0e30f;
  st.maxlim = 1.0e30f;
  st.scaling = 'p';  // positive: low black, high white, as cpggray draws
  st.level_mode = mode;
  st.stretch = stretch;
  DISPLAYIMAGE({im.view(), "BENCH FIELD", "field4096.fits"}, st, HeaderTexts{}, false, con, gfx);
}

// The bare full-resolution drawing in the same frame (square pixels, same window).
void bare_once(const AutoLevels& lv) {
  const float tr[6] = {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  cpgeras();
  cpgsvp(0.1f, 0.9f, 0.1f, 0.9f);
  cpgwnad(0.5f, kSide + 0.5f, 0.5f, kSide + 0.5f);
  // giza draws its first level black: low black, high white, as the display draws it.
  cpggray(field().px.data(), kSide, kSide, 1, kSide, 1, kSide, lv.lowlev, lv.highlev, tr);
  cpgbox("BCNST", 0.0f, 0, "BCNST", 0.0f, 0);
}

// Arguments: the side of the image and the stretch (index into kStretches); zscale levels.
void BM_DisplayImage(benchmark::State& state) {
  const Image& im = field(static_cast<int>(state.range(0)));
  const Stretch stretch = kStretches[state.range(1)];
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  Graphics gfx(con);
  if (!gfx.open(scratch("zelvo-bench-display.png") + "/png")) {
    state.SkipWithError("cannot open the PNG device");
    return;
  }
  for (auto _ : state) {
    out.str("");
    display_once(con, gfx, im, LevelMode::zscale, stretch);
  }
  gfx.close_all();
}
BENCHMARK(BM_DisplayImage)
    ->ArgsProduct({{kSide, kLargeSide}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);

void BM_BareCpggray(benchmark::State& state) {
  if (cpgopen((scratch("zelvo-bench-bare.png") + "/png").c_str()) <= 0) {
    state.SkipWithError("cannot open the PNG device");
    return;
  }
  cpgask(0);
  const AutoLevels lv = levels();
  for (auto _ : state) bare_once(lv);
  cpgend();
}
BENCHMARK(BM_BareCpggray)->Unit(benchmark::kMillisecond)->Iterations(8);

// Keeps the mean real and CPU time per iteration of each benchmark for the closing lines.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0)
        times_[r.benchmark_name()] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};  // ms
    ConsoleReporter::ReportRuns(runs);
  }
  std::pair<double, double> time(const std::string& name) const {
    const auto it = times_.find(name);
    return it == times_.end() ? std::pair<double, double>{0.0, 0.0} : it->second;
  }

 private:
  std::map<std::string, std::pair<double, double>> times_;
};

// Greys (0..255, mean of the channels) of a PNG file, decoded by ImageMagick's convert.
std::vector<int> read_greys(const std::string& path, int& w, int& h) {
  std::vector<int> g;
  FILE* f = popen(("convert '" + path + "' -depth 8 ppm:- 2>/dev/null").c_str(), "r");
  if (!f) return g;
  int maxval = 0;
  if (std::fscanf(f, "P6 %d %d %d", &w, &h, &maxval) == 3 && maxval == 255 && w > 0 && h > 0) {
    std::fgetc(f);
    std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
    if (std::fread(rgb.data(), 1, rgb.size(), f) == rgb.size()) {
      g.resize(static_cast<std::size_t>(w) * h);
      for (std::size_t k = 0; k < g.size(); ++k) g[k] = (rgb[3 * k] + rgb[3 * k + 1] + rgb[3 * k + 2]) / 3;
    }
  }
  pclose(f);
  return g;
}

// Draws the display and the bare full-resolution drawing into two PNG files and returns the
// mean absolute grey difference inside the frame, or a negative value when it cannot tell.
double picture_difference() {
  const std::string a = scratch("zelvo-bench-picture-display.png"), b = scratch("zelvo-bench-picture-full.png");
  {
    Image im = field();
    std::istringstream in;
    std::ostringstream out;
    Console con(in, out);
    Graphics gfx(con);
    if (!gfx.open(a + "/png")) return -1.0;
    display_once(con, gfx, im);
    gfx.close_all();
  }
  if (cpgopen((b + "/png").c_str()) <= 0) return -1.0;
  cpgask(0);
  bare_once(levels());
  float x1, x2, y1, y2;
  cpgqvp(3, &x1, &x2, &y1, &y2);  // the frame in device pixels (rows counted upwards)
  cpgend();
  int wa = 0, ha = 0, wb = 0, hb = 0;
  const std::vector<int> ga = read_greys(a, wa, ha), gb = read_greys(b, wb, hb);
  if (ga.empty() || gb.empty() || wa != wb || ha != hb) return -1.0;
  // Inside the frame, two pixels clear of its lines; the label lies outside it.
  double sum = 0.0;
  long n = 0;
  for (int y = static_cast<int>(y1) + 3; y < static_cast<int>(y2) - 3; ++y)
    for (int x = static_cast<int>(x1) + 3; x < static_cast<int>(x2) - 3; ++x) {
      const std::size_t k =
          static_cast<std::size_t>(ha - 1 - y) * static_cast<std::size_t>(wa) + static_cast<std::size_t>(x);
      sum += std::abs(ga[k] - gb[k]);
      ++n;
    }
  std::filesystem::remove(a);
  std::filesystem::remove(b);
  return n > 0 ? sum / static_cast<double>(n) : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto bare = reporter.time("BM_BareCpggray/iterations:8");
  for (int k = 0; k < 4; ++k) {
    const auto name = [&](int side) {
      return "BM_DisplayImage/" + std::to_string(side) + "/" + std::to_string(k) + "/iterations:8";
    };
    const auto display = reporter.time(name(kSide));
    const auto large = reporter.time(name(kLargeSide));
    const std::string stretch_text(stretch_name(kStretches[k]));
    const char* stretch = stretch_text.c_str();
    if (display.first > 0.0 && bare.first > 0.0 && bare.second > 0.0) {
      const double ratio = display.first / bare.first;
      std::printf(
          "4096 x 4096, zscale, %s: DISPLAYIMAGE %.1f ms (CPU %.1f ms), bare cpggray %.1f ms (CPU %.1f ms), "
          "ratio %.3f (CPU %.3f); target at most 0.1 (%s)\n",
          stretch, display.first, display.second, bare.first, bare.second, ratio, display.second / bare.second,
          ratio <= 0.1 ? "met" : "NOT met");
    }
    if (display.first > 0.0 && large.first > 0.0) {
      const double more = (large.first - display.first) / 1000.0;
      std::printf(
          "8192 x 8192, zscale, %s: DISPLAYIMAGE %.1f ms, %.3f s more than 4096 x 4096 (one quadrupling); "
          "target at most 0.1 s (%s)\n",
          stretch, large.first, more, more <= 0.1 ? "met" : "NOT met");
    }
  }
  const double diff = picture_difference();
  if (diff < 0.0)
    std::printf(
        "Picture comparison skipped: the PNG files could not be drawn or decoded (needs ImageMagick convert)\n");
  else
    std::printf(
        "Picture against the full-resolution drawing: mean absolute grey difference %.2f of 255; target at "
        "most 2 (%s)\n",
        diff, diff <= 2.0 ? "met" : "NOT met");
  std::filesystem::remove(scratch("zelvo-bench-display.png"));
  std::filesystem::remove(scratch("zelvo-bench-bare.png"));
  benchmark::Shutdown();
  return 0;
}
