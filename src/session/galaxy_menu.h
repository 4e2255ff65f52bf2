// G: the galaxy submenu, the profile dialogue with its report and log (options 1 and 2) and
// the dialogues of the colour (option 3) and calibrated (option 4) images, all on the
// session's slots; the measuring and the drawing are galaxy/'s.
#pragma once

#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "galaxy/profile.h"
#include "galaxy/rotation.h"
#include "galaxy/sky_boxes.h"
#include "numeric/image_view.h"

namespace zelvo {

// The question for an ellipse's shape, asked by G's profile and by option 4 of R's exclusion
// ellipse alike.
inline constexpr std::array<std::string_view, 2> kEllipsePrompt = {"Give an assumed eccentricity and position angle ",
                                                                   " (in degrees) of semi-major axis: "};

class Console;
class Graphics;
struct Session;

// The texts the tests look for; the rest of the submenu's texts are in galaxy_menu.cpp.
inline constexpr std::string_view kProfileLogName = "ZelvoProfile1.log";
inline constexpr std::string_view kRotationSlow = "Computing the rotation curve. This can be slow...";
// Refusals of requests that cannot work; nothing is drawn, logged or changed.
inline constexpr std::string_view kNoSkyInHistogram =
    "No sky pixel falls into the sky histogram (-200 to 4800); the background level is set to 0.";
inline constexpr std::string_view kTooFewBins =
    "Fewer than two radial bins hold pixels: no spline and no rotation curve can be made.";

// Which slots a dialogue changed (1-based numbers); nothing for a refused request.
struct SlotChanges {
  std::vector<int> pixels_changed;  // the active slot, and the B and I slots of option 3
  // The I-band slot: the result lies on its pixel grid, so it takes that slot's header cards
  // (and with them its world coordinates). 0 for a refused request.
  int header_from = 0;
  std::string history;  // what the active slot's header records of the new image
};

// Option 3: the (B-I) colour image into the active slot; the B and I slots are divided
// in place by their exposure times. Slot numbers outside 1-4, empty slots, sizes other
// than the active slot's and a zero exposure time are refused with one line, nothing
// changed (exposure times included).
SlotChanges colour_image_dialogue(Session& s);

// Option 4: the calibrated I-band image into the active slot, refused like option 3 (and
// for a pixel scale of 0).
SlotChanges calibrated_image_dialogue(Session& s);

// SPLINT's alarm for two equal abscissae as the dialogue shows it: "Bad xa input in splint!"
// and "Hit <ENTER> to continue...", then one line is read.
std::function<void()> splint_alarm(Console& con);

// Where a flux profile appends its tables ("ZelvoProfile1.log" in the working folder unless
// a test says otherwise).
struct ProfileFiles {
  std::string log = std::string(kProfileLogName);
  // The ECSV table of the binned profile; empty: beside the log, "<log stem>.ecsv".
  std::string catalogue;
  std::string catalogue_path() const;
};

// An answer to the sky question: a change of the measured level by a percentage, or the
// level itself.
struct SkyAnswer {
  bool absolute = false;
  float value = 0.0f;
};
// The answer as typed: a number is a percentage, '=' and a number the level itself
// ("=39.2"); none for anything else.
std::optional<SkyAnswer> parse_sky_answer(std::string_view text);

// The image a profile measures and what the page and the tables need of it.
struct ProfileImage {
  ConstImageView image;
  float fglev = 0.0f, bglev = 0.0f;                 // display levels of the image panel
  const std::vector<std::string>* cards = nullptr;  // header cards (for the WCS); none: no WCS
  std::string file;                                 // the image's file name
  // The answer to the sky question when it is not to be asked (a job); none: asked.
  std::optional<SkyAnswer> sky_answer;
};

// What a profile found (for the caller and the tests); `done` is false for a refused request.
struct ProfileResult {
  bool done = false;
  PixelScan scan;
  SkyEstimate histogram;
  SkyBoxes boxes;                       // the sky measured beyond the extent (flux scale)
  float sky_measured = 0.0f;            // the boxes' level, or the histogram's without empty boxes
  float sky = 0.0f;                     // the level used: measured, changed by a percentage, or typed
  float sky_err = NAN;                  // the measured level's uncertainty (NaN: unknown)
  std::string sky_source;               // how the level used was found
  bool falling = false;                 // the profile still falls at its outer edge (flux scale)
  std::optional<float> pa_radians;      // the position angle as the profile used it (not for a refusal)
  std::optional<double> pa_north_east;  // degrees, with a WCS (flux scale)
  BinnedProfile profile;
  std::vector<float> y2;
  SplineSamples samples;
  RotationCurve curve;  // flux scale only
};

// The line announcing a rotation curve of about `seconds` (minutes, hours or days).
std::string rotation_duration_line(double seconds);

// Options 1 (flux scale) and 2 (magnitude scale) of the submenu: asks for the centre, the
// extent and step, the eccentricity and position angle, and runs THEPROFILE or MAGPROFILE.
ProfileResult profile_option(Session& s, ProfileScale scale, const ProfileFiles& files = {});

// THEPROFILE: the flux-scale profile of the active image (drawn with the session's levels
// fglev/bglev), with the sky histogram dialogue, the spline, the rotation curve and the
// profile log. `pa` is in degrees; the result holds it in radians. A request that cannot
// work is refused with one line before anything is drawn or logged.
ProfileResult THEPROFILE(Session& s, float xc, float yc, float R, float step, float e, float pa,
                         const ProfileFiles& files = {});

// The profile of one image, G's flux or magnitude profile as both the dialogue and a job run
// it: pa in degrees.
ProfileResult measure_profile(Console& con, Graphics& gfx, const ProfileImage& in, ProfileScale scale, float xc,
                              float yc, float R, float step, float e, float pa_degrees, const ProfileFiles& files);

// MAGPROFILE: the magnitude-scale profile: no sky, no log, no rotation curve; blank pixels
// (-99999.0) are skipped and the value axis runs downward.
ProfileResult MAGPROFILE(Session& s, float xc, float yc, float R, float step, float e, float pa);

}  // namespace zelvo
