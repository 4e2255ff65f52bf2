// The work state of a feature removal: masks, ring points and background model.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "numeric/box.h"
#include "numeric/image_view.h"

namespace zelvo {

// TheRing: one entry per ring point, in walking order (clockwise with y upwards, starting
// above the centre). x and y are pixel indices stored as whole-number floats; back and
// sigma are the background level and scatter measured there.
struct RingTable {
  std::vector<float> x, y, back, sigma;
  void clear() {
    x.clear();
    y.clear();
    back.clear();
    sigma.clear();
  }
};

// The background painted into a removed disc: a polynomial surface in u = (x - x0) / scale,
// v = (y - y0) / scale (pixel (x, y) centred at (x, y)) fitted to the sky just beyond the
// disc, and the sky's spread about it.
struct BackgroundSurface {
  int32_t order = -1;  // -1 none fitted; 0 a constant, 1 a plane, 2 a quadratic, 3 a cubic
  double x0 = 0.0, y0 = 0.0, scale = 1.0;
  std::array<double, 10> coef{};     // terms 1, u, v, u^2, uv, v^2, u^3, u^2 v, u v^2, v^3
  double spread = 0.0;               // standard deviation of the sky about the surface [counts]
  int32_t samples = 0, kept = 0;     // annulus pixels found, and kept after outlier rejection
  float inner = 0.0f, outer = 0.0f;  // the annulus: centre distances in (inner, outer]
  // The least and the greatest value the surface takes at the kept samples: the painting stays
  // within them, so a curved surface cannot run away across the disc (a half annulus at the
  // image border, the wings of a star larger than the disc).
  double lowest = 0.0, highest = 0.0;

  bool fitted() const { return order >= 0; }
  // Number of terms of a surface of order o.
  static constexpr int terms(int o) { return (o + 1) * (o + 2) / 2; }
  // The surface at pixel (x, y).
  double at(double x, double y) const {
    const double u = (x - x0) / scale, v = (y - y0) / scale;
    const double t[10] = {1.0, u, v, u * u, u * v, v * v, u * u * u, u * u * v, u * v * v, v * v * v};
    double s = 0.0;
    for (int k = 0; k < terms(std::max(order, 0)); ++k) s += coef[static_cast<std::size_t>(k)] * t[k];
    return s;
  }
  // The value painted at pixel (x, y): the surface, held within [lowest, highest].
  double painted(double x, double y) const { return std::clamp(at(x, y), lowest, highest); }
};

// Everything one removal works on, kept between removals: the mask (after a removal, the
// undo store), the scratch array, the ring and its weights, the background model and the
// copies of the image dimensions the arrays were made for.
struct RemovalWork {
  int32_t NX = 0, NY = 0;
  Image TheMask;  // 1.0 on the disc after MASKCIRCLE; the replaced pixel values after WIPEOUT
  Image TheAux;   // scratch for the background sampling

  RingTable TheRing;
  int32_t nRing = 0;
  std::vector<float> RingWeight;  // 1.0 accepted, 0.0 rejected (above 0.5 counts as accepted)

  // Background model of the last removal.
  float TheSigma = 0.0f;
  float MinAngle = 0.0f, MaxAngle = 0.0f;  // radians, azimuth from +y towards +x
  float MinBack = 0.0f, MaxBack = 0.0f;
  // The background that is painted: fitted to the annulus beyond the disc.
  BackgroundSurface surface;

  // TheMask and TheAux are zero outside these boxes; the routines clear and scan only there,
  // so the cost of a removal does not grow with the image.
  Box mask_box;
  Box aux_box;
  // Whether TheMask holds the undo store of a completed removal on an NX x NY image.
  bool undo_ready = false;

  // Zeroes the mask (and so drops any undo store).
  void clear_mask() {
    fill_box(TheMask, mask_box, 0.0f);
    mask_box = Box{};
    undo_ready = false;
  }

  // Makes TheMask and TheAux NX x NY (zero-filled) unless they already have these dimensions.
  // Throws std::bad_alloc when memory is short; both arrays are then empty.
  void prepare(int32_t nx, int32_t ny) {
    if (TheMask.nx != nx || TheMask.ny != ny || TheAux.nx != nx || TheAux.ny != ny) {
      // The old arrays go first and the new ones are made before either is kept, so a lack
      // of memory (std::bad_alloc) leaves no half-made pair behind.
      TheMask = Image();
      TheAux = Image();
      mask_box = Box{};
      aux_box = Box{};
      undo_ready = false;
      Image mask(nx, ny, 0.0f), aux(nx, ny, 0.0f);
      TheMask = std::move(mask);
      TheAux = std::move(aux);
    }
    NX = nx;
    NY = ny;
  }
};

}  // namespace zelvo
