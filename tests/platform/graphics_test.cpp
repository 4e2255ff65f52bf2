// Images that never reach giza at full size.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "display/display.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "session/display_menu.h"
#include "support/isolated_run.h"

using namespace zelvo;

namespace {

// D of an image far larger than the window, with the address space limited to what the
// image and a screen-sized picture need: giza gets only the resampled picture, so the
// display neither crashes nor needs memory of the image's size again.
TEST(DisplayUnderShortMemory, ALargeImageIsDrawnWithoutImageSizedBuffers) {
  zelvo::testing::ScratchFolder dir;
  const auto run = zelvo::testing::run_isolated_call(dir, [] {
    constexpr int kSide = 6000;  // 144 MB of pixels
    Image im(kSide, kSide, 1000.0f);
    for (int j = 1; j <= kSide; j += 97) im.at(kSide / 2, j) = 5000.0f;
    // What is in use now, plus 120 MB: less than one more copy of the image (giza's own
    // buffers would take 4 bytes per pixel again).
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    statm >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (120u << 20);
    rlimit rl{limit, limit};
    setrlimit(RLIMIT_AS, &rl);
    std::istringstream in;
    std::ostringstream out;
    Console con(in, out);
    Graphics gfx(con);
    if (!gfx.open("picture.png/png")) return std::string("no png device");
    DisplayState st;
    st.minlim = -1e30f;
    st.maxlim = 1e30f;
    DISPLAYIMAGE({im.view(), "BIG", "big.fits"}, st, HeaderTexts{}, false, con, gfx);
    gfx.close_all();
    return out.str();
  });
  ASSERT_TRUE(run.ended_well()) << run.verdict() << "\n" << run.err;
  EXPECT_NE(run.out.find("Display levels:"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("memory"), std::string::npos) << run.out;
  EXPECT_TRUE(dir.exists("picture.png"));
}

}  // namespace
