// The removal submenu keeps the image's levels per tile for a visit: after any sequence of
// removals, bar and column removals and undos, picked from a list or with the cursor, the
// sky upper limit, the saturation level, the rough sky and the image's range it gives are
// exactly those of the image as it is.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "display/display.h"
#include "numeric/random.h"
#include "photometry/psf.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/remove_submenu.h"
#include "support/scripted_session.h"
#include "support/session_harness.h"
#include "synthetic_field.h"

namespace zelvo {
namespace {

using testing::ScratchFolder;

std::string xy(double x, double y) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f %.2f", x, y);
  return buf;
}

uint32_t bits(float v) { return std::bit_cast<uint32_t>(v); }

// The visit's cache against a fresh one and against the pixels themselves.
void expect_levels_of_the_image(RemovalVisit& visit, const ImageView& image, const std::string& at) {
  ASSERT_TRUE(visit.levels.has_value()) << at;
  const ImageLimits kept = image_limits(*visit.levels);
  TileLevels fresh_tiles = central_tile_levels(image);
  const ImageLimits fresh = image_limits(fresh_tiles);
  EXPECT_EQ(bits(kept.sky_upper), bits(fresh.sky_upper)) << at;
  EXPECT_EQ(kept.saturation, fresh.saturation) << at;
  EXPECT_EQ(bits(kept.rough_sky), bits(fresh.rough_sky)) << at;
  // The limits as the whole-image routines compute them straight from the pixels.
  EXPECT_EQ(kept.sky_upper, sky_upper_limit(image)) << at;
  EXPECT_EQ(kept.saturation, saturation_level(image)) << at;
  const ImageStatistics st = image_statistics(image);
  EXPECT_EQ(visit.levels->whole().maximum, st.maximum) << at;
  EXPECT_EQ(visit.levels->whole().minimum, st.minimum) << at;
}

TEST(VisitLevels, FollowRandomSequencesOfRemovalsAndUndos) {
  FieldOptions opt;
  opt.nx = opt.ny = 400;
  opt.seed = 5;
  opt.stars = 25;
  SyntheticField f = synthetic_field(opt);
  constexpr int kHotX = 330;
  for (int y = 240; y <= 300; ++y) f.image.at(kHotX, y) = 20000.0f;
  Image im = f.image;
  for (float& v : im.px) v += 100.0f;  // as the submenu's constant level makes it positive

  ScratchFolder dir;
  testing::ScriptedSession desk(std::move(im), -77, "visit.fits");
  const RemovalFiles files{dir.file("ZelvoRep.log"), dir.file("ZelvoRepeat.log"), dir.file("ZelvoDebug.log")};
  RemovalVisit visit;
  std::mt19937 gen(99u);
  const auto pick_star = [&] {
    const FieldStar& s = f.stars[std::uniform_int_distribution<std::size_t>(0, f.stars.size() - 1)(gen)];
    return s;
  };
  for (int step = 0; step < 24; ++step) {
    const int kind = std::uniform_int_distribution<int>(0, 4)(gen);
    std::string script;
    const std::string at = "step " + std::to_string(step) + " kind " + std::to_string(kind);
    if (kind == 0) {  // a list of three objects for option 9: stars, the saturated star, the column
      std::ofstream list(dir.file("ZelvoRep.log"));
      for (int k = 0; k < 3; ++k) {
        const int type = std::uniform_int_distribution<int>(0, 3)(gen);
        const FieldStar s = pick_star();
        if (type == 0) list << " 1 " << s.x << " " << s.y << " 9.0\n";
        if (type == 1) list << " 3 " << s.x << " " << s.y << " 9.0\n";
        if (type == 2) list << " 2 " << f.saturated.x << " " << f.saturated.y << " 20.0\n";
        if (type == 3) list << " 6 " << kHotX << " 270.0 19.0\n";
      }
      list.close();
      remove_listed_automatically(desk.s, visit, files);
    } else {  // one clicked object, kept or undone
      const char* undo = std::uniform_int_distribution<int>(0, 1)(gen) ? "y" : "n";
      int option = 1;
      if (kind == 1 || kind == 2) {
        const FieldStar s = pick_star();
        option = kind == 1 ? 1 : 3;
        script = xy(s.x, s.y) + "\n" + xy(s.x, s.y) + "\n12\n" + undo + "\n";
      } else if (kind == 3) {
        option = 2;
        script = xy(f.saturated.x, f.saturated.y) + "\n" + xy(f.saturated.x, f.saturated.y) + "\n20\n" + undo + "\n";
      } else {
        option = 6;
        script = xy(kHotX, 270) + "\n" + xy(kHotX, 270) + "\ny\n" + undo + "\n";
      }
      desk.answer(script);
      remove_clicked_object(desk.s, visit, option, files);
    }
    expect_levels_of_the_image(visit, desk.image(), at);
    desk.out.str("");
  }
}

}  // namespace
}  // namespace zelvo
