#include "numeric/clipped_mean.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zelvo {

namespace {

double median_of(std::vector<float>& v) {
  const auto h = static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), v.begin() + h, v.end());
  double m = v[static_cast<std::size_t>(h)];
  if (v.size() % 2 == 0) m = 0.5 * (m + *std::max_element(v.begin(), v.begin() + h));
  return m;
}

// The sums of one pass: kept values, their count, and their deviations about the centre.
struct PassSums {
  double total = 0.0, sd = 0.0, sd2 = 0.0;
  int32_t n = 0;
};

// One pass over every value: two interleaved sets of sums (halves of the work that do not
// wait on each other), and a kept value chosen without a branch.
PassSums plain_pass(const float* v, std::size_t m, double centre, double lim) {
  double sum0 = 0.0, sum1 = 0.0, sd0 = 0.0, sd1 = 0.0, sq0 = 0.0, sq1 = 0.0;
  int32_t n0 = 0, n1 = 0;
  const auto add = [&](double x, double& s, double& a, double& q, int32_t& c) {
    const double d = x - centre;
    const bool keep = std::fabs(d) <= lim;
    s += keep ? x : 0.0;
    a += keep ? d : 0.0;
    q += keep ? d * d : 0.0;
    c += keep;
  };
  std::size_t k = 0;
  for (; k + 1 < m; k += 2) {
    add(v[k], sum0, sd0, sq0, n0);
    add(v[k + 1], sum1, sd1, sq1, n1);
  }
  if (k < m) add(v[k], sum0, sd0, sq0, n0);
  return PassSums{sum0 + sum1, sd0 + sd1, sq0 + sq1, n0 + n1};
}

// A large set grouped once into buckets of equal width (a counting sort), each with its count
// and its sums about its lower edge: a pass adds the buckets that lie inside its limits whole
// and looks at single values only in the few buckets around each limit. The passes of a set
// whose clipping creeps (a smooth background) then cost little each.
class Buckets {
 public:
  static constexpr int kCount = 4096;
  // False when the values are all equal (one bucket would hold them all).
  bool build(const float* v, std::size_t m) {
    const auto [mn, mx] = std::minmax_element(v, v + m);
    lo_ = *mn;
    width_ = (static_cast<double>(*mx) - lo_) / kCount;
    if (!(width_ > 0.0) || !std::isfinite(width_)) return false;
    std::vector<std::size_t> count(kCount + 1, 0);
    for (std::size_t k = 0; k < m; ++k) ++count[static_cast<std::size_t>(bucket(v[k])) + 1];
    for (int b = 0; b < kCount; ++b) count[static_cast<std::size_t>(b) + 1] += count[static_cast<std::size_t>(b)];
    first_ = count;
    sorted_.resize(m);
    for (std::size_t k = 0; k < m; ++k) sorted_[count[static_cast<std::size_t>(bucket(v[k]))]++] = v[k];
    s1_.assign(kCount, 0.0);
    s2_.assign(kCount, 0.0);
    for (int b = 0; b < kCount; ++b)
      for (std::size_t k = first_[static_cast<std::size_t>(b)]; k < first_[static_cast<std::size_t>(b) + 1]; ++k) {
        const double d = sorted_[k] - edge(b);
        s1_[static_cast<std::size_t>(b)] += d;
        s2_[static_cast<std::size_t>(b)] += d * d;
      }
    return true;
  }

  PassSums pass(double centre, double lim) const {
    PassSums p;
    if (!(lim >= 0.0) || std::isnan(centre)) return p;  // NaN keeps nothing, as the plain pass
    // Buckets ia + 2 .. ib - 2 lie inside the limits whole; those within one of ia and of ib
    // are looked at value by value (a value's bucket may be off by one through rounding);
    // the rest lie outside.
    const int ia = index_of(centre - lim), ib = index_of(centre + lim);
    for (int b = std::max(ia - 1, 0); b <= std::min(ib + 1, kCount - 1); ++b) {
      const auto u = static_cast<std::size_t>(b);
      if (b >= ia + 2 && b <= ib - 2) {
        const auto nb = static_cast<double>(first_[u + 1] - first_[u]);
        const double delta = edge(b) - centre;
        p.total += s1_[u] + nb * edge(b);
        p.sd += s1_[u] + nb * delta;
        p.sd2 += s2_[u] + 2.0 * delta * s1_[u] + nb * delta * delta;
        p.n += static_cast<int32_t>(first_[u + 1] - first_[u]);
        continue;
      }
      for (std::size_t k = first_[u]; k < first_[u + 1]; ++k) {
        const double x = sorted_[k], d = x - centre;
        if (!(std::fabs(d) <= lim)) continue;
        p.total += x;
        p.sd += d;
        p.sd2 += d * d;
        ++p.n;
      }
    }
    return p;
  }

