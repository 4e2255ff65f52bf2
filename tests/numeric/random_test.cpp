#include "numeric/random.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

namespace zelvo {
namespace {

// First values of the published generator for seed -1, computed once with an independent
// reimplementation (bit patterns of the 32-bit results).
constexpr uint32_t kSeedMinusOne[] = {0x3e669736, 0x3ea6ba16, 0x3f0c1337, 0x3f389c4f,
                                      0x3e577f17, 0x3f609035, 0x3e06b5f7, 0x3ccef4ae};

TEST(Random, SeedMinusOneGivesThePublishedSequence) {
  Random rng;
  int32_t seed = -1;
  for (uint32_t want : kSeedMinusOne) {
    EXPECT_EQ(std::bit_cast<uint32_t>(rng.RAN(seed)), want);
  }
  // The seed is made positive by the first call and left alone afterwards.
  EXPECT_EQ(seed, 2);
}

TEST(Random, SameSeedSameSequenceAndValuesStrictlyInsideTheUnitInterval) {
  Random a, b;
  int32_t sa = -123456, sb = -123456;
  for (int i = 0; i < 10000; ++i) {
    const float va = a.RAN(sa);
    EXPECT_EQ(va, b.RAN(sb));
    ASSERT_GT(va, 0.0f);
    ASSERT_LT(va, 1.0f);
  }
}

TEST(Random, RndScalesToTheInterval) {
  Random rng;
  int32_t seed = -1;
  EXPECT_EQ(rng.RND(seed, 5.0, 5.0), 5.0);
  Random ref;
  int32_t s2 = -1;
  (void)ref.RAN(s2);
  const double u = ref.RAN(s2);
  EXPECT_DOUBLE_EQ(rng.RND(seed, -2.0, 2.0), -2.0 + u * 4.0);
}

}  // namespace
}  // namespace zelvo
