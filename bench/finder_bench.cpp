// The star finder against photutils' DAOStarFinder (same threshold, same FWHM), side by side
// in one run:
//  - quality on a 600 x 600 synthetic spiral galaxy (30 stars from 5 sigma to saturated, 20
//    HII-like knots of sigma 2.5 px on the arms): completeness for stars above 10 sigma, knots
//    listed, other false entries, largest centre error;
//  - speed on a 4096 x 4096 frame of the same kind with 2000 more stars: the finder's time
//    (median of 3 runs; background, detection, measurement and saturated stars included; then
//    also with every star's removal radius) against DAOStarFinder's, timed inside python on
//    data whose background was removed beforehand.
// Times are processor times of the finding (median of 3 runs each), so that other work on the
// machine does not tilt the ratio. DAOStarFinder runs through Debian's /usr/bin/python3;
// without photutils (or with --zelvo-only, for profiling) only the finder's figures are printed.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "photometry/psf.h"
#include "removal/finder.h"
#include "support/frame_generator.h"

using namespace zelvo;
using namespace zelvo::test_images;

namespace {

constexpr float kThreshold = 5.0f;

// Processor time of this process: on a machine shared with other work, wall-clock times of
// two programs run one after the other differ with the load; their processor times do not.
double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Runs DAOStarFinder on a raw float32 image (after photutils' Background2D with a 32-pixel
// mesh and a 3 x 3 filter): prints the median time of three findings, then x y per star
// (photutils counts from 0; 1 is added).
constexpr const char* kScript = R"(
import sys, time, numpy as np
from photutils.detection import DAOStarFinder
from photutils.background import Background2D, MedianBackground
from astropy.stats import SigmaClip
nx, ny, thr, fwhm = int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5])
data = np.fromfile(sys.argv[1], dtype=np.float32).reshape(ny, nx).astype(np.float64)
bkg = Background2D(data, (32, 32), filter_size=(3, 3), sigma_clip=SigmaClip(sigma=3.0), bkg_estimator=MedianBackground())
sub = data - bkg.background
sigma = float(np.median(bkg.background_rms))
finder = DAOStarFinder(threshold=thr * sigma, fwhm=fwhm)
times = []
for run in range(3):
    t0 = time.process_time()
    tab = finder(sub)
    times.append(time.process_time() - t0)
print(sorted(times)[1])  # processor time
if tab is not None:
    for r in tab:
        print(float(r['xcentroid']) + 1.0, float(r['ycentroid']) + 1.0)
)";

struct Dao {
  bool ran = false;
  double seconds = 0.0;
  std::vector<std::pair<float, float>> stars;
};

Dao run_dao(const Image& img, float fwhm) {
  Dao d;
  char dir[] = "/tmp/zelvo-finder-bench-XXXXXX";
  if (!mkdtemp(dir)) return d;
  const std::string data = std::string(dir) + "/frame.f32", script = std::string(dir) + "/dao.py";
  std::ofstream(data, std::ios::binary)
      .write(reinterpret_cast<const char*>(img.px.data()), static_cast<std::streamsize>(img.px.size() * sizeof(float)));
  std::ofstream(script) << kScript;
  const std::string cmd = "/usr/bin/python3 " + script + " " + data + " " + std::to_string(img.nx) + " " +
                          std::to_string(img.ny) + " " + std::to_string(kThreshold) + " " + std::to_string(fwhm) +
                          " 2>/dev/null";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    d.ran = pclose(p) == 0 && !out.empty();
  }
  std::remove(data.c_str());
  std::remove(script.c_str());
  rmdir(dir);
  std::istringstream in(out);
  in >> d.seconds;
  float x, y;
  while (in >> x >> y) d.stars.push_back({x, y});
  return d;
}

FinderRequest request(const KnottyGalaxy& f) {
  FinderRequest req;
  req.threshold = kThreshold;
  req.fwhm = f.fwhm;
  req.saturation = static_cast<float>(saturation_level(f.image.view()));
  req.radius = [](ConstImageView im, float x, float y) {
    const StarRadius r = star_radius(im, x, y);
    return r.found ? r.radius : 0.0f;
  };
  return req;
}

struct Score {
  int bright = 0, found = 0, knots = 0, false_entries = 0;
  float worst = 0.0f;  // largest centre error of the bright unsaturated stars found
};

