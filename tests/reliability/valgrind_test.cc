// Valgrind's memcheck over the launcher's main paths: no invalid access, no use of undefined
// memory, no definite leak in the launcher process (Java runs natively, untraced).
//
// Memcheck follows heap blocks by replacing the allocator of the system's C library, which it can
// only do in a dynamically linked program. When the launcher is linked statically with an
// allocator of its own, memcheck checks it for undefined values and invalid accesses outside the
// heap, and the same launcher code linked against the system's C library is checked in full.
#include <gtest/gtest.h>

#include <string>

#include "tests/reliability/harness.h"
#include "tests/support/e2e.h"
#include "tests/support/emulation.h"

namespace reliability {
namespace {

enum class Case { kSettings, kNoSettings, kJavaNotFound };

struct Check {
  Case run;
  bool system_libc;  // the launcher's code linked against the system's C library
};

class Memcheck : public testing::TestWithParam<Check> {};

TEST_P(Memcheck, FindsNoError) {
  if (LAUNCHER_SANITIZED) GTEST_SKIP() << "Valgrind cannot run a sanitizer-instrumented binary";
  if (e2e::kUnderEmulation) {
    GTEST_SKIP() << "Valgrind runs programs of its own processor only: it would check qemu-user, "
                    "not the arm64 launcher";
  }
  const std::string valgrind = Tool("valgrind");
  ASSERT_FALSE(valgrind.empty()) << "valgrind is needed";
  e2e::App app;
  if (GetParam().system_libc) e2e::CopyFile(LAUNCHER_SYSTEM_LIBC_BINARY, app.launcher);
  std::string path = app.java_home + "/bin:/usr/bin:/bin";
  switch (GetParam().run) {
    case Case::kSettings:
      app.WriteExampleSettings();
      break;
    case Case::kNoSettings:
      break;
    case Case::kJavaNotFound:
      path = "/nonexistent";
      break;
  }
  const std::string log = app.dir / "memcheck.log";
  e2e::RunOptions options;
  options.cwd = app.dir.path();
  options.env = e2e::LaunchEnv(path, app.record);
  options.timeout_seconds = 120;
  options.argv = {valgrind,
                  "--tool=memcheck",
                  "--trace-children=no",
                  "--track-origins=yes",
                  "--leak-check=full",
                  "--show-leak-kinds=definite",
                  "--errors-for-leak-kinds=definite",
                  "--error-exitcode=99",
                  "--log-file=" + log,
                  app.launcher};
  const e2e::RunResult result = e2e::RunProgram(valgrind, options);
  const std::string report = e2e::ReadFile(log);
  ASSERT_TRUE(result.exited) << report;
  EXPECT_NE(report.find("ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos) << report;
  if (GetParam().system_libc) {
    EXPECT_EQ(report.find("total heap usage: 0 allocs"), std::string::npos)
        << "memcheck followed no heap block:\n"
        << report;
  }
  EXPECT_EQ(result.out, "");
  if (GetParam().run == Case::kJavaNotFound) {
    EXPECT_EQ(result.exit_code, 217) << report;
    ExpectFailureReport(result.err, "EProcess: Executable not found: \"java\"");
  } else {
    EXPECT_EQ(result.exit_code, 0) << report;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(e2e::ReadJavaRecord(app.record).present);
  }
}

std::string CheckName(const testing::TestParamInfo<Check>& row) {
  const char* names[] = {"SettingsPresent", "SettingsMissing", "JavaNotFound"};
  return std::string(names[static_cast<int>(row.param.run)]) +
         (row.param.system_libc ? "WithSystemLibc" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, Memcheck,
    testing::Values(Check{Case::kSettings, false}, Check{Case::kNoSettings, false},
                    Check{Case::kJavaNotFound, false}, Check{Case::kSettings, true},
                    Check{Case::kNoSettings, true}, Check{Case::kJavaNotFound, true}),
    CheckName);

}  // namespace
}  // namespace reliability
