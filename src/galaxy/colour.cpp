#include "galaxy/colour.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "galaxy/galaxy_texts.h"
#include "platform/console.h"
#include "platform/list_io.h"

namespace zelvo {

float colour_pixel(float b, float i, const ColourCoefficients& k) {
  if (!(i > 0.0f && b > 0.0f)) return kBlankPixel;
  const float c = 2.5f * (std::log10(i) - std::log10(b));
  return k.my * c + k.kappa + k.lambda * k.airmass;
}

float calibrated_pixel(float i, float c, float texp, const CalibrationCoefficients& k) {
  if (!(i > 0.0f && c > 0.0f)) return kBlankPixel;
  // A negative exposure time would take the logarithm of a negative rate.
  const float rate = i / (k.scale * k.scale * texp);
  if (!(rate > 0.0f)) return kBlankPixel;
  const float v = -2.5f * std::log10(rate) + k.beta * c + k.gamma * k.airmass + k.alpha + k.dz;
  return std::isfinite(v) ? v : kBlankPixel;
}

void make_colour_image(const ImageView& b, const ImageView& i, const ImageView& out, const ColourCoefficients& k) {
  const std::size_t n = out.size();
  for (std::size_t p = 0; p < n; ++p) out.px[p] = colour_pixel(b.px[p], i.px[p], k);
}

void make_calibrated_image(const ImageView& i, const ImageView& c, float texp, const ImageView& out,
                           const CalibrationCoefficients& k) {
  const std::size_t n = out.size();
  for (std::size_t p = 0; p < n; ++p) out.px[p] = calibrated_pixel(i.px[p], c.px[p], texp, k);
}

void divide_by_exposure(const ImageView& image, float exptime) {
  const std::size_t n = image.size();
  for (std::size_t p = 0; p < n; ++p) image.px[p] /= exptime;
}

namespace {

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

}  // namespace

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

}  // namespace zelvo
