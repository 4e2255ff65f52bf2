#include "platform/list_io.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/console.h"

using namespace zelvo;

namespace {
struct Scripted {
  std::istringstream in;
  std::ostringstream out;
  Console con;
  explicit Scripted(const std::string& input) : in(input), con(in, out) {}
};
}  // namespace

TEST(ListItems, BlanksCommasQuotesAndSlash) {
  bool slash = false;
  auto items = split_list_items("  12, 3.5  'a b,c/d'  x/y z", slash);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].text, "12");
  EXPECT_EQ(items[1].text, "3.5");
  EXPECT_EQ(items[2].text, "a b,c/d");
  EXPECT_EQ(items[3].text, "x");
  EXPECT_TRUE(slash);

  items = split_list_items("1,,3", slash);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_TRUE(items[1].null);
  EXPECT_FALSE(slash);

  items = split_list_items("'it''s'", slash);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].text, "it's");
}

TEST(ListItems, NumbersAreCheckedStrictly) {
  EXPECT_EQ(parse_integer("42"), 42);
  EXPECT_EQ(parse_integer("-7"), -7);
  EXPECT_FALSE(parse_integer("2.5"));
  EXPECT_FALSE(parse_integer("2147483648"));
  EXPECT_FALSE(parse_integer("abc"));
  EXPECT_EQ(parse_integer("2147483647"), 2147483647);
  EXPECT_FLOAT_EQ(*parse_real("1.5D3"), 1500.0f);
  EXPECT_FLOAT_EQ(*parse_real("1e30"), 1e30f);
  EXPECT_FALSE(parse_real("1e39"));
  EXPECT_FALSE(parse_real("nan"));
  EXPECT_FALSE(parse_real("0x10"));
  EXPECT_FALSE(parse_real(""));
}

TEST(ListRead, ValuesContinueOverLinesAndTheRestOfALineIsDropped) {
  Scripted s("\n10\n20 30 extra\n5\n");
  int32_t a = 0, b = 0, c = 0;
  s.con.read_list({&a, &b, &c});
  EXPECT_EQ(a, 10);
  EXPECT_EQ(b, 20);
  EXPECT_EQ(c, 30);
  EXPECT_EQ(s.con.read_int(), 5);  // the next read starts on a new line
}

TEST(ListRead, ANonNumberIsAskedForAgainWithOneClearLine) {
  Scripted s("abc\n7\n");
  EXPECT_EQ(s.con.read_int(), 7);
  EXPECT_NE(s.out.str().find("Expected a whole number but read 'abc'"), std::string::npos);
}

TEST(ListRead, ASlashEndsTheReadAndLeavesTheRestUnchanged) {
  Scripted s("1.5 /\n");
  float a = 0, b = 9;
  s.con.read_list({&a, &b});
  EXPECT_FLOAT_EQ(a, 1.5f);
  EXPECT_FLOAT_EQ(b, 9.0f);
}

TEST(ListRead, QuotedNamesKeepTheirBlanksAndPlainNamesEndAtABlank) {
  Scripted s("'my image.fits' rest\nm51.fits other\n");
  EXPECT_EQ(s.con.read_text(), "my image.fits");
  EXPECT_EQ(s.con.read_text(), "m51.fits");
}

TEST(ListRead, EndOfInputIsReportedAsAnException) {
  Scripted s("1\n");
  int32_t a = 0, b = 0;
  EXPECT_THROW(s.con.read_list({&a, &b}), EndOfInput);
  EXPECT_EQ(a, 1);
  Scripted t("");
  EXPECT_THROW(t.con.read_char(), EndOfInput);
}

TEST(ListOutput, RecordsHaveALeadingBlankAndOneBlankBetweenItems) {
  EXPECT_EQ(list_record({"nxpix, nypix = ", 512, 256}), " nxpix, nypix = 512 256");
  EXPECT_EQ(list_record({"deathrad = ", 6.0f, ", xcen = ", 50.5f}), " deathrad = 6.0 , xcen = 50.5");
  EXPECT_EQ(format_real(0.1f), "0.1");
  EXPECT_EQ(format_real(52.0f), "52.0");
  EXPECT_EQ(format_real(1.0e30f), "1.0E+30");
  EXPECT_EQ(format_real(197.5956f), "197.5956");
  EXPECT_EQ(format_real(-3.4028235e38f), "-3.402823E+38");
}

TEST(TextFields, PaddingCuttingAndTrimming) {
  EXPECT_EQ(pad_right("abc", 5), "abc  ");
  EXPECT_EQ(pad_right("abcdef", 3), "abc");
  EXPECT_EQ(pad_left("ab", 4), "  ab");
  EXPECT_EQ(STRLEN("ab  "), 2);
  EXPECT_EQ(STRLEN("    "), 0);
  EXPECT_EQ(trim_right("x y  "), "x y");
}

TEST(ListRead, FileNamesKeepTheirSlashes) {
  Scripted s("../data/m51.fits rest\n'/tmp/with blank.fits'\n");
  EXPECT_EQ(s.con.read_file_name(), "../data/m51.fits rest");  // the whole line is the name
  EXPECT_EQ(s.con.read_file_name(), "/tmp/with blank.fits");
  bool slash = false;
  const auto items = split_list_items("a/b c", slash, true);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].text, "a/b");
  EXPECT_FALSE(slash);
}
