#include "galaxy/rotation.h"

#include <algorithm>
#include <cmath>

#include "galaxy/spline.h"
#include "numeric/fortran.h"

namespace zelvo {

int32_t rotation_points(float R, float step) { return INT(R / step + 1.5f); }

namespace {

constexpr double kMaxCachedCosines = 32.0e6;  // two floats each

// cos(atan2(j, x)) for whole-number x, filled on demand. When the test radius is a whole
// number every x = i - rr is one too, and the same direction cosines recur for every test
// radius; they are then computed once instead of once per radius. Both signs of j are kept
// apart, so nothing relies on the symmetry of the library's atan2.
class DirectionCosines {
 public:
  DirectionCosines(int64_t xmin, int64_t xmax) : xmin_(xmin), rows_(static_cast<std::size_t>(xmax - xmin + 1)) {}

  // Values for j = 0 .. n - 1 (pos) and j = 0 .. -(n - 1) (neg) of the row x.
  struct Row {
    std::vector<float> pos, neg;
  };
  const Row& row(int64_t x, std::size_t n) {
    Row& r = rows_[static_cast<std::size_t>(x - xmin_)];
    const float fx = static_cast<float>(x);
    for (std::size_t j = r.pos.size(); j < n; ++j) {
      const float fj = static_cast<float>(j);
      r.pos.push_back(std::cos(std::atan2(fj, fx)));
      r.neg.push_back(std::cos(std::atan2(-fj, fx)));
    }
    return r;
  }

 private:
  int64_t xmin_;
  std::vector<Row> rows_;
};

}  // namespace

double rotation_terms(float R, float step) {
  const int32_t nr = rotation_points(R, step);
  if (nr < 2 || !(step > 0.0f)) return 0.0;
  // Sum over k = 1 .. nr - 1 of pi (k step)^2.
  const double n = nr - 1;
  constexpr double kPiDouble = 3.14159265358979323846;
  return kPiDouble * static_cast<double>(step) * step * n * (n + 1.0) * (2.0 * n + 1.0) / 6.0;
}

double rotation_seconds(float R, float step) {
  // Nanoseconds per term, measured on the development machine (bench/galaxy_bench).
  constexpr double kTableTerm = 4.1e-9, kComputedTerm = 18.0e-9;
  const bool whole = step == std::trunc(step);
  return rotation_terms(R, step) * (whole ? kTableTerm : kComputedTerm);
}

RotationForces rotation_forces(const BinnedProfile& p, std::span<const float> y2, float R, float step,
                               const std::function<void(int32_t, int32_t)>& progress, StopRequest stop) {
  RotationForces f;
  const int32_t nr = rotation_points(R, step);
  if (nr < 1) return f;
  f.rrot.assign(static_cast<std::size_t>(nr), 0.0f);
  f.force.assign(static_cast<std::size_t>(nr), 0.0f);
  if (nr < 2) return f;

  const int64_t M = INT(R + 1.5f);
  const auto W = static_cast<std::size_t>(M + 1);
  // r and the spline at r for |i|, |j| <= M: both depend only on |i| and |j|.
  std::vector<float> rtab(W * W), stab(W * W);
  for (std::size_t a = 0; a < W; ++a)
    for (std::size_t b = 0; b < W; ++b) {
      const float r = std::sqrt(static_cast<float>(static_cast<int64_t>(a * a + b * b)));
      rtab[a * W + b] = r;
      stab[a * W + b] = SPLINT(p.rprof, p.prof, y2, r);
    }

  const float rrmax = static_cast<float>(nr - 1) * step;
  const int64_t xmin = -M - static_cast<int64_t>(std::ceil(std::min(rrmax, 8388608.0f)));
  // Whole numbers stay exact below 2^23; the table is kept to about 256 MB at most.
  const bool whole_radii_possible =
      rrmax < 8388608.0f && static_cast<double>(M - xmin + 1) * static_cast<double>(W) <= kMaxCachedCosines;
  DirectionCosines cosines(whole_radii_possible ? xmin : 0, whole_radii_possible ? M : 0);

  for (int32_t ipro = 2; ipro <= nr; ++ipro) {
    if (stop.requested()) {
      f.stopped = true;
      return f;
    }
    const float rr = static_cast<float>(ipro - 1) * step;
    const bool whole = whole_radii_possible && rr == std::trunc(rr);
    float sum = 0.0f;
    bool any = false;
    for (int64_t i = -M; i <= M; ++i) {
      const auto a = static_cast<std::size_t>(i < 0 ? -i : i);
      const float* rrow = &rtab[a * W];
      // r grows with |j|: the offsets of this column inside rr are |j| < n.
      const auto n =
          static_cast<std::size_t>(std::partition_point(rrow, rrow + W, [rr](float r) { return r < rr; }) - rrow);
      if (n == 0) continue;
      any = true;
      const float* srow = &stab[a * W];
      const float dx = rr - static_cast<float>(i);
      const float dx2 = dx * dx;
      const float xi = static_cast<float>(i) - rr;
      const DirectionCosines::Row* crow = whole ? &cosines.row(static_cast<int64_t>(xi), n) : nullptr;
      const auto jn = static_cast<int64_t>(n) - 1;
      for (int64_t j = -jn; j <= jn; ++j) {
        const auto b = static_cast<std::size_t>(j < 0 ? -j : j);
        const float fj = static_cast<float>(j);
        const float d2 = dx2 + static_cast<float>(j * j);
        const float c = crow ? (j < 0 ? crow->neg[b] : crow->pos[b]) : std::cos(std::atan2(fj, xi));
        sum += c * srow[b] / d2;
      }
    }
    if (any) f.rrot[static_cast<std::size_t>(ipro - 1)] = rr;
    f.force[static_cast<std::size_t>(ipro - 1)] = sum;
    if (progress) progress(ipro, nr);
  }
  return f;
}

RotationCurve rotation_curve(const RotationForces& f) {
  RotationCurve c;
  c.rrot = f.rrot;
  c.vrot = f.force;
  c.logged.assign(c.rrot.size(), false);
  for (std::size_t k = 0; k < c.rrot.size(); ++k) {
    const float product = -c.vrot[k] * c.rrot[k];
    if (product < 0.0f) {
      c.outward.push_back({k, product});
      continue;
    }
    if (k > 0) c.vrot[k] = std::sqrt(product);
    c.vmax = std::max(c.vmax, c.vrot[k]);
    c.logged[k] = true;
  }
  return c;
}

}  // namespace zelvo
