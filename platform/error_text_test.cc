// The launcher's own table of system error texts must read exactly as the C library's strerror,
// since the release launcher puts it into its reports ("Failed to execute ...: REASON").
#include "platform/error_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace launcher {
namespace {

TEST(SystemErrorTextTest, MatchesTheCLibraryForEveryNumber) {
  // Below zero, every number Linux defines (with the gaps it leaves), and well past the last.
  for (int error = -3; error <= 200; ++error) {
    char text[64];
    EXPECT_EQ(std::string(SystemErrorText(error, text)), std::string(std::strerror(error)))
        << "error " << error;
  }
}

TEST(SystemErrorTextTest, ExtremeNumbersFitTheBuffer) {
  for (int error : {-2147483647 - 1, 2147483647}) {
    char text[64];
    EXPECT_EQ(std::string(SystemErrorText(error, text)), std::string(std::strerror(error)));
  }
}

}  // namespace
}  // namespace launcher
