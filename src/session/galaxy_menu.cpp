// G: the galaxy submenu. Profiles of the active image, and the colour and calibrated images
// written into the active slot from the other slots.
#include "session/galaxy_menu.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "display/display.h"
#include "galaxy/colour.h"
#include "galaxy/profile_page.h"
#include "platform/console.h"
#include "platform/list_io.h"
#include "session/commands.h"
#include "session/loop.h"
#include "session/session.h"

namespace zelvo {

namespace {

constexpr std::array<std::string_view, 6> kMenu = {
    "What do you want to do? ",
    "  1) Extract the profile of a galaxy (flux scale)",
    "  2) Extract the profile of a galaxy (magnitude scale)",
    "  3) Extract the (B-I) colour of a galaxy ",
    "  4) Calculate the instrumental I-band image ",
    "  0) Return back to the main options ",
};
constexpr std::array<std::string_view, 2> kColourCoefficients = {
    "Give kappa (constant), lambda (airmass coefficient), ", "  my (colour coefficient), and airmass: "};
constexpr std::array<std::string_view, 2> kCalibrationCoefficients = {
    "Give alpha (constant), beta (colour coefficient), ", " and gamma, (airmass coefficient): "};
constexpr std::array<std::string_view, 2> kCalibrationSlots = {" Give image slot for instrumental I-band image ",
                                                               " and image slot for corrected (B-I) image: "};

std::string size_text(const ImageView& v) { return std::to_string(v.nx) + " x " + std::to_string(v.ny); }

// The one-line refusal for a source slot number, or nothing when the slot can be used.
std::optional<std::string> refuse_source(const SlotTable& slots, int activeslot, int k) {
  if (k < 1 || k > 4) return std::string("Image slots are numbered 1 to 4; nothing done.");
  const ImageView& v = slots[static_cast<std::size_t>(k - 1)].image;
  const ImageView& a = slots[static_cast<std::size_t>(activeslot - 1)].image;
  if (v.empty()) return "Image slot " + std::to_string(k) + " is empty; nothing done.";
  if (v.nx != a.nx || v.ny != a.ny)
    return "Image slot " + std::to_string(k) + " (" + size_text(v) + ") is not the size of the active image (" +
           size_text(a) + "); nothing done.";
  return std::nullopt;
}

bool refuse_slots(const SlotTable& slots, int activeslot, std::initializer_list<int> ks, Console& con) {
  if (activeslot < 1 || activeslot > 4 || slots[static_cast<std::size_t>(activeslot - 1)].image.empty()) {
    con.text("The active image slot is empty; nothing done.");
    return true;
  }
  for (int k : ks)
    if (const auto refusal = refuse_source(slots, activeslot, k)) {
      con.text(*refusal);
      return true;
    }
  return false;
}

// The exposure-time question for one band: 0 keeps `current`, anything else replaces it.
// Returns the time to use, or nothing (after one line) when it would be 0.
std::optional<float> ask_exposure(std::string_view lead, float current, Console& con) {
  con.record({std::string(lead), current, std::string(kExposureTail)});
  float answer = 0.0f;
  con.read_list({&answer});
  const float t = answer != 0.0f ? answer : current;
  if (t == 0.0f) {
    con.text("An exposure time of 0 cannot be divided by; nothing done.");
    return std::nullopt;
  }
  return t;
}

ImageView slot_view(const SlotTable& slots, int k) { return slots[static_cast<std::size_t>(k - 1)].image; }
float& slot_exptime(const SlotTable& slots, int k) { return *slots[static_cast<std::size_t>(k - 1)].exptime; }

SlotTable slot_table(Session& s) {
  SlotTable t;
  for (std::size_t k = 0; k < 4; ++k) t[k] = SlotAccess{s.slot[k].view(), &s.slot[k].exptime};
  return t;
}

}  // namespace

std::span<const std::string_view> galaxy_menu_lines() { return kMenu; }
std::span<const std::string_view> colour_coefficient_prompt_lines() { return kColourCoefficients; }
std::span<const std::string_view> calibration_coefficient_prompt_lines() { return kCalibrationCoefficients; }
std::span<const std::string_view> calibration_slots_prompt_lines() { return kCalibrationSlots; }

SlotChanges colour_image_dialogue(const SlotTable& slots, int activeslot, Console& con) {
  SlotChanges changes;
  con.text(kColourSlotsPrompt);
  int32_t bs = 0, is = 0;
  con.read_list({&bs, &is});
  if (refuse_slots(slots, activeslot, {bs, is}, con)) return changes;

  // The answers are kept apart until everything is known to work, so a refusal changes nothing.
  const auto tb = ask_exposure(kExposureLeadB, slot_exptime(slots, bs), con);
  if (!tb) return changes;
  const auto ti = ask_exposure(kExposureLeadI, is == bs ? *tb : slot_exptime(slots, is), con);
  if (!ti) return changes;

  for (auto l : colour_coefficient_prompt_lines()) con.text(l);
  ColourCoefficients k;
  con.read_list({&k.kappa, &k.lambda, &k.my, &k.airmass});

  slot_exptime(slots, bs) = *tb;
  slot_exptime(slots, is) = *ti;
  // Both slots end as count rates; a slot given as both bands is divided once.
  divide_by_exposure(slot_view(slots, bs), slot_exptime(slots, bs));
  if (is != bs) divide_by_exposure(slot_view(slots, is), slot_exptime(slots, is));
  make_colour_image(slot_view(slots, bs), slot_view(slots, is), slot_view(slots, activeslot), k);
  for (int s : {activeslot, bs, is})
    if (std::find(changes.pixels_changed.begin(), changes.pixels_changed.end(), s) == changes.pixels_changed.end())
      changes.pixels_changed.push_back(s);
  changes.header_from = is;
  return changes;
}

SlotChanges calibrated_image_dialogue(const SlotTable& slots, int activeslot, Console& con) {
  SlotChanges changes;
  for (auto l : calibration_coefficient_prompt_lines()) con.text(l);
  CalibrationCoefficients k;
  con.read_list({&k.alpha, &k.beta, &k.gamma});
  for (auto l : calibration_slots_prompt_lines()) con.text(l);
  int32_t is = 0, cs = 0;
  con.read_list({&is, &cs});
  if (refuse_slots(slots, activeslot, {is, cs}, con)) return changes;
  con.text(kAirmassScalePrompt);
  con.read_list({&k.airmass, &k.scale});
  if (k.scale == 0.0f) {
    con.text("A pixel scale of 0 arcsec per pixel is not possible; nothing done.");
    return changes;
  }
  con.text(kZeroLevelPrompt);
  con.read_list({&k.dz});
  const auto ti = ask_exposure(kExposureLeadI, slot_exptime(slots, is), con);
  if (!ti) return changes;

  slot_exptime(slots, is) = *ti;
  make_calibrated_image(slot_view(slots, is), slot_view(slots, cs), *ti, slot_view(slots, activeslot), k);
  changes.pixels_changed = {activeslot};
  changes.header_from = is;
  return changes;
}

void command_galaxy(Session& s) {
  s.con.blank();
  for (auto l : galaxy_menu_lines()) s.con.text(l);
  s.con.blank();
  int32_t choice = 0;
  s.con.read_list({&choice});
  if (choice < 1 || choice > 4) return;
  // A refusal is followed by a pause, so its line can be read before the menu comes back.
  if (refuse_empty_slot(s)) {
    pause(s);
    return;
  }

  if (choice == 1 || choice == 2) {
    ensure_display_levels(s.active().view(), s.disp);
    const ProfileResult r = profile_option(choice == 1 ? ProfileScale::flux : ProfileScale::magnitude,
                                           s.active().view(), s.disp.fglev, s.disp.bglev, ProfileOutput{s.con, s.gfx});
    if (!r.done) pause(s);
    return;
  }

  const SlotChanges changes = choice == 3 ? colour_image_dialogue(slot_table(s), s.activeslot, s.con)
                                          : calibrated_image_dialogue(slot_table(s), s.activeslot, s.con);
  if (changes.pixels_changed.empty()) {
    pause(s);
    return;
  }
  for (int k : changes.pixels_changed) mark_modified(s.slot[static_cast<std::size_t>(k - 1)]);
  if (changes.header_from != s.activeslot)
    s.active().cards = s.slot[static_cast<std::size_t>(changes.header_from - 1)].cards;
}

}  // namespace zelvo
