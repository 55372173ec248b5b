#include "check/options.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace launcher::check {
namespace {

struct OptionsCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string launcher;
  int timeout;
  bool help;
  std::string error;  // a piece of the error, empty when there is none
  friend void PrintTo(const OptionsCase& row, std::ostream* out) { *out << row.name; }
};

class CommandLine : public testing::TestWithParam<OptionsCase> {};

TEST_P(CommandLine, IsReadAsExpected) {
  const OptionsCase& row = GetParam();
  const Options options = ParseOptions(row.arguments);
  if (row.error.empty()) {
    EXPECT_EQ(options.error, "");
    EXPECT_EQ(options.launcher, row.launcher);
    EXPECT_EQ(options.timeout_seconds, row.timeout);
    EXPECT_EQ(options.help, row.help);
  } else {
    EXPECT_NE(options.error.find(row.error), std::string::npos) << options.error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLine,
    testing::Values(
        OptionsCase{"Nothing", {}, "./launcher", kDefaultTimeoutSeconds, false, ""},
        OptionsCase{"Launcher", {"/opt/app/launcher"}, "/opt/app/launcher", 60, false, ""},
        OptionsCase{"TimeoutJoined", {"--timeout=5", "x"}, "x", 5, false, ""},
        OptionsCase{"TimeoutSeparate", {"--timeout", "7"}, "./launcher", 7, false, ""},
        OptionsCase{"Help", {"--help"}, "./launcher", 60, true, ""},
        OptionsCase{"DashDashEndsOptions", {"--", "--help"}, "--help", 60, false, ""},
        OptionsCase{"LoneDashIsALauncher", {"-"}, "-", 60, false, ""},
        OptionsCase{"UnknownOption", {"--verbose"}, "", 0, false, "unknown option '--verbose'"},
        OptionsCase{"TwoLaunchers", {"a", "b"}, "", 0, false, "more than one LAUNCHER"},
        OptionsCase{"EmptyLauncher", {""}, "", 0, false, "LAUNCHER is empty"},
        OptionsCase{"TimeoutMissing", {"--timeout"}, "", 0, false, "--timeout needs"},
        OptionsCase{"TimeoutZero", {"--timeout=0"}, "", 0, false, "--timeout needs"},
        OptionsCase{"TimeoutNotANumber", {"--timeout=1s"}, "", 0, false, "not '1s'"},
        OptionsCase{"TimeoutTooLong", {"--timeout=86401"}, "", 0, false, "--timeout needs"},
        OptionsCase{"OptionAfterLauncher",
                    {"/opt/app/launcher", "--timeout=9"},
                    "/opt/app/launcher",
                    9,
                    false,
                    ""},
        OptionsCase{"AbbreviatedOption", {"--time=3"}, "./launcher", 3, false, ""},
        OptionsCase{"ShortHelp", {"-h"}, "./launcher", 60, true, ""},
        OptionsCase{"UnknownShortOption", {"-x"}, "", 0, false, "unknown option '-x'"},
        OptionsCase{
            "TimeoutWithoutValue",
            {"x", "--timeout"},
            "",
            0,
            false,
            "--timeout needs a whole number of seconds from 1 to 86400, and none was given"},
        // The option's text is shown safely: no control byte reaches the terminal.
        OptionsCase{
            "UnknownOptionWithEscape", {"--\x1B[2J"}, "", 0, false, "unknown option '--\\x1B[2J'"},
        OptionsCase{"TimeoutShownSafely",
                    {"--timeout=\x9B"
                     "1"},
                    "",
                    0,
                    false,
                    "not '\\x9B1'"}),
    [](const testing::TestParamInfo<OptionsCase>& row) { return row.param.name; });

}  // namespace
}  // namespace launcher::check