Score score(const KnottyGalaxy& f, const std::vector<std::pair<float, float>>& listed) {
  Score s;
  const auto nearest = [&](float x, float y, float within) {
    const std::pair<float, float>* best = nullptr;
    for (const auto& p : listed)
      if (std::hypot(p.first - x, p.second - y) < within &&
          (!best || std::hypot(p.first - x, p.second - y) < std::hypot(best->first - x, best->second - y)))
        best = &p;
    return best;
  };
  for (const FrameStar& t : f.stars) {
    if (t.saturated || t.peak < 10.0f * f.noise) continue;
    ++s.bright;
    const float tx = static_cast<float>(t.x), ty = static_cast<float>(t.y);  // the frame's stars lie at floats
    if (const auto* p = nearest(tx, ty, 1.5f)) {
      ++s.found;
      s.worst = std::max(s.worst, std::hypot(p->first - tx, p->second - ty));
    }
  }
  for (const auto& k : f.knots) s.knots += nearest(k.first, k.second, 2.0f) != nullptr;
  for (const auto& p : listed) {
    bool real = false;
    for (const FrameStar& t : f.stars)
      real |= std::hypot(p.first - static_cast<float>(t.x), p.second - static_cast<float>(t.y)) < 4.0f;
    for (const auto& k : f.knots) real |= std::hypot(p.first - k.first, p.second - k.second) < 2.0f;
    s.false_entries += !real;
  }
  return s;
}

void print_score(const char* who, const Score& s, std::size_t listed) {
  std::printf(
      "  %-16s listed %4zu  stars >10 sigma found %2d of %2d (%5.1f %%)  knots listed %2d of 20  "
      "other false %3d  worst centre error %.3f px\n",
      who, listed, s.found, s.bright, 100.0 * s.found / std::max(1, s.bright), s.knots, s.false_entries, s.worst);
}

}  // namespace

int main(int argc, char** argv) {
  // --zelvo-only: the finder's figures alone, without photutils (for profiling).
  const bool zelvo_only = argc > 1 && std::string(argv[1]) == "--zelvo-only";
  std::printf("Star finder against photutils DAOStarFinder (threshold %.0f sigma, FWHM 3 px)\n", kThreshold);
  // Quality.
  const KnottyGalaxy g = knotty_galaxy();
  const FinderResult mine = find_stars(g.image.view(), request(g));
  std::vector<std::pair<float, float>> listed;
  int saturated = 0;
  for (const FoundStar& s : mine.stars) {
    listed.push_back({s.x, s.y});
    saturated += s.type == 2;
  }
  std::printf("Quality, 600 x 600 spiral galaxy, 30 stars (4 saturated), 20 knots:\n");
  print_score("Zelvo", score(g, listed), listed.size());
  std::printf("  %-16s saturated stars typed 2: %d of 4\n", "Zelvo", saturated);
  const Dao dq = zelvo_only ? Dao{} : run_dao(g.image, g.fwhm);
  if (dq.ran)
    print_score("DAOStarFinder", score(g, dq.stars), dq.stars.size());
  else
    std::printf("  DAOStarFinder: not run (no photutils for /usr/bin/python3)\n");

  // Speed.
  const KnottyGalaxy big = knotty_galaxy(4096, 4096, 17, 2000);
  // Finding as DAOStarFinder finds (positions, heights, shapes, types), then the whole list
  // with each star's removal radius (star_radius), which DAOStarFinder does not give.
  FinderRequest req = request(big);
  int32_t candidates = 0;
  const auto time_of = [&](const FinderRequest& rq, std::size_t& found) {
    std::vector<double> times;
    for (int run = 0; run < 3; ++run) {
      const double t0 = cpu_seconds();
      const FinderResult r = find_stars(big.image.view(), rq);
      times.push_back(cpu_seconds() - t0);
      found = r.stars.size();
      candidates = r.candidates;
    }
    std::sort(times.begin(), times.end());
    return times[1];
  };
  std::size_t found = 0, listed_big = 0;
  const double with_radii = time_of(req, listed_big);
  req.radius = nullptr;
  const double finding = time_of(req, found);
  std::printf("Speed, 4096 x 4096 frame with %zu stars (processor time, medians of 3 runs):\n", big.stars.size());
  std::printf("  Zelvo finding           %.3f s, %zu stars listed of %d candidates measured\n", finding, found,
              candidates);
  std::printf("  Zelvo with radii        %.3f s (each star's removal radius where it meets its local background)\n",
              with_radii);
  const Dao ds = zelvo_only ? Dao{} : run_dao(big.image, big.fwhm);
  if (ds.ran) {
    std::printf(
        "  DAOStarFinder           %.3f s (median of 3; finding only, background removed beforehand), %zu stars "
        "listed\n",
        ds.seconds, ds.stars.size());
    std::printf("  Zelvo / DAOStarFinder time ratio: %.3f finding (target at most 0.2), %.3f with the radii\n",
                finding / ds.seconds, with_radii / ds.seconds);
  }
  return 0;
}
