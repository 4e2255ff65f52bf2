// The dialogues of the colour and calibrated images (G, options 3 and 4): their exposure-time
// answers, refusals and the slots they change.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>

#include "galaxy/colour.h"
#include "platform/console.h"
#include "session/galaxy_menu.h"
#include "session/session.h"
#include "support/scripted_session.h"

using namespace zelvo;
using ::testing::HasSubstr;

namespace {

// Four slots of images and exposure times, and a session answering with the given lines.
struct Slots : zelvo::testing::ScriptedSession {
  std::array<Image, 4> img;
  std::array<float, 4> exptime{1.0f, 1.0f, 1.0f, 1.0f};
  std::string answers;
  explicit Slots(std::string a) : answers(std::move(a)) {}
  // Runs a dialogue on the session with these images and times in its slots and `active`
  // the active slot, then takes them back.
  SlotChanges dialogue(SlotChanges (*run_dialogue)(Session&), int active) {
    for (std::size_t k = 0; k < 4; ++k) {
      std::swap(s.slots.all[k].image, img[k]);
      s.slots.all[k].exptime = exptime[k];
    }
    s.slots.active_number = active;
    SlotChanges changes;
    run([&](Session& session) { changes = run_dialogue(session); }, answers);
    for (std::size_t k = 0; k < 4; ++k) {
      std::swap(s.slots.all[k].image, img[k]);
      exptime[k] = s.slots.all[k].exptime;
    }
    return changes;
  }
};

}  // namespace

