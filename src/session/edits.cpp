// C (crop), T (rotate), F (reflect) and A (arithmetic): edits of the active slot in memory.
#include "session/edits.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fits/wcs_cards.h"
#include "geometry/image_edits.h"
#include "numeric/pixel_values.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "session/commands.h"
#include "session/edit_history.h"
#include "session/session.h"

namespace zelvo {

namespace {

// The fixed texts of the four commands.
constexpr std::array<std::string_view, 5> kCropIntro = {
    "N.B. This procedure will replace current image in the memory",
    "with the cropped one. The original image file will not be",
    "affected in any way. You have to save the new one manually.",
    "",
    "Click approximately on the centre of cropped image.",
};
constexpr std::array<std::string_view, 2> kCropLimitsPrompt = {
    "Give four values to define the cropped image:",
    "first and last x- and first and last y-value.",
};
constexpr std::array<std::string_view, 2> kRotatePrompt = {
    "Enter your choice (for the active image);",
    "  rotate A=90, B=180, or C=270 degrees clockwise:",
};
constexpr std::array<std::string_view, 2> kReflectPrompt = {
    "Enter your choice (for the active image);",
    "  A = reflect left to right, B = reflect top to bottom:",
};
constexpr std::array<std::string_view, 9> kArithmeticMenu = {
    "Enter the arithmetic operation you want to do (to the image)",
    "+ N      [add N to every pixel of the active image]",
    "- N      [subtract N from every pixel of the active image]",
    "* N      [multiply every pixel of the active image with N]",
    "/ N      [divide every pixel of the active image by N]",
    "iX + iY   [add image Y to image X, apply to active image]",
    "iX - iY   [subtract image Y from image X,    -''-       ]",
    "iX * iY   [multiply image X with image Y,    -''-       ]",
    "iX / iY   [divide image X by image Y,        -''-       ]",
};
constexpr std::string_view kSizeMismatch = "Image dimensions are not identical. Can not proceed...";
constexpr std::string_view kMaximumLead = "The maximum pixel value in the image (slot ";
constexpr std::string_view kMinimumLead = "The minimum pixel value in the image (slot ";

// Refusals of input the commands cannot use; the image and its name stay as they were.
constexpr std::string_view kCropRefused =
    "Crop limits must lie inside the image, first <= last in both axes; image unchanged.";
constexpr std::string_view kFitsNeitherForm =
    "Type an operator and a number (+ 5) or two slots (i1 + i2); image unchanged.";
constexpr std::string_view kBadSlotDigit = "Image slots are numbered 1 to 4; image unchanged.";
constexpr std::string_view kZeroDivisor = "Division by zero is not possible; image unchanged.";
constexpr std::size_t kArithmeticLineLength = 78;

// Lines of a fixed text; an empty one is an empty line, without the leading blank column.
void print_lines(Console& con, std::span<const std::string_view> lines) {
  for (std::string_view l : lines) {
    if (!l.empty())
      con.text(l);
    else
      con.blank();
  }
}

// The fixed-layout report line: 43-character lead, slot digit, ") = ", value with two
// decimals in a field of `width` characters (a value that needs more room widens the field
// instead of being hidden behind asterisks).
std::string extreme_line(std::string_view lead, int slot, float value, int width) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%.*s%1d) = %*.2f", static_cast<int>(lead.size()), lead.data(), slot, width,
                static_cast<double>(value));
  return buf;
}

// The refusal of an edit that needs a second image of this size and cannot get one.
std::string not_enough_memory(const Image& image) {
  return "Not enough memory for a working copy of this " + std::to_string(image.nx) + " x " + std::to_string(image.ny) +
         " image; image unchanged.";
}

bool is_slot_digit(char c) { return c >= '1' && c <= '4'; }

}  // namespace

