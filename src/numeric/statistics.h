// Mean and spread with clipping, equal-width histograms and the in-place heapsort.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "numeric/image_view.h"

namespace zelvo {

// Mean and spread of a set of values, then one pass of nsig-sigma clipping.
struct AverageSigma {
  float mean = 0.0f;            // mean of all values
  float sigma = 0.0f;           // standard deviation of all values (denominator n - 1)
  float clipped_mean = 0.0f;    // mean of the values kept after clipping
  float clipped_spread = 0.0f;  // spread of the kept values about `mean` (denominator kept - 1)
  float kept_sigma = 0.0f;      // spread of the kept values about `clipped_mean` (denominator kept - 1)
  float rejected = 0.0f;        // number of values rejected, as a float
  int32_t finite = 0;           // values that entered the statistics
  int32_t not_finite = 0;       // NaN and infinite values, left out of everything above
};

// AVERAGESIGMA: sums in 32-bit floats in index order; each squared deviation is formed in
// double precision and added to a 32-bit accumulator. Values strictly beyond
// mean +- nsig * sigma are rejected (values on a limit stay); the limits are not recomputed.
// Degenerate sets give no NaN: an empty set gives all zeros, a single value (or a single
// kept value) gives a spread of 0, and if every value is rejected the clipped mean is the
// full mean with spread 0. NaN and infinite values (undefined pixels) are left out and
// counted in `not_finite`, so one of them cannot turn every statistic into NaN; a set
// without a finite value is an empty set. `values` is not changed. `kept_sigma` is the
// sky noise of the kept values: an outlier that was clipped no longer inflates it, as it
// does `clipped_spread`, which is measured about the mean that still includes it.
AverageSigma AVERAGESIGMA(std::span<const float> values, int32_t nsig);

// HISTOGRAM: counts.size() bins of width `width`, bin 1 starting at `start`. A value goes
// to bin k = INT((v - start) / width + 1), folded to 20 when k >= 20, and is counted only
// when 0 < k < nbins (k = nbins, i.e. the top bin, is never filled). Values whose bin index
// is not finite (zero width, NaN) are not counted, nor are indices beyond the last bin.
void HISTOGRAM(std::span<const float> values, float start, float width, std::span<int32_t> counts);

// sift_down (SORT_HEAP's helper, exposed for its tests): lets arr(l) sink into the heap arr(l .. r) (1-based indices
// into arr). Equal elements are not moved, so the sort is not stable.
void sift_down(std::span<float> arr, int32_t l, int32_t r);

// SORT_HEAP: sorts arr ascending in place (heapsort: build the heap, then pop the maxima).
void SORT_HEAP(std::span<float> arr);

// Largest, smallest and average of the finite pixels (the sum kept in double precision).
struct ImageStatistics {
  float maximum = 0.0f, minimum = 0.0f, average = 0.0f;
  std::size_t finite = 0;  // number of finite pixels
};
ImageStatistics image_statistics(ConstImageView image);

}  // namespace zelvo
