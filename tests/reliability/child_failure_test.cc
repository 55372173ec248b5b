// A Java that cannot be started is reported however the child is created. The child reports its
// failed execve through a close-on-exec pipe, which works also where vfork behaves as fork (the
// child then shares no memory with the launcher): under valgrind, which runs vfork so, and under
// qemu-user (the arm64 suite), which does the same. Where no pipe can be made (the descriptor
// limit), a page mapped shared carries the failure, under vfork and fork alike, and Java starts as
// before.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/reliability/harness.h"
#include "tests/support/e2e.h"
#include "tests/support/emulation.h"
#include "tests/support/helpers.h"

namespace reliability {
namespace {

using e2e::App;
using e2e::RunOptions;
using e2e::RunResult;

std::vector<int> DescriptorNumbers(const e2e::JavaRecord& record) {
  std::vector<int> numbers;
  for (const std::string& fd : record.fds) numbers.push_back(std::stoi(fd));
  return numbers;
}

class ChildFailure : public testing::Test {
 protected:
  void SetUp() override {
    options.cwd = app.dir.path();
    options.env = e2e::LaunchEnv(app.java_home + "/bin:/usr/bin:/bin", app.record);
    options.close_other_fds = true;
  }

  // The command that starts the launcher where vfork behaves as fork: the launcher itself under
  // emulation, where qemu-user does so, and otherwise the launcher under valgrind.
  std::vector<std::string> WhereVforkIsAFork() const {
    if (e2e::kUnderEmulation) return {app.launcher};
    const std::string valgrind = e2e::FindTool("valgrind", e2e::kSystemToolPath);
    if (valgrind.empty()) ADD_FAILURE() << "valgrind (package valgrind) is needed";
    return {valgrind, "--tool=none", "-q", app.launcher};
  }

  // The command that starts the launcher with room for init.ini and nothing more: descriptors 0,
  // 1 and 2 are open and init.ini is closed again before the child is made, so a limit of 4
  // leaves one free descriptor, and a pipe needs two.
  std::vector<std::string> WithoutRoomForAPipe() const {
    const std::string prlimit = e2e::FindTool("prlimit", e2e::kSystemToolPath);
    if (prlimit.empty()) ADD_FAILURE() << "prlimit (package util-linux) is needed";
    return {prlimit, "--nofile=4", "--", app.launcher};
  }

  RunResult Run(const std::vector<std::string>& argv) {
    RunOptions run = options;
    run.argv = argv;
    const RunResult result = e2e::RunProgram(argv[0], run);
    EXPECT_FALSE(result.timed_out);
    if (orphans.Adopting()) {
      EXPECT_TRUE(orphans.TakeLeftovers().empty()) << "a process was left behind";
    }
    return result;
  }

  // Checks that Java ran as the example settings ask, with descriptors 0, 1 and 2 alone.
  void ExpectJavaStarted(const RunResult& result) const {
    ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    const e2e::JavaRecord record = e2e::ReadJavaRecord(app.record);
    ASSERT_TRUE(record.present) << "Java did not run";
    EXPECT_EQ(record.args, app.ExampleJavaArgs());
    EXPECT_EQ(DescriptorNumbers(record), (std::vector<int>{0, 1, 2}))
        << testing::PrintToString(record.fds);
  }

  // Checks a launch that ended in the report of a Java that could not be started.
  void ExpectReported(const RunResult& result, const std::string& reason) const {
    ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
    EXPECT_EQ(result.exit_code, 217);
    EXPECT_EQ(result.out, "");
    e2e::ExpectFailureReport(
        result.err, "EProcess: Failed to execute \"" + app.java_home + "/bin/java\": " + reason);
    EXPECT_FALSE(e2e::ReadJavaRecord(app.record).present) << "Java ran";
  }

