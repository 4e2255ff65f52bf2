// Loading a 4096 x 4096 float image with command L (READ_FITS_2D_IMAGE, then the pass for
// the smallest and largest pixel) against astropy's getdata + astype(float32) of the same
// file in the same run (Debian's /usr/bin/python3, when astropy can be imported there), a
// bare CFITSIO read of it into a buffer, and the peak memory of one load.
//
// Targets: the load takes at most astropy's time; its peak memory is at most 1.05 x the
// image's bytes + 30 MiB.
#include <benchmark/benchmark.h>
#include <fitsio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "fits/fits_io.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/commands.h"
#include "session/session.h"

namespace {

namespace fs = std::filesystem;
using zelvo::Image;

constexpr int kSide = 4096;
constexpr double kMiB = 1024.0 * 1024.0;

// The test image lives in a temporary folder for the run.
struct TestFile {
  fs::path folder;
  std::string path;
  TestFile() {
    std::string tmpl = (fs::temp_directory_path() / "zelvo-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    folder = tmpl;
    path = (folder / "big.fits").string();
    // A sky of ~1000 with structure and noise-like values, so no compression or
    // constant-data shortcut can apply.
    Image img(kSide, kSide);
    uint32_t state = 12345;
    for (float& v : img.px) {
      state = state * 1664525u + 1013904223u;
      v = 1000.0f + static_cast<float>(state >> 8) * (40.0f / 16777216.0f);
    }
    if (zelvo::WRITE_FITS_2D_IMAGE(path, img.view()).status != 0) throw std::runtime_error("cannot write " + path);
  }
  ~TestFile() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

const TestFile& test_file() {
  static TestFile file;
  return file;
}

// Command L itself on a session whose console answers with the file name. The slot is
// emptied first, as for a first load (refilling a full slot holds the old image until the
// new one has loaded, so that a failed load leaves the slot as it was).
struct CommandLSession {
  std::istringstream in;
  std::ostringstream out;
  zelvo::Console con{in, out};
  zelvo::Graphics gfx{con};  // no device: L draws nothing
  zelvo::Session s{con, gfx};

  bool load(const std::string& path) {
    s.active().image = Image();
    in.clear();
    in.str("'" + path + "'\n");  // quoted: a slash would end an unquoted text item
    out.str("");
    zelvo::command_load(s);
    return s.active().nx() == kSide;
  }
};

// The bare read: open, fits_read_img into a fresh buffer, close. `nullval` -999 does the
// same undefined-pixel check as the reader; 0 switches the check off.
bool bare_read(const std::string& path, std::unique_ptr<float[]>& buf, float nullval) {
  fitsfile* f = nullptr;
  int status = 0;
  fits_open_diskfile(&f, path.c_str(), READONLY, &status);
  long naxes[2] = {0, 0};
  fits_get_img_size(f, 2, naxes, &status);
  const LONGLONG n = static_cast<LONGLONG>(naxes[0]) * naxes[1];
  buf.reset(new float[static_cast<std::size_t>(n)]);
  int anynull = 0;
  fits_read_img(f, TFLOAT, 1, n, nullval != 0.0f ? &nullval : nullptr, buf.get(), &anynull, &status);
  fits_close_file(f, &status);
  return status == 0;
}

void BM_CommandL(benchmark::State& state) {
  const std::string& path = test_file().path;
  CommandLSession cl;
  // Every variant frees its previous image inside the timed loop.
  for (auto _ : state) {
    if (!cl.load(path)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(cl.s.display.state.maxlim);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 4);
}
BENCHMARK(BM_CommandL)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly(true);

// The reader alone, without the rest of command L: where the time of a load goes.
void BM_ReaderAlone(benchmark::State& state) {
  const std::string& path = test_file().path;
  for (auto _ : state) {
    const zelvo::FitsRead r = zelvo::READ_FITS_2D_IMAGE(path);
    if (r.outcome != zelvo::ReadOutcome::loaded) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(r.image.px.data());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 4);
}
BENCHMARK(BM_ReaderAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly(true);

void BM_BareFitsReadImg(benchmark::State& state) {
  const std::string& path = test_file().path;
  const float nullval = state.range(0) != 0 ? -999.0f : 0.0f;
  for (auto _ : state) {
    std::unique_ptr<float[]> buf;
    if (!bare_read(path, buf, nullval)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(buf.get());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 4);
}
// Argument 1: with the undefined-pixel check (-999.0) as the reader; 0: without.
BENCHMARK(BM_BareFitsReadImg)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

// Keeps the median real and CPU time of every benchmark while printing as usual.
class CapturingReporter : public benchmark::ConsoleReporter {
 public:
  struct Times {
    double real = 0, cpu = 0;
  };
  std::map<std::string, Times> ms;  // by function name and argument
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      if (r.error_occurred || r.aggregate_name != "median") continue;
      std::string key = r.run_name.function_name;
      if (!r.run_name.args.empty()) key += "/" + r.run_name.args;
      ms[key] = Times{r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// Median real and CPU milliseconds of astropy's getdata + astype(float32) of `path` over 7
// runs (after one to warm up), or negative numbers when Debian's python3 or its astropy is
// missing.
struct PythonTimes {
  double real = -1.0, cpu = -1.0;
};
PythonTimes astropy_median_ms(const std::string& path) {
  const std::string script =
      "import sys, time\n"
      "try:\n"
      "    import numpy as np\n"
      "    from astropy.io import fits\n"
      "except Exception:\n"
      "    print(-1, -1); sys.exit(0)\n"
      "t = []\n"
      "c = []\n"
      "for i in range(8):\n"
      "    t0 = time.perf_counter(); c0 = time.process_time()\n"
      "    d = fits.getdata(sys.argv[1]).astype(np.float32)\n"
      "    t.append(time.perf_counter() - t0); c.append(time.process_time() - c0)\n"
      "    del d\n"
      "t = sorted(t[1:]); c = sorted(c[1:])\n"
      "print(1000.0 * t[len(t) // 2], 1000.0 * c[len(c) // 2])\n";
  const fs::path py = fs::temp_directory_path() / "zelvo_astropy_load.py";
  std::ofstream(py) << script;
  const std::string cmd = "/usr/bin/python3 " + py.string() + " '" + path + "' 2>/dev/null";
  PythonTimes t;
  if (std::FILE* p = ::popen(cmd.c_str(), "r")) {
    if (std::fscanf(p, "%lf %lf", &t.real, &t.cpu) != 2) t = PythonTimes{};
    ::pclose(p);
  }
  std::error_code ec;
  fs::remove(py, ec);
  return t;
}

long status_kib(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
  return -1;
}

// Peak resident memory added by `work`, in MiB, measured in a child process: the peak
// mark is reset to the current size first, so only what the work adds counts.
template <class Work>
double peak_added_mib(Work work) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    const long before = status_kib("VmRSS:");
    const long hwm_before = status_kib("VmHWM:");
    work();
    const long hwm = status_kib("VmHWM:");
    // Without a reset of the mark (an old kernel) the earlier peak is the floor.
    const double added = (hwm_before > before + 1024 ? hwm - hwm_before : hwm - before) / 1024.0;
    if (write(fds[1], &added, sizeof added) != sizeof added) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  double added = -1;
  if (read(fds[0], &added, sizeof added) != sizeof added) added = -1;
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  return added;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::string& path = test_file().path;

  CapturingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const auto load = reporter.ms["BM_CommandL"];
  const auto bare = reporter.ms["BM_BareFitsReadImg/1"];
  const auto reader = reporter.ms["BM_ReaderAlone"];
  const PythonTimes astropy = astropy_median_ms(path);
  std::printf("\nLoad of a %d x %d BITPIX -32 image with command L (medians of 7 runs):\n", kSide, kSide);
  if (astropy.real < 0) {
    std::printf("  astropy could not be imported by /usr/bin/python3: no comparison (L took %.1f ms)\n", load.real);
  } else if (load.real > 0) {
    const double ratio = load.real / astropy.real;
    std::printf(
        "  time: %.1f ms against %.1f ms for astropy getdata + astype(float32) of the same file:\n"
        "        ratio %.2f (target at most 1.00) %s; CPU time %.1f ms against %.1f ms, ratio %.2f\n",
        load.real, astropy.real, ratio, ratio <= 1.0 ? "MET" : "MISSED", load.cpu, astropy.cpu, load.cpu / astropy.cpu);
  }
  if (reader.real > 0 && bare.real > 0)
    std::printf(
        "        the reader alone: %.1f ms; a bare fits_read_img with the same -999.0\n"
        "        null check %.1f ms (ratio %.2f; CPU time ratio %.2f)\n",
        reader.real, bare.real, reader.real / bare.real, reader.cpu / bare.cpu);

  const double image_mib = double{kSide} * kSide * 4 / kMiB;
  const double target = 1.05 * image_mib + 30.0;
  const double peak = peak_added_mib([&] {
    CommandLSession cl;
    cl.load(path);
  });
  const double peak_bare = peak_added_mib([&] {
    std::unique_ptr<float[]> buf;
    bare_read(path, buf, -999.0f);
  });
  std::printf("  peak memory added by one load: %.1f MiB (image %.1f MiB, target at most %.1f MiB) %s\n", peak,
              image_mib, target, peak >= 0 && peak <= target ? "MET" : "MISSED");
  std::printf("  peak memory added by the bare read: %.1f MiB\n", peak_bare);
  benchmark::Shutdown();
  return 0;
}
