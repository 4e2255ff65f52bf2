#include "galaxy/sky_boxes.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/clipped_mean.h"
#include "numeric/pixel_values.h"

namespace zelvo {

namespace {

// A box needs this share of its pixels beyond the extent to count.
constexpr double kBeyondShare = 0.75;
// The share of the boxes beyond the extent whose median sets the level.
constexpr double kFaintestShare = 0.1;

struct BoxLevel {
  double level = 0.0, sigma = 0.0;
  int32_t n = 0;
};

double median_of(std::vector<double> v) {
  const std::size_t h = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(h), v.end());
  double m = v[h];
  if (v.size() % 2 == 0) m = 0.5 * (m + *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(h)));
  return m;
}

}  // namespace

int32_t sky_box_side(int nx, int ny) { return std::clamp(std::min(nx, ny) / 16, 8, 64); }

SkyBoxes sky_from_boxes(ConstImageView image, float xc, float yc, float R, float e, float pa, StopRequest stop) {
  SkyBoxes out;
  if (image.nx < 3 || image.ny < 3) return out;
  const int32_t b = sky_box_side(image.nx, image.ny);
  out.box = b;
  // At most 32 x 32 pixels of a box are read (every other one in large boxes): its level is
  // then known to a thirty-second of the pixel noise, and a large frame costs no more.
  const int32_t stride = std::max(1, b / 32);
  // rho^2 = u^2 + v^2 / (1 - e^2) with u along the major axis: the elliptical radius of the
  // profile's bins, without an arc tangent per pixel.
  const double c = std::cos(static_cast<double>(pa)), s = std::sin(static_cast<double>(pa));
  const double q = 1.0 / (1.0 - static_cast<double>(e) * e);
  const double R2 = static_cast<double>(R) * R;
  std::vector<BoxLevel> boxes;
  std::vector<float> values;
  for (int32_t y0 = 2; y0 <= image.ny - 1; y0 += b) {
    if (stop.requested()) {
      out.stopped = true;
      return out;
    }
    const int32_t y1 = std::min(y0 + b - 1, image.ny - 1);
    for (int32_t x0 = 2; x0 <= image.nx - 1; x0 += b) {
      const int32_t x1 = std::min(x0 + b - 1, image.nx - 1);
      values.clear();
      for (int32_t y = y0; y <= y1; y += stride)
        for (int32_t x = x0; x <= x1; x += stride) {
          const double dx = x - static_cast<double>(xc), dy = y - static_cast<double>(yc);
          const double u = dx * c + dy * s, v = -dx * s + dy * c;
          const float px = image.at(x, y);
          if (u * u + v * v * q >= R2 && counted_in_flux_profile(px)) values.push_back(px);
        }
      const double area = static_cast<double>((x1 - x0) / stride + 1) * ((y1 - y0) / stride + 1);
      if (static_cast<double>(values.size()) < kBeyondShare * area || values.size() < 8) continue;
      const ClippedMean m = clipped_mean(values);
      if (m.mean && m.n > 1) boxes.push_back({*m.mean, m.sigma, m.n});
    }
  }
  out.beyond = static_cast<int32_t>(boxes.size());
  if (out.beyond < kFewestSkyBoxes) return out;

  std::sort(boxes.begin(), boxes.end(), [](const BoxLevel& a, const BoxLevel& b2) { return a.level < b2.level; });
  const auto faintest = std::max<std::size_t>(kFewestSkyBoxes, std::lround(kFaintestShare * boxes.size()));
  std::vector<double> levels, noise;
  for (std::size_t k = 0; k < faintest; ++k) levels.push_back(boxes[k].level);
  for (const BoxLevel& x : boxes) noise.push_back(x.sigma / std::sqrt(static_cast<double>(x.n)));
  // The median of the faintest tenth: on a frame of sky alone it lies 1.6 box noises below
  // the mean, and the window of at least 3 box noises above it takes nearly all boxes (the
  // mean is then at most 0.2 box noises low); where light rises across the boxes, only the
  // faintest are taken.
  const double box_noise = median_of(noise);
  const double centre = median_of(levels);
  const double reach = std::max(centre - boxes.front().level, 3.0 * box_noise);

  double sum = 0.0, noise2 = 0.0;
  std::vector<double> sigmas;
  std::vector<double> used;
  for (const BoxLevel& x : boxes) {
    if (x.level > centre + reach) break;
    used.push_back(x.level);
    sum += x.level;
    noise2 += x.sigma * x.sigma / x.n;
    sigmas.push_back(x.sigma);
  }
  const auto n = static_cast<double>(used.size());
  const double mean = sum / n;
  double ss = 0.0;
  for (const double l : used) ss += (l - mean) * (l - mean);
  const double scatter = used.size() > 1 ? std::sqrt(ss / (n - 1.0)) : 0.0;
  const double own = std::max(0.0, scatter * scatter - noise2 / n);
  out.found = true;
  out.used = static_cast<int32_t>(used.size());
  out.sky = static_cast<float>(mean);
  out.scatter = static_cast<float>(scatter);
  out.sigma = static_cast<float>(median_of(sigmas));
  out.err = static_cast<float>(std::sqrt(own + scatter * scatter / n));
  return out;
}

}  // namespace zelvo
