#include <gtest/gtest.h>
#include "platform/list_io.h"
TEST(ListItems, Placeholder) { bool s; EXPECT_EQ(zelvo::split_list_items("a b", s).size(), 2u); }
