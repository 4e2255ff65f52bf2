// D: the display command and DISPLAYIMAGE's report and level dialogue; the levels and the
// drawing are display/display.cpp's.
#include "session/display_menu.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <string_view>

#include "numeric/statistics.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "platform/list_io.h"
#include "session/commands.h"
#include "session/session.h"

namespace zelvo {

namespace {

constexpr std::array<std::string_view, 3> kGreyQuestion = {
    "Do you want to display images in greyscale (slow but good)",
    "or pseudoscale (fast but looks awful)?",
    "Type in 1 for greyscale or 0 for pseudoscale:",
};
constexpr std::string_view kNotGreyChoice = "You typed something else than 1 or 0;  1 selected.";
constexpr std::string_view kNothingToDisplay = "The image slot is empty; there is nothing to display.";
constexpr std::string_view kMaximumText = "The maximum pixel value in the image = ";
constexpr std::string_view kMinimumText = "The minimum pixel value in the image = ";
constexpr std::string_view kAverageText = "The average of image pixel values = ";
constexpr std::string_view kNoFinitePixels =
    "The image holds no finite pixel values (only NaN or infinite ones); it is not drawn.";
constexpr std::string_view kChangeLevelsQuestion = "Do you want to change display levels (y/n)? ";
constexpr std::string_view kSwitchHint =
    "(Or type zscale or text for the automatic levels, linear, sqrt, log or asinh for the stretch.)";
constexpr std::array<std::string_view, 3> kLevelsPrompt = {
    "Give the new low and high display levels followed by p to display ",
    "values above the high level white (positive) or n to display them ",
    "black (negative); an empty answer keeps the levels shown above: ",
};
constexpr std::array<std::string_view, 3> kLimitsPrompt = {
    "Limits for the automatic levels (zscale, text and the zoomed views): ",
    "their low level is never set below the first, their high level never ",
    "above the second. Give the two, smaller first (empty: keep ",
};
constexpr std::string_view kTypedLevelsHold =
    "These levels hold for every display until you type others, or zscale or text.";
constexpr std::string_view kSillyLimits = "That is silly, you can not give min value equal or ";
constexpr std::string_view kSillyLimitsSet = "greater than max value. Values set at ";

}  // namespace

DisplaySource display_source(ImageSlot& sl) { return DisplaySource{sl.view(), sl.object, sl.name}; }

DisplayChoice switch_display_choice(std::string_view answer, DisplayState& st) {
  std::string word;
  for (char c : trim_right(std::string(answer))) word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t first = word.find_first_not_of(' ');
  word = first == std::string::npos ? std::string() : word.substr(first);
  for (LevelMode m : {LevelMode::text, LevelMode::zscale})
    if (word == level_mode_name(m)) {
      st.level_mode = m;
      return DisplayChoice::level_mode;
    }
  if (const auto s = stretch_from_name(word)) {
    st.stretch = *s;
    return DisplayChoice::stretch;
  }
  return DisplayChoice::none;
}

void DISPLAYIMAGE(const DisplaySource& src, DisplayState& st, const HeaderTexts& texts, bool dialogue, Console& con,
                  Graphics& gfx, bool keep_levels) {
  ConstImageView img = src.image;
  if (img.empty()) {
    con.text(kNothingToDisplay);
    return;
  }

  const auto take_automatic = [&](const AutoLevels& lv) {
    if (lv.negative_variance) con.record({"ERROR: ss2=", lv.s2, " skymean=", lv.s1, " ncnt=", lv.n});
    st.lowlev = lv.lowlev;
    st.highlev = lv.highlev;
  };
  // The statistics the screen path reports also tell zscale how many pixels are finite.
  const ImageStatistics stats = st.printflag == 1 ? ImageStatistics{} : image_statistics(img);
  const AutoLevels lv = display_levels(img, st, stats.finite);
  // Typed levels hold until the user changes them; the automatic ones follow the image.
  if (!st.typed && (!keep_levels || !st.levels_set)) take_automatic(lv);
  set_display_polarity(st);
  st.displaytr = {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  st.levels_set = true;

  if (st.printflag == 1) {
    draw_display_frame(src, false, gfx);
    // The screen path has already said so with the statistics.
    if (!lv.finite) con.text(kNoFinitePixels);
    draw_display_image(src, st, lv.finite, gfx);
    return;
  }

  con.blank();
  if (stats.finite > 0) {
    con.record({kMaximumText, stats.maximum});
    con.record({kMinimumText, stats.minimum});
    con.record({kAverageText, stats.average});
  } else {
    con.text(kNoFinitePixels);
  }
  con.line(summary_line(src.object, src.name, texts));

  for (;;) {
    con.record({"Display levels:  Low = ", st.lowlev, "  High = ", st.highlev,
                st.scaling == 'n' ? "  Scaling: negative" : "  Scaling: positive"});
    gfx.focus();
    draw_display_frame(src, true, gfx);
    draw_display_image(src, st, lv.finite, gfx);
    con.focus_command();
    if (!dialogue) return;

    con.text(kSwitchHint);
    con.text(kChangeLevelsQuestion);
    const std::string answer = con.read_line();
    const DisplayChoice choice = switch_display_choice(answer, st);
    if (choice != DisplayChoice::none) {
      // A new level mode takes its automatic levels at once; a new stretch keeps the levels.
      if (choice == DisplayChoice::level_mode) {
        st.typed = false;
        take_automatic(display_levels(img, st, stats.finite));
      }
      set_display_polarity(st);
      continue;
    }
    if (!answer.empty() && answer[0] == 'n') return;
    for (std::string_view l : kLevelsPrompt) con.text(l);
    if (con.read_list_or_keep({&st.lowlev, &st.highlev, &st.scaling})) {
      st.typed = true;
      con.text(kTypedLevelsHold);
    }
    if (st.scaling == 'N') st.scaling = 'n';
    if (st.scaling == 'P') st.scaling = 'p';
    if (st.scaling != 'n' && st.scaling != 'p') st.scaling = 'n';
    set_display_polarity(st);
    for (std::size_t k = 0; k + 1 < kLimitsPrompt.size(); ++k) con.text(kLimitsPrompt[k]);
    con.text(std::string(kLimitsPrompt.back()) + format_real(st.minlim) + " " + format_real(st.maxlim) + "):");
    if (!con.read_list_or_keep({&st.minlim, &st.maxlim})) continue;
    if (!(st.minlim < st.maxlim)) {
      st.minlim = stats.minimum;
      st.maxlim = stats.maximum;
      con.text(kSillyLimits);
      con.record({kSillyLimitsSet, st.minlim, st.maxlim});
    }
  }
}

void command_display(Session& s) {
  if (refuse_empty_slot(s)) return;
  for (std::string_view l : kGreyQuestion) s.con.text(l);
  int32_t g = s.display.state.greyflag;
  s.con.read_list({&g});
  s.display.state.greyflag = g;
  if (g != 0 && g != 1) {
    s.display.state.greyflag = 1;
    s.con.text(kNotGreyChoice);
  }
  remember_display(s);  // also while the level dialogue waits for its answers
  // D is the display dialogue: the level questions follow the automatic levels.
  constexpr bool kLevelDialogue = true;
  DISPLAYIMAGE(display_source(s.active()), s.display.state, s.active().texts, kLevelDialogue, s.con, s.gfx);
}

void remember_display(Session& s) {
  const int which = s.slots.active_number;
  const ImageSlot& shown = s.active();
  const float* const px = shown.image.view().px;
  const int nx = shown.nx(), ny = shown.ny();
  if (shown.empty()) return s.gfx.set_redraw(nullptr);
  s.gfx.set_redraw([&s, which, px, nx, ny] {
    ImageSlot& sl = s.slots.all[static_cast<std::size_t>(which - 1)];
    // Only the pixels that were shown: a slot loaded, cropped or emptied since is not drawn.
    if (sl.empty() || sl.view().px != px || sl.nx() != nx || sl.ny() != ny || !s.display.state.levels_set) return;
    const DisplaySource src = display_source(sl);
    draw_display_frame(src, true, s.gfx);
    draw_display_image(src, s.display.state, true, s.gfx);
  });
}

}  // namespace zelvo
