// The launcher's own location: the record from "/proc/self/exe" and its directory part.
#include "platform/own_path.h"

#include <limits.h>
#include <stdlib.h>

#include <string>

#include "gtest/gtest.h"

namespace launcher {
namespace {

TEST(DirectoryPartTest, CutsAfterTheLastSeparator) {
  const struct {
    const char* path;
    const char* directory;
  } kTable[] = {
      {"/opt/app/launcher", "/opt/app/"},
      {"/launcher", "/"},
      {"/opt//app/./launcher", "/opt//app/./"},
      {"/opt/app/run\\x", "/opt/app/run\\"},
      {"/opt\\app/x", "/opt\\app/"},
      {"/opt/app/", "/opt/app/"},
      {"c:launcher", ""},
      {"launcher", ""},
      {"", ""},
  };
  for (const auto& row : kTable) {
    EXPECT_EQ(DirectoryPart(row.path).view(), row.directory) << "path \"" << row.path << "\"";
  }
}

TEST(DirectoryPartTest, KeepsEveryByte) {
  const ByteString path(std::string_view("/o\0p\xFF/la\0x", 10));
  EXPECT_EQ(DirectoryPart(path).view(), std::string_view("/o\0p\xFF/", 6));
}

TEST(OwnPathTest, IsThisProgramsAbsolutePath) {
  char expected[PATH_MAX];
  ASSERT_NE(realpath("/proc/self/exe", expected), nullptr);
  RecordOwnPath();
  const ByteString own = OwnPath();
  EXPECT_EQ(own.view(), expected);
  EXPECT_EQ(own.c_str()[0], '/');

  // Recording again gives the same record, and each copy stands on its own.
  ByteString copy = OwnPath();
  copy.Append("x");
  RecordOwnPath();
  EXPECT_EQ(OwnPath(), own);
}

}  // namespace
}  // namespace launcher
