#include <gtest/gtest.h>

#include "session/session.h"
#include "session/settings.h"
#include "support/session_harness.h"

using namespace zelvo;

TEST(ModifiedMarker, EveryNameShowsItOnce) {
  for (const std::string name : {"<unnamed image>", "m31.fits", "abcde.fits", "a"}) {
    ImageSlot s;
    s.name = name;
    mark_modified(s);
    mark_modified(s);
    EXPECT_EQ(s.name, name + " <modified>");
    EXPECT_TRUE(name_marked_modified(s.name));
    EXPECT_TRUE(s.modified);
  }
}

TEST(ModifiedMarker, ALongNameGivesWayToTheWholeMarker) {
  ImageSlot s;
  s.name = std::string(70, 'a') + ".fits";  // 75 characters
  mark_modified(s);
  EXPECT_EQ(s.name, std::string(69, 'a') + " <modified>");
  EXPECT_TRUE(name_marked_modified(s.name));
}

TEST(Settings, ValuesCommentsDefaultsAndFallback) {
  zelvo::testing::ScratchFolder dir;
  dir.write("a.ini", "3   window size\n1 extended logs\n");
  auto s = read_settings(dir.file("a.ini"));
  EXPECT_EQ(s.window_code, 3);
  EXPECT_EQ(s.extlogs, 1);
  EXPECT_TRUE(s.notice.empty());

  dir.write("b.ini", "2\n0\n");
  s = read_settings(dir.file("b.ini"));
  EXPECT_EQ(s.window_code, 2);
  EXPECT_EQ(s.extlogs, 0);

  s = read_settings(dir.file("missing.ini"));
  EXPECT_EQ(s.window_code, 2);
  EXPECT_EQ(s.extlogs, 0);
  EXPECT_NE(s.notice.find("missing.ini"), std::string::npos);
  EXPECT_NE(s.notice.find("window-size code"), std::string::npos);
  EXPECT_NE(s.notice.find("extended-logs"), std::string::npos);

  dir.write("c.ini", "7\n5\n");
  s = read_settings(dir.file("c.ini"));
  EXPECT_EQ(s.window_code, 2);
  EXPECT_EQ(s.extlogs, 0);  // any value other than 1 is off
  EXPECT_NE(s.notice.find("not 1, 2 or 3"), std::string::npos);

  dir.write("d.ini", "big\n1\n");
  s = read_settings(dir.file("d.ini"));
  EXPECT_EQ(s.window_code, 2);
  EXPECT_FALSE(s.notice.empty());
}
