// The launcher under resource limits and started in a hostile state: a small address space with
// an endless first line, no process left to fork, a stack of a few kilobytes, no descriptor left
// to open init.ini, standard descriptors closed, SIGCHLD ignored.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/reliability/harness.h"
#include "tests/support/e2e.h"
#include "tests/support/emulation.h"
#include "tests/support/helpers.h"

namespace reliability {
namespace {

using e2e::App;
using e2e::ExpectFailureReport;
using e2e::JavaRecord;
using e2e::OrphanWatch;
using e2e::RunOptions;
using e2e::RunResult;
using e2e::RunUnderStrace;

class Limits : public testing::Test {
 protected:
  void SetUp() override {
    options.cwd = app.dir.path();
    options.env = e2e::LaunchEnv(app.java_home + "/bin:/usr/bin:/bin", app.record);
  }

  // Runs `argv` (a tool that ends by starting the launcher) and checks that nothing is left.
  RunResult Run(const std::vector<std::string>& argv) {
    RunOptions run = options;
    run.argv = argv;
    const RunResult result = e2e::RunProgram(argv[0], run);
    EXPECT_FALSE(result.timed_out);
    EXPECT_TRUE(orphans.TakeLeftovers().empty()) << "a process was left behind";
    return result;
  }

  App app;
  RunOptions options;
  OrphanWatch orphans;
};

// 128 MiB of address space leaves the launcher ample room for itself, not for the line.
constexpr const char* kAddressSpace = "--as=134217728";
constexpr const char* kEmulatorNeedsAddressSpace =
    "qemu-user allocates a 128 MiB translation buffer before the launcher starts: under this "
    "limit the emulator itself cannot start";

class AddressSpaceLimit : public Limits, public testing::WithParamInterface<bool> {};

TEST_P(AddressSpaceLimit, EndlessFirstLineIsReportedAsOutOfMemory) {
  if (LAUNCHER_SANITIZED) GTEST_SKIP() << "the address sanitizer needs terabytes of address space";
  if (e2e::kUnderEmulation) GTEST_SKIP() << kEmulatorNeedsAddressSpace;
  const std::string prlimit = e2e::FindTool("prlimit", e2e::kSystemToolPath);
  ASSERT_FALSE(prlimit.empty()) << "prlimit (package util-linux) is needed";
  const std::string settings = app.dir / "init.ini";
  if (GetParam()) {
    std::filesystem::create_symlink("/dev/zero", settings);
  } else {
    // A file of 4 GiB of zero bytes without a line end (sparse: it takes no disk space).
    e2e::WriteFile(settings, "");
    std::filesystem::resize_file(settings, 4ULL << 30);
  }
  const RunResult result = Run({prlimit, kAddressSpace, "--", app.launcher});
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 217);
  EXPECT_EQ(result.out, "");
  ExpectFailureReport(result.err, "EOutOfMemory: Out of memory");
  EXPECT_FALSE(e2e::ReadJavaRecord(app.record).present);
}

TEST_F(Limits, AddressSpaceLimitAloneLetsTheLaunchGoAhead) {
  if (LAUNCHER_SANITIZED) GTEST_SKIP() << "the address sanitizer needs terabytes of address space";
  if (e2e::kUnderEmulation) GTEST_SKIP() << kEmulatorNeedsAddressSpace;
  const std::string prlimit = e2e::FindTool("prlimit", e2e::kSystemToolPath);
  ASSERT_FALSE(prlimit.empty()) << "prlimit (package util-linux) is needed";
  app.WriteExampleSettings();
  const RunResult result = Run({prlimit, kAddressSpace, "--", app.launcher});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(e2e::ReadJavaRecord(app.record).args, app.ExampleJavaArgs());
}

INSTANTIATE_TEST_SUITE_P(InitIni, AddressSpaceLimit, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& row) {
                           return row.param ? "LinkToDevZero" : "HugeSparseFile";
                         });

TEST_F(Limits, ProcessLimitMakesTheForkFail) {
  if (e2e::kUnderEmulation) {
    GTEST_SKIP() << "qemu-user starts a thread of its own, which a limit of one process refuses: "
                    "the emulator ends before the launcher runs";
  }
  const std::string prlimit = e2e::FindTool("prlimit", e2e::kSystemToolPath);
  ASSERT_FALSE(prlimit.empty()) << "prlimit (package util-linux) is needed";
  app.WriteExampleSettings();
  std::vector<std::string> argv = {prlimit, "--nproc=1", "--"};
  if (geteuid() == 0) {
    // The process limit binds no root process: run as a user that owns no other process.
    const std::string setpriv = e2e::FindTool("setpriv", e2e::kSystemToolPath);
    ASSERT_FALSE(setpriv.empty()) << "setpriv (package util-linux) is needed";
    const std::string user = std::to_string(200000 + getpid() % 100000);
    std::filesystem::permissions(app.dir.path(), std::filesystem::perms::all);
    argv.insert(argv.end(), {setpriv, "--reuid=" + user, "--regid=" + user, "--clear-groups"});
  }
  argv.push_back(app.launcher);
  const RunResult result = Run(argv);
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 217);
  EXPECT_EQ(result.out, "");
  ExpectFailureReport(result.err, "EProcess: Failed to Fork process");
  EXPECT_FALSE(e2e::ReadJavaRecord(app.record).present);
}

