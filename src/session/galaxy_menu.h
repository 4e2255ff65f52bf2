// G: the galaxy submenu, its texts and the dialogues of the colour (option 3) and calibrated
// (option 4) images; the pixel arithmetic is galaxy/colour.h's.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "numeric/image_view.h"

namespace zelvo {

class Console;

// The submenu (the lines between the two empty lines).
std::span<const std::string_view> galaxy_menu_lines();

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

}  // namespace zelvo
