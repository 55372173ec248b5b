// A tool that a test needs and the machine lacks. CI installs every tool the tests use
// (.ci/setup), so there a missing tool is a failure; elsewhere the test is skipped, and says which
// tool it lacks. CI is recognised by the environment variable LAUNCHER_CI, which .ci/run sets (the
// CMake side of the same rule is launcher_missing_tool_test in tests/CMakeLists.txt).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace launcher_tests {

inline bool InCi() {
  const char* ci = std::getenv("LAUNCHER_CI");
  return ci != nullptr && *ci != '\0' && std::strcmp(ci, "0") != 0;
}

}  // namespace launcher_tests

// Ends the test when `found` is false: a failure in CI, a skip elsewhere. `what` names the tool
// and what it is for ("bash, to paste the command into").
#define LAUNCHER_REQUIRE_TOOL(found, what)                                \
  do {                                                                    \
    if (!(found)) {                                                       \
      if (::launcher_tests::InCi()) {                                     \
        FAIL() << "missing in CI, where .ci/setup installs it: " << what; \
      } else {                                                            \
        GTEST_SKIP() << "not installed: " << what;                        \
      }                                                                   \
    }                                                                     \
  } while (false)
