// Object lists: line count, the four-number lines, and lists that cannot be used.
#include "removal/object_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "platform/console.h"
#include "support/session_harness.h"

using namespace zelvo;
using namespace zelvo::testing;

TEST(ObjectList, ReadsFourNumbersPerLineAndSkipsBlankLines) {
  ScratchFolder dir;
  dir.write("ZelvoRep.log", " 1 120.5 88.25 9.0\n\n   \n2,300,41.0,20.0\n 6 12 400 19.0\n");
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  EXPECT_EQ(LINENOS(dir.file("ZelvoRep.log"), con), 3);
  const auto list = read_object_list(dir.file("ZelvoRep.log"));
  ASSERT_TRUE(list);
  EXPECT_EQ(list->bad_line, 0);
  ASSERT_EQ(list->objects.size(), 3u);
  const ListedObject& a = list->objects[0];
  EXPECT_EQ(a.line, 1);
  EXPECT_EQ(a.type, 1);
  EXPECT_FLOAT_EQ(a.x, 120.5f);
  EXPECT_FLOAT_EQ(a.y, 88.25f);
  EXPECT_FLOAT_EQ(a.radius, 9.0f);
  EXPECT_EQ(list->objects[1].line, 4);
  EXPECT_EQ(list->objects[1].type, 2);
  EXPECT_EQ(list->objects[2].line, 5);
  EXPECT_FLOAT_EQ(list->objects[2].y, 400.0f);
  EXPECT_EQ(out.str(), "");
}

TEST(ObjectList, StopsAtTheFirstLineThatIsNotFourNumbers) {
  ScratchFolder dir;
  // A record with its header left in: the list stops at once.
  dir.write("a.log", " This log file is written by Zelvo; it\n 1 10 10 5\n");
  const auto headed = read_object_list(dir.file("a.log"));
  ASSERT_TRUE(headed);
  EXPECT_TRUE(headed->objects.empty());
  EXPECT_EQ(headed->bad_line, 1);

  for (const char* bad : {"1 10 10", "1 10 10 5 5", "1.5 10 10 5", "1 x 10 5", "1,,10,5"}) {
    dir.write("b.log", std::string("3 50 60 12\n\n") + bad + "\n1 70 80 9\n");
    const auto list = read_object_list(dir.file("b.log"));
    ASSERT_TRUE(list) << bad;
    EXPECT_EQ(list->objects.size(), 1u) << bad;
    EXPECT_EQ(list->bad_line, 3) << bad;
  }
  EXPECT_EQ(bad_list_line_message(dir.file("ZelvoRep.log"), 3),
            "ZelvoRep.log, line 3, is not four numbers (type, x, y, radius); the list stops there.");
}

TEST(ObjectList, MissingFileOrFolderIsNoList) {
  ScratchFolder dir;
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  EXPECT_FALSE(LINENOS(dir.file("ZelvoRep.log"), con));
  EXPECT_FALSE(read_object_list(dir.file("ZelvoRep.log")));
  std::filesystem::create_directory(dir.file("ZelvoRep.log"));
  EXPECT_FALSE(LINENOS(dir.file("ZelvoRep.log"), con));
  EXPECT_FALSE(read_object_list(dir.file("ZelvoRep.log")));
  dir.write("empty.log", "");
  EXPECT_EQ(LINENOS(dir.file("empty.log"), con), 0);
  ASSERT_TRUE(read_object_list(dir.file("empty.log")));
  EXPECT_TRUE(read_object_list(dir.file("empty.log"))->objects.empty());
}
