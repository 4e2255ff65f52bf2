// Inputs the fuzz harnesses of fuzz/ found to break a check, kept as regression tests.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "platform/console.h"
#include "platform/list_io.h"

namespace zelvo {
namespace {

// list_reader_fuzz: an item beginning with a vertical tab or form feed (which the item
// splitter does not treat as a separator) was read as an integer, because strtoll skips
// leading white space, but refused as a real. Both parsers now refuse it alike.
TEST(FoundByFuzzing, WhiteSpaceInsideAnItemIsNoNumberOfEitherKind) {
  for (const char* item : {"\v7", "\f7", "7\v", "\v-2"}) {
    EXPECT_FALSE(parse_integer(item).has_value()) << item;
    EXPECT_FALSE(parse_real(item).has_value()) << item;
  }
  std::istringstream in(" 12 -,\v7\n5\n");
  std::ostringstream out;
  Console con(in, out);
  int32_t a = 0, b = 0;
  con.read_list({&a, &b});
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, 5);  // "-" and the tabbed item were refused and asked for again
  EXPECT_THAT(out.str(), ::testing::HasSubstr("Expected a whole number but read '-'"));
}

}  // namespace
}  // namespace zelvo