 private:
  double edge(int b) const { return lo_ + b * width_; }
  int bucket(float x) const { return std::min(static_cast<int>((x - lo_) / width_), kCount - 1); }
  // The bucket of a limit, kept within -2 .. kCount + 1 (beyond them every bucket is in or out).
  int index_of(double x) const {
    const double t = std::floor((x - lo_) / width_);
    return static_cast<int>(std::clamp(t, -2.0, static_cast<double>(kCount + 1)));
  }
  double lo_ = 0.0, width_ = 0.0;
  std::vector<std::size_t> first_;  // kCount + 1 offsets into sorted_
  std::vector<float> sorted_;
  std::vector<double> s1_, s2_;  // per bucket: sums of (x - edge) and (x - edge)^2
};

// Sets at least this large are grouped into buckets for the passes.
constexpr std::size_t kBucketedFrom = std::size_t{1} << 16;

}  // namespace

ClippedMean clipped_mean(std::span<const float> values, std::optional<double> start) {
  ClippedMean out;
  // The work buffers are kept from one call to the next (the photometry calls this once per
  // star); a large set gives its memory back at the end.
  thread_local std::vector<float> v, w;
  struct Release {
    ~Release() {
      if (v.capacity() > (std::size_t{1} << 20)) std::vector<float>().swap(v);
      if (w.capacity() > (std::size_t{1} << 20)) std::vector<float>().swap(w);
    }
  } release;
  w.clear();
  if (v.size() < values.size()) v.resize(values.size());
  std::size_t finite = 0;
  for (const float x : values) {
    v[finite] = x;
    finite += std::isfinite(x);
  }
  // v holds `finite` values; it is never shrunk, so it is not filled anew at the next call.
  if (finite == 0) return out;
  // The start and the first spread: the median and the median absolute deviation about the
  // centre, of at most 64 values evenly picked from the set (a start only: the passes below
  // settle on the level of all values, and a sample is as robust to a minority of outliers).
  const std::size_t stride = std::max<std::size_t>(1, finite / 64);
  w.reserve(finite / stride + 1);
  for (std::size_t k = 0; k < finite; k += stride) w.push_back(v[k]);
  const std::size_t h = w.size() / 2;
  double centre = 0.0;
  if (start && std::isfinite(*start)) {
    centre = *start;
  } else {
    centre = median_of(w);
  }
  for (float& x : w) x = static_cast<float>(std::fabs(x - centre));
  std::nth_element(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(h), w.end());
  double spread = 1.4826 * w[h];
  // Each pass keeps the values within 3 sigma of the centre and gives their mean and spread
  // (one pass over the values, deviations taken about the centre for precision); it ends when
  // the kept set is the last pass's (same count and same sum).
  double mean = centre, sigma = 0.0, last_sum = NAN;
  int32_t n = 0, last_n = -1;
  Buckets buckets;
  const bool bucketed = finite >= kBucketedFrom && buckets.build(v.data(), finite);
  for (int pass = 0; pass < 50; ++pass) {
    const double lim = 3.0 * spread;
    const PassSums p = bucketed ? buckets.pass(centre, lim) : plain_pass(v.data(), finite, centre, lim);
    n = p.n;
    const double sd = p.sd, sd2 = p.sd2, total = p.total;
    if (n == 0) return out;  // cannot happen about a median, but a given start may lie far off
    mean = centre + sd / n;
    sigma = n > 1 ? std::sqrt(std::max(0.0, (sd2 - sd * sd / n) / (n - 1))) : 0.0;
    if (n == last_n && total == last_sum) break;
    last_n = n;
    last_sum = total;
    centre = mean;
    spread = sigma;
  }
  out.mean = mean;
  out.sigma = sigma;
  out.n = n;
  out.rejected = static_cast<int32_t>(finite) - n;
  return out;
}

}  // namespace zelvo
