// Radial profiles of a galaxy along elliptical annuli: the request, the pixel scan with its
// one-pixel bins and sky histogram, the sky level, the binned profile and its spline.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "numeric/image_view.h"
#include "numeric/stop_request.h"

namespace zelvo {

enum class ProfileScale { flux, magnitude };

// What the user asks for: centre (pixels, fractions allowed), extent R and step (pixels),
// eccentricity and position angle (degrees as typed; the profile result holds it in radians).
struct ProfileRequest {
  float xc = 0.0f, yc = 0.0f;
  float R = 0.0f, step = 0.0f, e = 0.0f, pa = 0.0f;
};

// Whether a request can work on an nx x ny image, and the one line that says why not.
// Refused: a centre outside the image, an extent or step of 0 or less, an extent beyond
// the image diagonal, a step below 0.01 pixel, an eccentricity outside 0 <= e < 1.
struct ProfileRequestCheck {
  enum class Status { usable, empty_image, centre_outside, extent, step, eccentricity };
  Status status = Status::usable;
  std::string refusal;
  bool usable() const { return status == Status::usable; }
};
ProfileRequestCheck check_profile_request(const ProfileRequest& rq, int nx, int ny);

// Degrees to radians with pi in double precision, stored back as a REAL.
float position_angle_radians(float degrees);

// The elliptical radius of the offset (dx, dy) from the centre: the semi-major axis of the
// ellipse through it. The position angle of the major axis is counted from +x towards +y
// (counter-clockwise on the displayed image), as ELLIP draws it: +x is the major axis for pa = 0.
float elliptical_radius(float dx, float dy, float e, float pa);

// The 360 points of the ellipse ELLIP draws: semi-major axis a at the angle pa (radians)
// counted from +x towards +y, one point per degree.
struct EllipsePath {
  std::vector<float> x, y;
};
EllipsePath ellipse_points(float xc, float yc, float a, float e, float pa);

// The radii of the intermediate ellipses: step, 2 step, ... (INT(R / step) of them), drawn
// only when the step is above 5 pixels.
std::vector<float> ellipse_radii(float R, float step);

// Sky histogram: 1000 bins of 5 counts, bin k (1-based) covering -200 + 5 (k - 1) up to
// -200 + 5 k; its centre rsky(k) = (k - 0.5) * 5 - 200.
inline constexpr int kSkyBins = 1000;
float sky_bin_centre(int k);
// The bin k (1..kSkyBins) holding v, or 0 when v lies outside the histogram (below -200,
// at or above 4800, or not a number); the range is checked before any integer conversion.
int32_t sky_bin_index(float v);

// The pixels of one profile scan.
struct PixelScan {
  std::vector<float> radii, values;   // pixels inside the extent, in scan order (icnt of them)
  float ymin = 1e20f, ymax = -1e20f;  // extremes of the accepted values inside the extent
  std::vector<float> binsum;          // bin k (1-based) at index k - 1: one-pixel bins of radius
  std::vector<int32_t> bincount;
  std::vector<float> skypr;  // flux scale: the sky histogram (kSkyBins counters)
  int32_t iskycnt = 0;       // flux scale: pixels outside the extent
  bool stopped = false;      // the scan was stopped part of the way (incomplete)
  std::size_t icnt() const { return values.size(); }
};

// Scans the pixels within 2 INT(R + 1.5) of the centre along x and y (cut to the image; the
// first and last rows and columns never count). Flux scale takes every defined value, zero
// and negative ones too (a sky near 0 is half negative), leaving out only kUndefinedPixel
// and the blank value -99999.0, and histograms those outside the extent; magnitude scale takes values above -99998.0
// (so the blank value -99999.0 is skipped); NaN and infinite pixels never count. pa in radians. Bins grow with the
// largest radius met, so any extent works. `stop` is polled before each column of the square.
PixelScan scan_profile_pixels(ConstImageView image, float xc, float yc, float R, float e, float pa, ProfileScale scale,
                              StopRequest stop = {});

// The sky level from the histogram: the first highest bin kmax (moved 2 bins inwards at
// either end) and the count-weighted mean of the centres of bins kmax - 2 .. kmax + 2.
// `found` is false, and the sky 0, when no bin holds a pixel.
struct SkyEstimate {
  bool found = false;
  int32_t kmax = 0;    // 1-based peak bin, as found (before moving it inwards)
  float ymax2 = 0.0f;  // peak height
  float sky = 0.0f;
};
SkyEstimate sky_from_histogram(std::span<const float> skypr);

// The binned profile: bin radius k - 0.5 and mean value (after subtracting `sky` from each
// pixel) of every bin with k - 0.5 < R that holds pixels; empty bins are left out. `npix` is
// each bin's pixel count and `err` its spread / sqrt(npix) (NaN for a bin of one pixel).
struct BinnedProfile {
  std::vector<float> rprof, prof;
  std::vector<int32_t> npix;
  std::vector<float> err;
  std::size_t nb() const { return rprof.size(); }
};
BinnedProfile bin_profile(const PixelScan& scan, float sky, float R);

// Whether the profile is still falling at its outer edge: the error-weighted slope of the
// bins in the outer quarter of the extent (at least 4 of them) below -3 times its uncertainty.
// The sky, measured just beyond, may then hold galaxy light.
bool still_falling(const BinnedProfile& p, float R);

// The position angle of the major axis north through east (degrees, 0 to 180), given the
// sky positions (degrees) of the centre and of a point one pixel along the major axis.
double position_angle_north_east(double ra0, double dec0, double ra1, double dec1);

// Second derivatives of the spline through the binned profile, with the end slopes taken
// from the first two and the last two points; empty when there are fewer than two points.
std::vector<float> profile_spline(const BinnedProfile& p);

// The spline sampled every 0.2 pixel from 0: INT(R / 0.2 + 1.5) samples.
struct SplineSamples {
  std::vector<float> x, y;
};
SplineSamples spline_samples(const BinnedProfile& p, std::span<const float> y2, float R);

}  // namespace zelvo