// A stack limit of a few kilobytes: the stack overflows somewhere along the way, at a place that
// moves with the address-space layout from run to run, or the launch gets through. Once the
// launcher's fault handlers are in place (the last of them is SIGILL's), an overflow ends in the
// failure report and 217, written on the handlers' own stack, never in the signal. Before that
// nothing can handle a fault: the kernel may find no room for the arguments when it starts the
// program, or the C library's start-up may overflow; those runs are counted apart.
TEST_F(Limits, TinyStackEndsInTheReportOrTheLaunchNeverInTheSignal) {
  if (LAUNCHER_SANITIZED) {
    GTEST_SKIP() << "the sanitizers' run-time needs more stack than this before the launcher runs";
  }
  if (e2e::kUnderEmulation) {
    GTEST_SKIP() << "the limit would bind qemu-user's own stack, not the emulated launcher's";
  }
  const std::string prlimit = e2e::FindTool("prlimit", e2e::kSystemToolPath);
  ASSERT_FALSE(prlimit.empty()) << "prlimit (package util-linux) is needed";
  const std::string strace = e2e::FindTool("strace", e2e::kSystemToolPath);
  if (strace.empty()) GTEST_SKIP() << "strace is not installed";
  const std::string trace = app.dir / "trace";
  int launched = 0;
  int reported = 0;
  int before_the_launcher = 0;
  for (int run = 0; run < 32; ++run) {
    const std::string limit = std::to_string((9 + run % 4) * 1024);
    SCOPED_TRACE("stack limit " + limit + ", run " + std::to_string(run));
    RunOptions run_options = options;
    run_options.argv = {prlimit, "--stack=" + limit, "--", app.launcher};
    const RunResult result =
        RunUnderStrace(strace, {"-e", "trace=rt_sigaction,kill"}, trace, prlimit, run_options);
    ASSERT_FALSE(result.timed_out);
    const std::string traced = e2e::ReadFile(trace);
    if (traced.find("rt_sigaction(SIGILL,") == std::string::npos) {
      ++before_the_launcher;
      continue;
    }
    if (!result.exited) {
      // Java inherits the limit too, and may die of it: the launcher then ends by the same signal,
      // which it sends itself once Java has ended.
      const std::string sent = std::string(", SIG") + sigabbrev_np(result.signal) + ")";
      bool passed_on = false;
      for (const std::string& line : e2e::SplitLines(traced)) {
        passed_on |= line.starts_with("kill(") && e2e::Contains(line, sent);
      }
      EXPECT_TRUE(passed_on) << "ended by signal " << result.signal << " of its own:\n" << traced;
      ++launched;
      continue;
    }
    EXPECT_EQ(result.out, "");
    if (result.exit_code == 217) {
      ExpectFailureReport(result.err, "EAccessViolation: Access violation");
      ++reported;
    } else {
      EXPECT_EQ(result.exit_code, 0) << result.err;
      EXPECT_EQ(result.err, "");
      ++launched;
    }
  }
  EXPECT_TRUE(orphans.TakeLeftovers().empty()) << "a process was left behind";
  EXPECT_GT(launched + reported, 0) << "no run got as far as the launcher's own code";
  RecordProperty("launched", launched);
  RecordProperty("overflow_reported", reported);
  RecordProperty("ended_before_the_launcher", before_the_launcher);
}

TEST_F(Limits, DescriptorLimitAtTheOpenLetsTheLaunchGoAhead) {
  if (e2e::kUnderEmulation) {
    GTEST_SKIP() << "limit_at_open follows the launcher with ptrace, which qemu-user does not "
                    "provide to the programs it runs";
  }
  app.WriteExampleSettings();
  // Descriptors 0, 1 and 2 are open, so a limit of 3 leaves none for init.ini.
  const RunResult result = Run({LIMIT_AT_OPEN_BINARY, "3", "init.ini", app.launcher});
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  const std::vector<std::string> unread = {
      "java", "--module-path", "", "--add-modules", "", "-classpath", app.dir.path() + "//", ""};
  EXPECT_EQ(e2e::ReadJavaRecord(app.record).args, unread);
}

