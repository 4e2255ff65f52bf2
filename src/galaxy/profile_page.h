// The profile options of the galaxy submenu: the request dialogue, the four-panel page
// (image with ellipses, sky histogram, pixel values with the binned profile, rotation
// curve) and the profile log.
#pragma once

#include <string>
#include <vector>

#include "galaxy/galaxy_texts.h"
#include "galaxy/profile.h"
#include "galaxy/rotation.h"
#include "numeric/image_view.h"

namespace zelvo {

class Console;
class Graphics;

// Where a profile reports: the command window, the graphics page, and the profile log
// (appended; "ZelvoProfile1.log" in the working folder unless a test says otherwise).
struct ProfileOutput {
  Console& con;
  Graphics& gfx;
  std::string log_path = std::string(kProfileLogName);
};

// What a profile found (for the caller and the tests); `done` is false for a refused request.
struct ProfileResult {
  bool done = false;
  PixelScan scan;
  SkyEstimate histogram;
  float sky = 0.0f;  // after the user's percentage change (flux scale)
  BinnedProfile profile;
  std::vector<float> y2;
  SplineSamples samples;
  RotationCurve curve;  // flux scale only
};

// The line announcing a rotation curve of about `seconds` (minutes, hours or days).
std::string rotation_duration_line(double seconds);

// Asks for the centre, the extent and step, the eccentricity and position angle.
ProfileRequest read_profile_request(Console& con);

// Options 1 (flux scale) and 2 (magnitude scale) of the submenu: asks for the request and
// runs THEPROFILE or MAGPROFILE on `image`.
ProfileResult profile_option(ProfileScale scale, const ImageView& image, float fglev, float bglev,
                             const ProfileOutput& out);

// ELLIP: draws the ellipse of semi-major axis a, eccentricity e, position angle pa (radians)
// around the centre in colour index `colour`, with line width 3.
void ELLIP(Graphics& gfx, int xc, int yc, float a, float e, float pa, int colour);

// THEPROFILE: the flux-scale profile of `image` (drawn with the levels fglev/bglev), with
// the sky histogram dialogue, the spline, the rotation curve and the profile log. `pa`
// arrives in degrees and is converted to radians in place. A request that cannot work is
// refused with one line before anything is drawn or logged.
ProfileResult THEPROFILE(const ImageView& image, int xc, int yc, float fglev, float bglev, float R, float step,
                         float e, float& pa, const ProfileOutput& out);

// MAGPROFILE: the magnitude-scale profile: no sky, no log, no rotation curve; blank pixels
// (-99999.0) are skipped and the value axis runs downward.
ProfileResult MAGPROFILE(const ImageView& image, int xc, int yc, float fglev, float bglev, float R, float step,
                         float e, float& pa, const ProfileOutput& out);

}  // namespace zelvo
