// Object lists: line count, the four-number lines, and lists that cannot be used.
#include "removal/object_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using namespace zelvo;

TEST(ObjectList, ReadsFourNumbersPerLineAndSkipsBlankLines) {
  const std::string text = " 1 120.5 88.25 9.0\n\n   \n2,300,41.0,20.0\n 6 12 400 19.0\n";
  EXPECT_EQ(LINENOS(text), 3);
  const ObjectList list = parse_object_list(text);
  EXPECT_EQ(list.bad_line, 0);
  ASSERT_EQ(list.objects.size(), 3u);
  const ListedObject& a = list.objects[0];
  EXPECT_EQ(a.line, 1);
  EXPECT_EQ(a.type, 1);
  EXPECT_FLOAT_EQ(a.x, 120.5f);
  EXPECT_FLOAT_EQ(a.y, 88.25f);
  EXPECT_FLOAT_EQ(a.radius, 9.0f);
  EXPECT_EQ(list.objects[1].line, 4);
  EXPECT_EQ(list.objects[1].type, 2);
  EXPECT_EQ(list.objects[2].line, 5);
  EXPECT_FLOAT_EQ(list.objects[2].y, 400.0f);
}

TEST(ObjectList, StopsAtTheFirstLineThatIsNotFourNumbers) {
  // A record with its header left in: the list stops at once.
  const ObjectList headed = parse_object_list(" This log file is written by Zelvo; it\n 1 10 10 5\n");
  EXPECT_TRUE(headed.objects.empty());
  EXPECT_EQ(headed.bad_line, 1);

  for (const char* bad : {"1 10 10", "1 10 10 5 5", "1.5 10 10 5", "1 x 10 5", "1,,10,5"}) {
    const ObjectList list = parse_object_list(std::string("3 50 60 12\n\n") + bad + "\n1 70 80 9\n");
    EXPECT_EQ(list.objects.size(), 1u) << bad;
    EXPECT_EQ(list.bad_line, 3) << bad;
  }
  EXPECT_EQ(bad_list_line_message("some/folder/ZelvoRep.log", 3),
            "ZelvoRep.log, line 3, is not four numbers (type, x, y, radius); the list stops there.");
}

TEST(ObjectList, AnEmptyTextIsAnEmptyList) {
  EXPECT_EQ(LINENOS(""), 0);
  EXPECT_EQ(LINENOS(" \t\n\r\n"), 0);
  EXPECT_TRUE(parse_object_list("").objects.empty());
  EXPECT_EQ(parse_object_list("").bad_line, 0);
}