ArithmeticParse parse_arithmetic_line(std::string_view text) {
  text = text.substr(0, std::min(text.size(), kArithmeticLineLength));
  ArithmeticLine a;
  if (text.size() >= 6 && text[5] == 'i') {
    // Two-slot form, read by column: "i1 + i2".
    if (text.size() < 7) return {std::nullopt, std::string(kFitsNeitherForm)};
    if (!is_slot_digit(text[1]) || !is_slot_digit(text[6])) return {std::nullopt, std::string(kBadSlotDigit)};
    a.two_slot = true;
    a.x = text[1] - '0';
    a.op = text[3];
    a.y = text[6] - '0';
    return {a, ""};
  }
  // Constant form: an operator and a number, both on this line. The operator is taken as
  // the first character of the first item by hand, because "/" would end a list-directed read.
  const std::size_t p = text.find_first_not_of(' ');
  if (p == std::string_view::npos || text[p] == ',') return {std::nullopt, std::string(kFitsNeitherForm)};
  a.op = text[p];
  std::string_view rest = text.substr(std::min(text.size(), text.find_first_of(" ,", p)));
  rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(' ')));
  if (!rest.empty() && rest.front() == ',') rest.remove_prefix(1);
  bool slash = false;
  const auto items = split_list_items(rest, slash);
  if (items.empty() || items[0].null) return {std::nullopt, std::string(kFitsNeitherForm)};
  const auto n = parse_real(items[0].text);
  if (!n) return {std::nullopt, std::string(kFitsNeitherForm)};
  a.constant = *n;
  if (a.op == '/' && a.constant == 0.0f) return {std::nullopt, std::string(kZeroDivisor)};
  return {a, ""};
}

bool known_operator(char op) { return op == '+' || op == '-' || op == '*' || op == '/'; }

float apply_operator(char op, float a, float b) {
  switch (op) {
    case '+': return a + b;
    case '-': return a - b;
    case '*': return a * b;
    case '/': return a / b;
    default: return a;
  }
}

PixelExtremes pixel_extremes(ConstImageView image) {
  PixelExtremes e{NAN, NAN};
  const std::size_t n = image.empty() ? 0 : image.size();
  for (std::size_t i = 0; i < n; ++i) {
    const float p = image.px[i];
    if (!shown_pixel(p)) continue;
    if (std::isnan(e.maximum) || p > e.maximum) e.maximum = p;
    if (std::isnan(e.minimum) || p < e.minimum) e.minimum = p;
  }
  return e;
}

namespace {

// Before pixels move: a WCS in a form the edits cannot carry is made standard, or removed,
// with a line that says so.
void standardise_wcs(Session& s, ImageSlot& a) {
  if (const auto line = standardise_wcs_cards(a.cards, a.nx(), a.ny())) s.con.text(*line);
}

}  // namespace

void command_crop(Session& s) {
  if (refuse_empty_slot(s)) return;
  ImageSlot& a = s.active();
  print_lines(s.con, kCropIntro);

  // The click only shows where the user is; the crop is defined by the typed limits.
  // The read starts at the image centre, which stays the next read's start if this one is cut short.
  s.cursor = CursorMemory{static_cast<float>(a.nx()) / 2.0f, static_cast<float>(a.ny()) / 2.0f};
  const CursorRead c = s.read_cursor_again();
  s.con.record({"You clicked at ", c.x, c.y});

  print_lines(s.con, kCropLimitsPrompt);
  int32_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  s.con.read_list({&x1, &x2, &y1, &y2});
  std::optional<Image> cropped;
  try {
    cropped = crop_image(a.image, Box{x1, x2, y1, y2});
  } catch (const std::bad_alloc&) {
    s.con.text(not_enough_memory(a.image));
    return;
  }
  if (!cropped) {
    s.con.text(kCropRefused);
    return;
  }
  standardise_wcs(s, a);
  note_edit(a, 'C',
            "cropped to x " + std::to_string(x1) + ".." + std::to_string(x2) + ", y " + std::to_string(y1) + ".." +
                std::to_string(y2) + " of the " + std::to_string(a.nx()) + " x " + std::to_string(a.ny()) + " image");
  a.image = std::move(*cropped);
  transform_wcs_cards(a.cards, crop_map(x1, y1));
  mark_modified(a);
}

void command_rotate(Session& s) {
  if (refuse_empty_slot(s)) return;
  s.con.blank();
  print_lines(s.con, kRotatePrompt);
  const char choice = s.con.read_char();
  int turns = 0;
  if (choice == 'A' || choice == 'a') turns = 1;
  if (choice == 'B' || choice == 'b') turns = 2;
  if (choice == 'C' || choice == 'c') turns = 3;
  ImageSlot& a = s.active();
  // One pass into one new image: with too little memory for it the slot is left as it was.
  if (turns > 0) {
    const int nx_before = a.nx();
    const int ny_before = a.ny();
    standardise_wcs(s, a);
    try {
      a.image = rotated_image(a.image, turns);
    } catch (const std::bad_alloc&) {
      s.con.text(not_enough_memory(a.image));
      return;
    }
    // The WCS follows the pixels one quarter turn at a time; the width alternates.
    for (int t = 0; t < turns; ++t) transform_wcs_cards(a.cards, quarter_turn_map(t % 2 == 0 ? nx_before : ny_before));
    note_edit(a, 'T', "rotated " + std::to_string(90 * turns) + " degrees clockwise");
  }
  mark_modified(a);
}

