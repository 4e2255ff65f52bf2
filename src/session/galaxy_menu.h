// G: the galaxy submenu, its texts, the profile dialogue with its report and log (options 1
// and 2) and the dialogues of the colour (option 3) and calibrated (option 4) images; the
// measuring and the drawing are galaxy/'s.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "galaxy/profile.h"
#include "galaxy/rotation.h"
#include "numeric/image_view.h"

namespace zelvo {

class Console;
class Graphics;

// The submenu (the lines between the two empty lines).
std::span<const std::string_view> galaxy_menu_lines();

// Profile request.
inline constexpr std::string_view kCentrePrompt = "Give the centre of your galaxy (x-pixel, y-pixel): ";
inline constexpr std::string_view kExtentPrompt = "Give the extent (radius) of the profile and stepsize: ";
std::span<const std::string_view> ellipse_prompt_lines();

// Profile run.
inline constexpr std::string_view kProfileLogName = "ZelvoProfile1.log";
inline constexpr std::string_view kProfileLogTitle = "Zelvo Profile ";
inline constexpr std::string_view kSkyTableTitle = "Compute skypr histogram (rsky,skypr)...";
inline constexpr std::string_view kBinTableTitle = "Variable rprof (1-1000)";
inline constexpr std::string_view kSplineFitting = "Fitting a spline curve to the binned radial profile...";
inline constexpr std::string_view kSplinePlotting = "Plotting the spline over the data...";
inline constexpr std::string_view kSplineTableTitle = "Plotting the spline over the data (w,d)...";
inline constexpr std::string_view kBackgroundLead = "Background level set at: ";
std::span<const std::string_view> percentage_prompt_lines();
inline constexpr std::string_view kFinished = "Finished!";
inline constexpr std::string_view kFinishedMagnitude = "Finished with the magnitude profile!";

// Rotation curve.
inline constexpr std::string_view kRotationSlow = "Computing the rotation curve. This can be slow...";
inline constexpr std::string_view kRotationTableTitle = "Compute rotation curve from force law (rrot,vrot)...";
inline constexpr std::string_view kHorrendous = "A horrendous error in computing rotation curve...";
inline constexpr std::string_view kHorrendousProduct = "-vrot(ipro)*rrot(ipro) = ";

// Refusals of requests that cannot work; nothing is drawn, logged or changed.
inline constexpr std::string_view kNoSkyInHistogram =
    "No sky pixel falls into the sky histogram (-200 to 4800); the background level is set to 0.";
inline constexpr std::string_view kTooFewBins =
    "Fewer than two radial bins hold pixels: no spline and no rotation curve can be made.";
// What a profile log that cannot be opened or written means (after the reason).
inline constexpr std::string_view kNoLog = "the tables are not logged";

// Colour and calibrated images.
inline constexpr std::string_view kColourSlotsPrompt = "Give the image slot numbers containing B and I images: ";
std::span<const std::string_view> colour_coefficient_prompt_lines();
std::span<const std::string_view> calibration_coefficient_prompt_lines();
std::span<const std::string_view> calibration_slots_prompt_lines();
inline constexpr std::string_view kAirmassScalePrompt = "Give airmass and pixel scale (how many arcsec per pixel): ";
inline constexpr std::string_view kZeroLevelPrompt = "Give extra zero-level correction (in magnitudes): ";
inline constexpr std::string_view kExposureLeadB = "Change B-band exposure time if needed; current value = ";
inline constexpr std::string_view kExposureLeadI = "Change I-band exposure time if needed; current value = ";
inline constexpr std::string_view kExposureTail = " or give 0 to keep the current value: ";

// What options 3 and 4 see of one image slot: its pixels (empty view for an empty slot)
// and its exposure time, which the dialogue may change.
struct SlotAccess {
  ImageView image;
  float* exptime = nullptr;
};
using SlotTable = std::array<SlotAccess, 4>;

// Which slots a dialogue changed (1-based numbers); nothing for a refused request.
struct SlotChanges {
  std::vector<int> pixels_changed;  // the active slot, and the B and I slots of option 3
  // The I-band slot: the result lies on its pixel grid, so it takes that slot's header cards
  // (and with them its world coordinates). 0 for a refused request.
  int header_from = 0;
};

// Option 3: the (B-I) colour image into the active slot; the B and I slots are divided
// in place by their exposure times. Slot numbers outside 1-4, empty slots, sizes other
// than the active slot's and a zero exposure time are refused with one line, nothing
// changed (exposure times included).
SlotChanges colour_image_dialogue(const SlotTable& slots, int activeslot, Console& con);

// Option 4: the calibrated I-band image into the active slot, refused like option 3 (and
// for a pixel scale of 0).
SlotChanges calibrated_image_dialogue(const SlotTable& slots, int activeslot, Console& con);

// SPLINT's alarm for two equal abscissae as the dialogue shows it: "Bad xa input in splint!"
// and "Hit <ENTER> to continue...", then one line is read.
std::span<const std::string_view> splint_alarm_lines();
std::function<void()> splint_alarm(Console& con);

// Options 1 and 2: the profile request, the page and its report and log.
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
