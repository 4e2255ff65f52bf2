// Stars on M51's disc and arms removed from a list, with and without option 5's galaxy model
// under them. Twelve Gaussian stars of known flux are put on the real frame (tests/data/m51.fits)
// at 20 to 150 pixels from the nucleus; the galaxy is fitted with them masked, and each is
// removed by DEATHSTAR (the kernel of options 1, 8 and 9) at a radius of 8 pixels. Printed: the
// mean |bias| of the painted discs against the frame before the stars were added, in units of
// the local noise (from the differences of neighbouring pixels around each disc), with the model
// and without it (target with it: at most 0.4); BIAS_DETAIL=1 in the environment prints each
// star. Then times the removal of the twelve stars either way.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "galaxy/isophote_model.h"
#include "numeric/random.h"
#include "removal/deathstar.h"
#include "removal/removal_context.h"
#include "removal/removal_work.h"
#include "support/twisted_galaxy.h"

using namespace zelvo;
using namespace zelvo::test_images;

namespace {

constexpr double kRadius = 8.0;  // the ring radius typed (deathrad = radius - 1)
constexpr double kNucleusX = 257.9, kNucleusY = 259.0;

Image m51() {
  const FitsRead r = READ_FITS_2D_IMAGE(std::string(ZELVO_SOURCE_DIR) + "/tests/data/m51.fits");
  if (r.image.empty())
    std::printf("m51.fits not read: outcome %d, %s %s\n", static_cast<int>(r.outcome), r.error.text.c_str(),
                r.refusal.c_str());
  return r.image;
}

std::vector<GaussStar> stars() {
  std::vector<GaussStar> s;
  for (int k = 0; k < 12; ++k) {
    const double r = 20.0 + 11.8 * k, t = 2.39996 * k;
    s.push_back({kNucleusX + r * std::cos(t), kNucleusY + r * std::sin(t), 8000.0 + 1500.0 * k, 1.3});
  }
  return s;
}

Image with_stars(const Image& frame, const std::vector<GaussStar>& list) {
  Image im = frame;
  for (const GaussStar& s : list) {
    const double norm = s.flux / (2.0 * 3.141592653589793 * s.sigma * s.sigma);
    for (int y = static_cast<int>(s.y) - 8; y <= static_cast<int>(s.y) + 9; ++y)
      for (int x = static_cast<int>(s.x) - 8; x <= static_cast<int>(s.x) + 9; ++x)
        im.at(x, y) += static_cast<float>(
            norm * std::exp(-((x - s.x) * (x - s.x) + (y - s.y) * (y - s.y)) / (2.0 * s.sigma * s.sigma)));
  }
  return im;
}

// The model of the frame with the stars masked, as option 5 makes it.
Image galaxy_model(const Image& im, const std::vector<GaussStar>& list) {
  std::vector<uint8_t> mask(im.px.size(), 0);
  for (const GaussStar& s : list) mask_circle(mask, im.nx, im.ny, s.x, s.y, kRadius);
  IsophoteRequest req;
  req.start = starting_shape(im.view(), kNucleusX, kNucleusY, 20.0);
  req.maxsma = 250.0;
  req.mask = mask;
  return model_galaxy(im.view(), req).model;
}

// Removes every star; returns the frame afterwards.
Image remove_all(const Image& im, const std::vector<GaussStar>& list, const Image* model) {
  Image out = im;
  RemovalWork work;
  Random rng;
  int32_t seed = -20261208;
  std::ofstream log("/dev/null");
  for (const GaussStar& s : list) {
    RemovalContext ctx{rng, seed, 0, &log};
    if (model) ctx.galaxy_model = model->view();
    const RemovalResult r = DEATHSTAR(work, out.view(), static_cast<float>(s.x), static_cast<float>(s.y),
                                      static_cast<float>(kRadius - 1.0), ctx);
    if (!r.changed()) std::printf("star at (%.1f, %.1f) was not removed\n", s.x, s.y);
  }
  return out;
}

// Mean over the stars of |mean(painted - truth) over the disc| / the local noise.
double mean_bias(const Image& out, const Image& truth, const std::vector<GaussStar>& list) {
  double total = 0.0;
  for (const GaussStar& s : list) {
    double d = 0.0, pairs = 0.0;
    int n = 0, np = 0;
    for (int y = static_cast<int>(s.y) - 16; y <= static_cast<int>(s.y) + 16; ++y)
      for (int x = static_cast<int>(s.x) - 16; x <= static_cast<int>(s.x) + 16; ++x) {
        const double r = std::hypot(x - s.x, y - s.y);
        if (r <= kRadius - 0.5) {
          d += out.at(x, y) - truth.at(x, y);
          ++n;
        } else if (r > kRadius + 1.0 && r <= kRadius + 7.0) {
          const double e = truth.at(x + 1, y) - truth.at(x, y);
          pairs += e * e;
          ++np;
        }
      }
    const double noise = std::sqrt(pairs / np / 2.0);
    if (std::getenv("BIAS_DETAIL"))
      std::printf("    star at %.1f %.1f (r %.0f): bias %+.2f counts, noise %.2f\n", s.x, s.y,
                  std::hypot(s.x - kNucleusX, s.y - kNucleusY), d / n, noise);
    total += std::fabs(d / n) / noise;
  }
  return total / static_cast<double>(list.size());
}

void BM_RemoveStars(benchmark::State& state) {
  static const Image frame = m51();
  static const std::vector<GaussStar> list = stars();
  static const Image im = with_stars(frame, list);
  static const Image model = galaxy_model(im, list);
  for (auto _ : state) benchmark::DoNotOptimize(remove_all(im, list, state.range(0) ? &model : nullptr));
}
BENCHMARK(BM_RemoveStars)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const Image frame = m51();
  if (frame.empty()) {
    std::printf("tests/data/m51.fits cannot be read\n");
    return 1;
  }
  const std::vector<GaussStar> list = stars();
  const Image im = with_stars(frame, list);
  const Image model = galaxy_model(im, list);
  std::printf("M51, %zu stars on the disc and arms removed at radius %.0f:\n", list.size(), kRadius);
  std::printf("  mean |bias| with the galaxy model under them: %.3f sigma of the local noise (target <= 0.4)\n",
              mean_bias(remove_all(im, list, &model), frame, list));
  std::printf("  mean |bias| without it:                      %.3f sigma\n",
              mean_bias(remove_all(im, list, nullptr), frame, list));
  return 0;
}