std::vector<int> DescriptorNumbers(const JavaRecord& record) {
  std::vector<int> numbers;
  for (const std::string& fd : record.fds) numbers.push_back(std::stoi(fd));
  return numbers;
}

struct ClosedStart {
  const char* name;
  std::vector<int> closed;
  bool settings_directory;  // init.ini is a directory: its first read fails, the open succeeds
  bool java_missing;        // the launcher reports instead of starting Java
  // The launcher reports that Java cannot be started: the child's report of its failure comes
  // through a pipe, which may take the numbers of the closed descriptors.
  bool java_not_executable = false;
};

void PrintTo(const ClosedStart& start, std::ostream* out) { *out << start.name; }

class ClosedDescriptors : public Limits, public testing::WithParamInterface<ClosedStart> {};

TEST_P(ClosedDescriptors, JavaGetsTheSameDescriptorsClosed) {
  const ClosedStart& start = GetParam();
  const std::string home = start.java_missing ? app.dir / "missing" : app.java_home;
  if (start.settings_directory) {
    e2e::MakeDirs(app.dir / "init.ini");
  } else {
    app.WriteSettings(home + "\n/opt/modules\nmod.a,mod.b\napp.Main\n");
  }
  if (start.java_not_executable) {
    std::filesystem::permissions(home + "/bin/java", std::filesystem::perms(0644));
  }
  const bool reports = start.java_missing || start.java_not_executable;

  // What Java gets when the launcher starts with every standard descriptor open.
  const RunResult reference = Run({app.launcher});
  ASSERT_EQ(reference.exit_code, reports ? 217 : 0) << reference.err;
  const JavaRecord before = e2e::ReadJavaRecord(app.record);
  std::filesystem::remove(app.record);

  options.closed_fds = start.closed;
  const RunResult result = Run({app.launcher});
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, reference.exit_code);
  EXPECT_EQ(result.out, "");
  const bool closed_err = std::count(start.closed.begin(), start.closed.end(), 2) > 0;
  if (closed_err || !reports) {
    EXPECT_EQ(result.err, "");
  } else if (start.java_missing) {
    ExpectFailureReport(result.err, "EProcess: Executable not found: \"" + home + "/bin/java\"");
  } else {
    ExpectFailureReport(result.err,
                        "EProcess: Failed to execute \"" + home + "/bin/java\": Permission denied");
  }
  const JavaRecord record = e2e::ReadJavaRecord(app.record);
  ASSERT_EQ(record.present, before.present);
  if (!record.present) return;
  EXPECT_EQ(record.args, before.args);
  std::vector<int> expected = DescriptorNumbers(before);
  std::erase_if(expected, [&](int fd) {
    return std::count(start.closed.begin(), start.closed.end(), fd) > 0;
  });
  EXPECT_EQ(DescriptorNumbers(record), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Start, ClosedDescriptors,
    testing::Values(ClosedStart{"Input", {0}, false, false},
                    ClosedStart{"Output", {1}, false, false},
                    ClosedStart{"Error", {2}, false, false},
                    ClosedStart{"AllThree", {0, 1, 2}, false, false},
                    ClosedStart{"InputWithSettingsADirectory", {0}, true, false},
                    ClosedStart{"AllThreeWithSettingsADirectory", {0, 1, 2}, true, false},
                    ClosedStart{"OutputWithJavaMissing", {1}, false, true},
                    ClosedStart{"ErrorWithJavaMissing", {2}, false, true},
                    ClosedStart{"OutputWithJavaNotExecutable", {1}, false, false, true},
                    ClosedStart{"InputAndErrorWithJavaNotExecutable", {0, 2}, false, false, true},
                    ClosedStart{"AllThreeWithJavaNotExecutable", {0, 1, 2}, false, false, true}),
    [](const testing::TestParamInfo<ClosedStart>& row) { return row.param.name; });

TEST_F(Limits, InheritedIgnoredChildSignalStillWaitsForJava) {
  app.WriteExampleSettings();
  // With SIGCHLD ignored the kernel collects Java itself and the wait ends with ECHILD only once
  // Java has ended. A launcher that ended before Java would leave it to this test to collect.
  options.ignored_signals = {SIGCHLD};
  options.env.push_back("FAKE_JAVA_SLEEP_MS=300");
  const RunResult result = Run({app.launcher});
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(e2e::ReadJavaRecord(app.record).args, app.ExampleJavaArgs());
}

}  // namespace
}  // namespace reliability