TEST(ColourDialogue, BuildsTheColourImageAndDividesBothSlotsInPlace) {
  // B in slot 2, I in slot 3, result into slot 1; the exposure answers 0 (keep 4) and 20.
  Slots s("2 3\n0\n20\n0 0 1 0\n");
  s.img[0] = Image(3, 2, 7.0f);
  s.img[1] = Image(3, 2, 400.0f);
  s.img[2] = Image(3, 2, 20000.0f);
  s.img[1].at(2, 1) = 0.0f;
  s.exptime[1] = 4.0f;
  s.exptime[2] = 2.0f;
  const SlotChanges ch = s.dialogue(colour_image_dialogue, 1);
  EXPECT_EQ(ch.pixels_changed, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(s.exptime[1], 4.0f);
  EXPECT_EQ(s.exptime[2], 20.0f);
  EXPECT_FLOAT_EQ(s.img[1].at(1, 1), 100.0f);
  EXPECT_FLOAT_EQ(s.img[2].at(1, 1), 1000.0f);
  EXPECT_FLOAT_EQ(s.img[0].at(1, 1), 2.5f);
  EXPECT_EQ(s.img[0].at(2, 1), kBlankPixel);
  EXPECT_EQ(s.out.str(),
            " Give the image slot numbers containing B and I images: \n"
            " Change B-band exposure time if needed; current value = 4.0 or give 0 to keep the current value: \n"
            " Change I-band exposure time if needed; current value = 2.0 or give 0 to keep the current value: \n"
            " Give kappa (constant), lambda (airmass coefficient), \n"
            "   my (colour coefficient), and airmass: \n");
}

TEST(ColourDialogue, TheActiveSlotMayBeASourceAndMinusOneIsTakenAsItStands) {
  Slots s("1 2\n-1\n0\n0 0 1 0\n");
  s.img[0] = Image(2, 2, 100.0f);
  s.img[1] = Image(2, 2, 1000.0f);
  s.dialogue(colour_image_dialogue, 2);
  EXPECT_EQ(s.exptime[0], -1.0f);
  // B divided by -1 is negative everywhere: every pixel blank, written over slot 2 (the I image).
  for (float v : s.img[1].px) EXPECT_EQ(v, kBlankPixel);
  for (float v : s.img[0].px) EXPECT_EQ(v, -100.0f);
}

TEST(ColourDialogue, OneSlotGivenAsBothBandsIsDividedOnce) {
  Slots s("2 2\n10\n0\n0 0 1 0\n");
  s.img[0] = Image(2, 2, 0.0f);
  s.img[1] = Image(2, 2, 500.0f);
  const SlotChanges ch = s.dialogue(colour_image_dialogue, 1);
  EXPECT_EQ(ch.pixels_changed, (std::vector<int>{1, 2}));
  EXPECT_THAT(s.out.str(), HasSubstr("I-band exposure time if needed; current value = 10.0 "));
  for (float v : s.img[1].px) EXPECT_EQ(v, 50.0f);
  for (float v : s.img[0].px) EXPECT_EQ(v, 0.0f);
}

namespace {

// Slot 1 (active) and slot 2 hold 4 x 2 images; slot 3 holds one `i_width` wide with the
// exposure time `i_exptime`; slot 4 is empty.
struct Refusal {
  const char* name;
  const char* answers;
  const char* says;
  int i_width;
  float i_exptime;
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

const Refusal kRefusals[] = {
    {"SlotFive", "5 2\n", "numbered 1 to 4", 5, 1.0f},
    {"SlotZero", "0 2\n", "numbered 1 to 4", 5, 1.0f},
    {"EmptySlot", "2 4\n", "slot 4 is empty", 5, 1.0f},
    {"OtherSize", "3 2\n", "not the size of the active image", 5, 1.0f},
    {"ZeroExposure", "2 3\n7\n0\n", "exposure time of 0", 4, 0.0f},
    {"OtherSizeNamed", "3 2\n", "(5 x 2)", 5, 1.0f},
};

}  // namespace

class ColourDialogueRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(ColourDialogueRefuses, InputsThatCannotWorkWithNothingChanged) {
  const Refusal& c = GetParam();
  Slots s(c.answers);
  s.img[0] = Image(4, 2, 1.0f);
  s.img[1] = Image(4, 2, 100.0f);
  s.img[2] = Image(c.i_width, 2, 1000.0f);
  s.exptime[2] = c.i_exptime;
  const auto before = s.img;
  const auto times = s.exptime;
  const SlotChanges ch = s.dialogue(colour_image_dialogue, 1);
  EXPECT_TRUE(ch.pixels_changed.empty());
  EXPECT_THAT(s.out.str(), HasSubstr(c.says));
  EXPECT_THAT(s.out.str(), HasSubstr("nothing done.\n"));
  for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(s.img[k].px, before[k].px);
  EXPECT_EQ(s.exptime, times);
}

INSTANTIATE_TEST_SUITE_P(Inputs, ColourDialogueRefuses, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(ColourDialogue, AnEmptyActiveSlotIsRefused) {
  Slots e("2 3\n");
  e.img[1] = Image(2, 2, 1.0f);
  e.img[2] = Image(2, 2, 1.0f);
  EXPECT_TRUE(e.dialogue(colour_image_dialogue, 1).pixels_changed.empty());
  EXPECT_THAT(e.out.str(), HasSubstr("The active image slot is empty"));
}

TEST(CalibratedDialogue, BuildsTheImageLeavesTheIBandAloneAndAsksInOrder) {
  Slots s("0 0 0\n2 3\n1 0.5\n0\n0\n");
  s.img[0] = Image(2, 1, 0.0f);
  s.img[1] = Image(2, 1, 100.0f);
  s.img[2] = Image(2, 1, 1.0f);
  s.img[2].at(2, 1) = kBlankPixel;
  const SlotChanges ch = s.dialogue(calibrated_image_dialogue, 1);
  EXPECT_EQ(ch.pixels_changed, (std::vector<int>{1}));
  EXPECT_NEAR(s.img[0].at(1, 1), -6.505f, 1e-3f);
  EXPECT_EQ(s.img[0].at(2, 1), kBlankPixel);
  EXPECT_EQ(s.img[1].px, (std::vector<float>{100.0f, 100.0f}));
  EXPECT_EQ(s.out.str(),
            " Give alpha (constant), beta (colour coefficient), \n"
            "  and gamma, (airmass coefficient): \n"
            "  Give image slot for instrumental I-band image \n"
            "  and image slot for corrected (B-I) image: \n"
            " Give airmass and pixel scale (how many arcsec per pixel): \n"
            " Give extra zero-level correction (in magnitudes): \n"
            " Change I-band exposure time if needed; current value = 1.0 or give 0 to keep the current value: \n");
}

TEST(CalibratedDialogue, ZeroExposureAndZeroScaleAreRefused) {
  for (const char* answers : {"0 0 0\n2 3\n1 0\n", "0 0 0\n2 3\n1 1\n0\n0\n"}) {
    Slots s(answers);
    s.img[0] = Image(2, 1, 3.0f);
    s.img[1] = Image(2, 1, 100.0f);
    s.img[2] = Image(2, 1, 1.0f);
    s.exptime[1] = 0.0f;
    EXPECT_TRUE(s.dialogue(calibrated_image_dialogue, 1).pixels_changed.empty());
    EXPECT_THAT(s.out.str(), HasSubstr("nothing done."));
    EXPECT_EQ(s.img[0].px, (std::vector<float>{3.0f, 3.0f}));
  }
}
