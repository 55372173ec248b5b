// Byte strings: every byte kept, NUL included; appending from itself; growth keeps the bytes.
#include "platform/byte_string.h"

#include <cstring>
#include <string>
#include <utility>

#include "gtest/gtest.h"

namespace launcher {
namespace {

TEST(ByteStringTest, KeepsEmbeddedNulButCStrStopsThere) {
  const ByteString value(std::string_view("ab\0cd\xFF", 6));
  EXPECT_EQ(value.size(), 6U);
  EXPECT_EQ(value.view(), std::string_view("ab\0cd\xFF", 6));
  EXPECT_EQ(std::strlen(value.c_str()), 2U);

  ByteString grown = value;
  grown.Append('\0').Append("z");
  EXPECT_EQ(grown.view(), std::string_view("ab\0cd\xFF\0z", 8));
  EXPECT_EQ(value.size(), 6U) << "a copy stands on its own";
  EXPECT_FALSE(value == grown);
}

TEST(ByteStringTest, EmptyValuesReadAsEmptyText) {
  const ByteString empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_STREQ(empty.c_str(), "");

  ByteString cleared("abc");
  cleared.Clear();
  EXPECT_TRUE(cleared.empty());
  EXPECT_STREQ(cleared.c_str(), "");
  cleared.Append("x");
  EXPECT_STREQ(cleared.c_str(), "x");

  ByteString moved_from("abc");
  const ByteString moved_to = std::move(moved_from);
  EXPECT_EQ(moved_to.view(), "abc");
  EXPECT_STREQ(moved_from.c_str(), "");  // NOLINT(bugprone-use-after-move): defined state
}

// Appending bytes of the value itself, also when the append has to grow it and so moves it.
TEST(ByteStringTest, AppendsItsOwnBytes) {
  for (const std::size_t length : {1U, 5U, 31U, 32U, 100U, 4096U}) {
    std::string expected;
    for (std::size_t i = 0; i < length; ++i) expected += static_cast<char>('a' + i % 26);
    ByteString value(expected.data(), expected.size());
    for (int round = 0; round < 3; ++round) {
      value.Append(value.view());
      expected += expected;
      value.Append(value.data() + 1, value.size() / 2);
      expected += expected.substr(1, expected.size() / 2);
    }
    EXPECT_EQ(value.view(), expected) << "length " << length;
    EXPECT_EQ(value.c_str()[value.size()], '\0');
  }
}

TEST(ByteStringTest, GrowingToALargeValueKeepsEveryByte) {
  std::string expected;
  ByteString value;
  for (std::size_t piece = 0; expected.size() < (8U << 20); ++piece) {
    const std::string bytes(piece % 300 + 1, static_cast<char>(piece * 7));
    value.Append(bytes);
    expected += bytes;
  }
  ASSERT_EQ(value.size(), expected.size());
  EXPECT_TRUE(value.view() == expected);
  EXPECT_EQ(value.c_str()[value.size()], '\0');
}

TEST(ByteStringTest, AssignmentReplacesAndSelfAssignmentKeeps) {
  ByteString value("a long enough value to own a block");
  const ByteString shorter("xy");
  value = shorter;
  EXPECT_EQ(value.view(), "xy");
  const ByteString& same = value;
  value = same;
  EXPECT_EQ(value.view(), "xy");
  value = ByteString();
  EXPECT_TRUE(value.empty());
}

}  // namespace
}  // namespace launcher