  App app;
  RunOptions options;
  e2e::OrphanWatch orphans;
};

struct StartFailure {
  const char* name;
  const char* java_content;  // "": the stand-in
  int java_mode;
  const char* reason;
};

void PrintTo(const StartFailure& value, std::ostream* out) { *out << value.name; }

class StartFailureWhereVforkIsAFork : public ChildFailure,
                                      public testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailureWhereVforkIsAFork, IsReportedWithTheSystemsReason) {
  if (LAUNCHER_SANITIZED) GTEST_SKIP() << "valgrind cannot run a program built with the sanitizers";
  const StartFailure& param = GetParam();
  const std::string java = app.java_home + "/bin/java";
  if (*param.java_content != '\0') e2e::WriteFile(java, param.java_content);
  std::filesystem::permissions(java, static_cast<std::filesystem::perms>(param.java_mode));
  app.WriteExampleSettings();
  ExpectReported(Run(WhereVforkIsAFork()), param.reason);
}

// The failures that valgrind lets an execve return with; it ends a child whose execve fails
// in the kernel itself (a missing interpreter, an argument list that is too long), so those are
// shown under qemu-user only (the arm64 suite's end-to-end failure reports).
INSTANTIATE_TEST_SUITE_P(
    Reasons, StartFailureWhereVforkIsAFork,
    testing::Values(StartFailure{"NoExecutePermission", "", 0644, "Permission denied"},
                    StartFailure{"NotAnExecutableFormat", "this is no program\n", 0755,
                                 "Exec format error"}),
    [](const testing::TestParamInfo<StartFailure>& row) { return row.param.name; });

// The pipe is closed when Java starts: Java gets the launcher's descriptors and no other.
TEST_F(ChildFailure, WhereVforkIsAForkJavaStartsWithTheLaunchersDescriptors) {
  if (LAUNCHER_SANITIZED) GTEST_SKIP() << "valgrind cannot run a program built with the sanitizers";
  app.WriteExampleSettings();
  ExpectJavaStarted(Run(WhereVforkIsAFork()));
}

// The undefined-behaviour sanitizer checks an object's type by writing its memory into a pipe of
// its own: under this limit it cannot, and it reports every object as invalid.
constexpr const char* kSanitizerNeedsAPipe =
    "the sanitizers' run-time needs a pipe of its own, for which this limit leaves no room";

TEST_F(ChildFailure, WithoutRoomForAPipeJavaStartsAsBefore) {
  if (LAUNCHER_SANITIZED) GTEST_SKIP() << kSanitizerNeedsAPipe;
  app.WriteExampleSettings();
  ExpectJavaStarted(Run(WithoutRoomForAPipe()));
}

// Natively the trace shows that the pipe could not be made and the page carried the failure.
// Under qemu-user, which runs vfork as fork and cannot be traced, nothing but the page can carry
// it: memory of the launcher's is not shared with the child there.
TEST_F(ChildFailure, WithoutRoomForAPipeAFailedStartIsReportedThroughTheSharedPage) {
  if (LAUNCHER_SANITIZED) GTEST_SKIP() << kSanitizerNeedsAPipe;
  app.WriteExampleSettings();
  std::filesystem::permissions(app.java_home + "/bin/java", std::filesystem::perms(0644));
  if (e2e::kUnderEmulation) {
    ExpectReported(Run(WithoutRoomForAPipe()), "Permission denied");
    return;
  }
  const std::string trace = app.dir / "trace";
  RunOptions run = options;
  run.argv = WithoutRoomForAPipe();
  const RunResult result = RunTraced({"-e", "trace=pipe2,mmap"}, trace, run.argv[0], run);
  EXPECT_FALSE(result.timed_out);
  ExpectReported(result, "Permission denied");
  const std::vector<TracedCall> pipes = CallsIn(trace, "pipe2");
  ASSERT_EQ(pipes.size(), 1u) << e2e::ReadFile(trace);
  EXPECT_NE(pipes[0].text.find("= -1 EMFILE"), std::string::npos) << pipes[0].text;
  bool shared_page = false;
  for (const TracedCall& call : CallsIn(trace, "mmap")) {
    shared_page = shared_page || (call.pid == pipes[0].pid &&
                                  call.text.find("MAP_SHARED|MAP_ANONYMOUS") != std::string::npos);
  }
  EXPECT_TRUE(shared_page) << e2e::ReadFile(trace);
}

}  // namespace
}  // namespace reliability
