#include "check/suggest.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace launcher::check {
namespace {

TEST(EditDistance, CountsEditsAndNeighbourSwaps) {
  EXPECT_EQ(EditDistance("", ""), 0u);
  EXPECT_EQ(EditDistance("abc", ""), 3u);
  EXPECT_EQ(EditDistance("app.greting", "app.greeting"), 1u);
  EXPECT_EQ(EditDistance("Mian", "Main"), 1u);  // a swap of neighbours
  EXPECT_EQ(EditDistance("kitten", "sitting"), 3u);
}

struct ClosestCase {
  const char* name;
  std::string given;
  std::vector<std::string> candidates;
  std::string closest;  // empty: none
  friend void PrintTo(const ClosestCase& row, std::ostream* out) { *out << row.name; }
};

class Suggestions : public testing::TestWithParam<ClosestCase> {};

TEST_P(Suggestions, NameTheOneMeant) {
  const std::optional<std::string> closest = Closest(GetParam().given, GetParam().candidates);
  EXPECT_EQ(closest.value_or(""), GetParam().closest);
}

INSTANTIATE_TEST_SUITE_P(
    Suggest, Suggestions,
    testing::Values(
        ClosestCase{"MisspeltModule", "app.greting", {"java.base", "app.greeting"}, "app.greeting"},
        ClosestCase{"SwappedLetters", "Mian", {"Main", "NoMain"}, "Main"},
        ClosestCase{
            "OtherCase", "javafx.Controls", {"javafx.controls", "javafx.base"}, "javafx.controls"},
        ClosestCase{"ClassWithoutItsPackage", "Main", {"app.Main", "app.Other"}, "app.Main"},
        ClosestCase{"TooFarIsNoSlip", "database", {"java.base", "app.greeting"}, ""},
        ClosestCase{"SameNameIsNoSuggestion", "app.greeting", {"app.greeting"}, ""},
        ClosestCase{"NothingGiven", "", {"a"}, ""},
        ClosestCase{"FirstOfEquals", "ab", {"ac", "ad"}, "ac"}),
    [](const testing::TestParamInfo<ClosestCase>& row) { return row.param.name; });

}  // namespace
}  // namespace launcher::check
