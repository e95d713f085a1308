// The log's head shows the command line without the arguments' text: the one passed on to the
// setup may carry a key, and every user may read the log.
#include "app/log_header.h"

#include <gtest/gtest.h>

TEST(LogHeader, TheCommandLineShowsEachArgumentOnlyAsItsLength) {
  EXPECT_STREQ(CommandLineForLog(L"\"C:\\Down loads\\Setup (1).exe\" /key=SECRET-1234 \"\"").c_str(),
               L"\"C:\\Down loads\\Setup (1).exe\" [16 characters] [0 characters]");
  EXPECT_STREQ(CommandLineForLog(L"Z:\\a\\setup.exe").c_str(), L"\"Z:\\a\\setup.exe\"");
}
