// One removal from start to end: ring, mask, background, model, repaint.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "numeric/image_view.h"
#include "removal/removal_context.h"
#include "removal/removal_work.h"

namespace zelvo {

enum class RemovalStatus {
  removed,        // the disc was repainted; UNWIPE can undo it
  no_image,       // empty image
  bad_radius,     // radius not a number in (0, NX + NY]
  outside,        // the disc does not touch the image, or the centre is not a number
  no_edge_ring,   // the edge ring could not be traced (no start pixel, stuck or not closed)
  no_background,  // no ring point with a measurable background
  stopped         // ctx.stop asked to stop (Ctrl-C) before the repaint
};

struct RemovalResult {
  RemovalStatus status = RemovalStatus::removed;
  int32_t mask_size = 0;  // disc pixels repainted
  float radius = 0.0f;    // the radius used: deathrad + 1 (the ring may be traced a hair off it, see notes)
  // The lines the dialogue prints, in order, each as the command window shows it: first the
  // radius and centre, then any failure, and the model angles of a repaint.
  std::vector<std::string> notes;
  bool changed() const { return status == RemovalStatus::removed; }
};

// DEATHSTAR: removes the circular feature centred at (xcen, ycen) pixels. deathrad grows by
// one pixel first (returned as the result's radius) and the ring is traced at that radius.
// Returns the lines it reports as notes and writes its debug lines to ctx.log. On failure
// the image is not touched; the previous undo store survives failures found before the
// disc is masked.
RemovalResult DEATHSTAR(RemovalWork& work, ImageView image, float xcen, float ycen, float deathrad,
                        const RemovalContext& ctx);

}  // namespace zelvo
