// Repainting the disc with the background model plus noise, and undoing it.
#pragma once

#include <iosfwd>
#include <string>

#include "numeric/image_view.h"
#include "removal/removal_context.h"
#include "removal/removal_work.h"

namespace zelvo {

// WIPEOUT: replaces every disc pixel (TheMask 1.0) by the background model at that pixel
// plus uniform noise in [-sqrt(3) TheSigma, +sqrt(3) TheSigma] (standard deviation TheSigma),
// drawing one random number per pixel with x
// as the outer and y as the inner loop. The old values go into TheMask, which becomes the
// undo store. Returns the line reporting the model angles; with extlogs 1 writes one line
// per pixel to `log`. deathrad (> 0) is the radius the ring was traced at.
std::string WIPEOUT(RemovalWork& work, ImageView image, float xcen, float ycen, float deathrad,
                    const RemovalContext& ctx, std::ostream& log);

// UNWIPE: puts back the pixels the last removal replaced (those whose saved value is not
// within 1.0E-6 of zero). The undo store is kept, so a repeated undo does the same again.
// False, with the image untouched, when there is no completed removal on an image of these
// dimensions to undo.
bool UNWIPE(const RemovalWork& work, ImageView image);

}  // namespace zelvo