void command_reflect(Session& s) {
  if (refuse_empty_slot(s)) return;
  s.con.blank();
  print_lines(s.con, kReflectPrompt);
  ImageSlot& a = s.active();
  const char choice = s.con.read_char();
  if (choice == 'A' || choice == 'a' || choice == 'B' || choice == 'b') standardise_wcs(s, a);
  try {
    reflect_image(a.image, choice);  // the image changes only once its copy is complete
  } catch (const std::bad_alloc&) {
    s.con.text(not_enough_memory(a.image));
    return;
  }
  if (choice == 'A' || choice == 'a') {
    transform_wcs_cards(a.cards, mirror_x_map(a.nx()));
    note_edit(a, 'F', "reflected left to right");
  }
  if (choice == 'B' || choice == 'b') {
    transform_wcs_cards(a.cards, mirror_y_map(a.ny()));
    note_edit(a, 'F', "reflected top to bottom");
  }
  mark_modified(a);
}

void command_arithmetic(Session& s) {
  if (refuse_empty_slot(s)) return;
  s.con.blank();
  print_lines(s.con, kArithmeticMenu);
  s.con.blank();
  const ArithmeticParse parsed = parse_arithmetic_line(s.con.read_line());
  if (!parsed.line) {
    s.con.text(parsed.refusal);
    return;
  }
  const ArithmeticLine& op = *parsed.line;
  ImageSlot& a = s.active();
  std::vector<float>& out = a.image.px;

  if (op.two_slot) {
    const ImageSlot& x = s.slots.all[static_cast<std::size_t>(op.x - 1)];
    const ImageSlot& y = s.slots.all[static_cast<std::size_t>(op.y - 1)];
    for (int k : {op.x, op.y}) {
      if (s.slots.all[static_cast<std::size_t>(k - 1)].empty()) {
        s.con.text("Image slot " + std::to_string(k) + " is empty; image unchanged.");
        return;
      }
    }
    if (x.nx() != a.nx() || y.nx() != a.nx() || x.ny() != a.ny() || y.ny() != a.ny()) {
      s.con.text(kSizeMismatch);
      return;
    }
    // Element by element, so the active slot may be X or Y itself. A pixel undefined in
    // either image is undefined in the result, and the result is written with such pixels
    // as undefined.
    const bool x_marks = x.origin.type.undefined_as_null, y_marks = y.origin.type.undefined_as_null;
    bool undefined = false;
    // Named before the pixels change: the active slot may be one of the operands.
    const std::string what = "pixels set to " + slot_label(op.x, x) + " " + op.op + " " + slot_label(op.y, y);
    if (known_operator(op.op))
      for (std::size_t i = 0; i < out.size(); ++i) {
        const float xv = x.image.px[i], yv = y.image.px[i];
        if ((x_marks && xv == kUndefinedPixel) || (y_marks && yv == kUndefinedPixel)) {
          out[i] = kUndefinedPixel;
          undefined = true;
        } else {
          out[i] = apply_operator(op.op, xv, yv);
        }
      }
    if (undefined) a.origin.type.undefined_as_null = true;
    if (known_operator(op.op)) note_edit(a, 'A', what);
  } else if (known_operator(op.op)) {
    // Undefined pixels stay undefined: only the defined ones take the operation.
    const bool marks = a.origin.type.undefined_as_null;
    for (float& p : out)
      if (!marks || p != kUndefinedPixel) p = apply_operator(op.op, p, op.constant);
    note_edit(a, 'A', std::string("every pixel ") + op.op + " " + format_real(op.constant));
  }
  mark_modified(a);

  const int width = op.two_slot ? 10 : 8;
  const PixelExtremes e = pixel_extremes(a.view());
  s.con.line(extreme_line(kMaximumLead, s.slots.active_number, e.maximum, width));
  s.con.line(extreme_line(kMinimumLead, s.slots.active_number, e.minimum, width));
}

}  // namespace zelvo
