// Repainting the disc with the background model plus noise, and undoing it.
#pragma once

#include <iosfwd>
#include <string>

#include "numeric/image_view.h"
#include "removal/removal_context.h"
#include "removal/removal_work.h"

namespace zelvo {

// WIPEOUT: replaces every disc pixel (TheMask 1.0) by the fitted background surface
// (work.surface, see fit_background) at that pixel plus Gaussian noise of the sky's spread
// about it, drawing two uniform numbers per pixel with x as the outer and y as the inner
// loop (the same seed gives the same pixels). The old values go into TheMask, which becomes
// the undo store; pixels off the disc are not touched. Returns the line reporting the ring
// model's angles; with extlogs 1 writes one line per pixel to `log`. deathrad (> 0) is the
// radius the ring was traced at. Without a fitted surface nothing is painted and the mask
// is cleared.
std::string WIPEOUT(RemovalWork& work, ImageView image, float xcen, float ycen, float deathrad,
                    const RemovalContext& ctx, std::ostream& log);

// UNWIPE: puts back the pixels the last removal replaced (those whose saved value is not
// within 1.0E-6 of zero). The undo store is kept, so a repeated undo does the same again.
// False, with the image untouched, when there is no completed removal on an image of these
// dimensions to undo.
bool UNWIPE(const RemovalWork& work, ImageView image);

}  // namespace zelvo
