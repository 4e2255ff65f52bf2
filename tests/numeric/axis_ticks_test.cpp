// The tick arithmetic of a plot axis, against intervals worked out by hand.
#include "numeric/axis_ticks.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

struct Interval {
  double at_least, nice;
  int minor;
};

class NiceInterval : public ::testing::TestWithParam<Interval> {};

// 1, 2 or 5 times a power of ten, the smallest not below the request; 2 x 10^k has two minor
// ticks, the others five.
TEST_P(NiceInterval, IsTheSmallestOneTwoFiveStepNotBelowTheRequest) {
  const Interval c = GetParam();
  EXPECT_DOUBLE_EQ(nice_interval(c.at_least), c.nice) << c.at_least;
  EXPECT_EQ(minor_ticks(c.nice), c.minor) << c.nice;
}

INSTANTIATE_TEST_SUITE_P(Steps, NiceInterval,
                         ::testing::Values(Interval{0.3, 0.5, 5}, Interval{1.0, 1.0, 5}, Interval{1.5, 2.0, 2},
                                           Interval{7.0, 10.0, 5}, Interval{0.013, 0.02, 2},
                                           Interval{420.0, 500.0, 5}));

TEST(ReadableInterval, WidensUntilLabelsOfTheGivenWidthKeepApart) {
  // 0..100 on 1000 units, digits 10 units wide: giza's start is nice(0.07 * 100) = 10, ticks
  // 100 units apart; labels 30 wide fit (100 >= 30 + 5), labels 150 wide need 155 and get 20.
  const auto width = [](double w) { return [w](long, double) { return w; }; };
  EXPECT_DOUBLE_EQ(readable_interval(0.0, 100.0, 1000.0, 10.0, width(30.0)), 10.0);
  EXPECT_DOUBLE_EQ(readable_interval(100.0, 0.0, 1000.0, 10.0, width(150.0)), 20.0);
  EXPECT_EQ(readable_interval(5.0, 5.0, 1000.0, 10.0, width(30.0)), 0.0);  // no range: giza chooses
  EXPECT_EQ(minor_ticks(0.0), 0);
}

}  // namespace
}  // namespace zelvo
