// The FITS error report: the status line, then the messages oldest first.
#include "session/fits_reports.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "platform/console.h"

namespace zelvo {
namespace {

std::string printed(const FitsError& e) {
  std::istringstream in;
  std::ostringstream out;
  Console con(in, out);
  PRINT_FITS_ERROR(e, con);
  return out.str();
}

struct ReportCase {
  FitsError error;
  const char* lines;
};

TEST(FitsErrorReport, StatusLineThenTheMessagesOldestFirst) {
  const ReportCase cases[] = {
      {{0, "", {"left over"}}, ""},
      {{107, "tried to move past end of file", {"first message", "second message  "}},
       " FITSIO Error Status = 107 : tried to move past end of file\n first message\n second message\n"},
      // The text takes at least 30 columns.
      {{104, "could not open the named file", {}}, " FITSIO Error Status = 104 : could not open the named file \n"},
      // A blank message ends the report, as reading CFITSIO's stack did.
      {{105, "couldn't create the named file", {"shown", "   ", "not shown"}},
       " FITSIO Error Status = 105 : couldn't create the named file\n shown\n"},
  };
  for (const ReportCase& c : cases) EXPECT_EQ(printed(c.error), c.lines) << c.error.status;
}

}  // namespace
}  // namespace zelvo
