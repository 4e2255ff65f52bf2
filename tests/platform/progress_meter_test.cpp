#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/progress_meter.h"

using namespace zelvo;

namespace {

struct Progress {
  const char* name;
  std::size_t done, total;
  double seconds;
  std::string text;
};
void PrintTo(const Progress& p, std::ostream* os) { *os << p.name; }

class ProgressText : public ::testing::TestWithParam<Progress> {};

// The rate is done / seconds, the time left what remains at that rate.
TEST_P(ProgressText, SaysTheCountTheRateAndTheTimeLeft) {
  const Progress& p = GetParam();
  EXPECT_EQ(progress_text("object", p.done, p.total, p.seconds), p.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressText,
    ::testing::Values(Progress{"NothingDoneYet", 0, 64, 0.0, "object 1 of 64"},
                      Progress{"ThreeASecond", 12, 64, 4.0, "object 13 of 64, 3.0 a second, about 17 s left"},
                      Progress{"FastJob", 50, 100, 2.0, "object 51 of 100, 25 a second, about 2.0 s left"},
                      Progress{"SlowItems", 3, 10, 30.0, "object 4 of 10, 10 s each, about 1 min 10 s left"},
                      Progress{"Hours", 1, 1000, 10.0, "object 2 of 1000, 10 s each, about 2 h 47 min left"},
                      Progress{"AllDone", 64, 64, 20.0, "object 64 of 64, 3.2 a second"}),
    [](const ::testing::TestParamInfo<Progress>& info) { return std::string(info.param.name); });

}  // namespace
