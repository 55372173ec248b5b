// A settings file that cannot be read, or fails part-way, on the real binary: the launcher starts
// Java with whatever it read, prints nothing, ends with Java's status, and Java holds no
// descriptor of init.ini.
// Failures of the system are injected with strace (only into the launcher, not into Java).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/tools.h"
#include "tests/support/e2e.h"
#include "tests/support/helpers.h"

namespace e2e {
namespace {

enum class Fault {
  kNone,
  kMissing,     // no init.ini
  kDirectory,   // init.ini is a directory
  kUnreadable,  // no read permission (as root: the launcher runs as nobody)
  kInjectOpen,  // the open of init.ini fails with `error`
  kInjectRead,  // read number `when` of init.ini fails with `error`
};

// Line 1 "jdk" is the stand-in below the working directory; line 3 spans three blocks.
const std::string kLongLine(600, 'a');
const std::string kSettings = "jdk\n/opt/mods\n" + kLongLine + "\napp.Main\n";

struct SettingsFailure {
  const char* name;
  Fault fault;
  const char* error = "";
  int when = 0;
  // What Java receives; the class path is not listed. An empty Java home finds "java" on PATH.
  std::vector<std::string> values = {"", "", "", ""};
  bool stdin_closed = false;
};

// Failure messages name the case rather than dump its bytes.
void PrintTo(const SettingsFailure& value, std::ostream* out) { *out << value.name; }

class SettingsFailureTest : public testing::TestWithParam<SettingsFailure> {
 protected:
  // Runs the launcher (under strace when a failure is injected) and returns its result.
  RunResult Run(const SettingsFailure& param, RunOptions& options) {
    const std::string settings = app.dir / "init.ini";
    switch (param.fault) {
      case Fault::kNone:
      case Fault::kMissing:
      case Fault::kDirectory:
        return RunProgram(app.launcher, options);
      case Fault::kUnreadable: {
        std::filesystem::permissions(settings, std::filesystem::perms::none);
        if (geteuid() != 0) return RunProgram(app.launcher, options);
        const std::string setpriv = FindTool("setpriv");
        if (setpriv.empty()) return {};
        // Everything but init.ini must be usable by nobody, and Java writes its record here.
        std::filesystem::permissions(app.dir.path(), std::filesystem::perms::all);
        options.argv = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", app.launcher};
        return RunProgram(setpriv, options);
      }
      case Fault::kInjectOpen: {
        // The open of init.ini is found by its number among the launcher's opens in a clean run
        // (a path filter would make strace print a note on standard error).
        const RunResult clean =
            RunUnderStrace(strace, {"-e", "trace=openat"}, trace, app.launcher, options);
        EXPECT_EQ(clean.exit_code, 0) << clean.err;
        std::filesystem::remove(app.record);
        const int number = CallNumberOf(trace, "\"init.ini\"");
        EXPECT_GT(number, 0) << ReadFile(trace);
        return RunUnderStrace(
            strace,
            {"-e", "trace=openat", "-e",
             "inject=openat:error=" + std::string(param.error) + ":when=" + std::to_string(number)},
            trace, app.launcher, options);
      }
      case Fault::kInjectRead:
        // Only calls on init.ini are traced, and counted.
        return RunUnderStrace(
            strace,
            {"-P", std::filesystem::canonical(settings).string(), "-e", "trace=read", "-e",
             "inject=read:error=" + std::string(param.error) +
                 ":when=" + std::to_string(param.when)},
            trace, app.launcher, options);
    }
    return {};
  }

  App app;
  std::string strace = FindTool("strace");
  std::string trace = app.dir / "trace.txt";
};

TEST_P(SettingsFailureTest, JavaStartsWithWhatWasRead) {
  const SettingsFailure& param = GetParam();
  const bool injected = param.fault == Fault::kInjectOpen || param.fault == Fault::kInjectRead;
  if (injected && strace.empty()) GTEST_SKIP() << "strace is not installed";
  if (param.fault == Fault::kUnreadable && geteuid() == 0 && FindTool("setpriv").empty()) {
    GTEST_SKIP() << "setpriv is not installed";
  }
  const std::string path_dir = app.dir / "on-path";
  MakeDirs(path_dir);
  CopyFile(FakeJavaBinary(), path_dir + "/java");
  MakeDirs(app.dir / "jdk/bin");
  CopyFile(FakeJavaBinary(), app.dir / "jdk/bin/java");
  if (param.fault == Fault::kDirectory) {
    MakeDirs(app.dir / "init.ini");
  } else if (param.fault != Fault::kMissing) {
    app.WriteSettings(kSettings);
  }

  RunOptions options;
  options.cwd = app.dir.path();
  options.env = LaunchEnv(path_dir, app.record);
  options.close_other_fds = true;
  if (param.stdin_closed) options.closed_fds = {0};
  const RunResult result = Run(param, options);

  ASSERT_FALSE(result.timed_out);
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  if (injected) {
    EXPECT_NE(ReadFile(trace).find("(INJECTED)"), std::string::npos) << ReadFile(trace);
  }
  const JavaRecord record = ReadJavaRecord(app.record);
  ASSERT_TRUE(record.present);
  const std::vector<std::string> expected = {
      param.values[0].empty() ? "java" : param.values[0] + "/bin/java",
      "--module-path",
      param.values[1],
      "--add-modules",
      param.values[2],
      "-classpath",
      app.dir.path() + "//",
      param.values[3]};
  EXPECT_EQ(record.args, expected);
  // Exactly the descriptors the launcher was started with: init.ini is not among them, not even
  // as standard input when the launcher had none.
  std::set<int> descriptors;
  for (const std::string& fd : record.fds) descriptors.insert(std::stoi(fd));
  const std::set<int> expected_descriptors =
      param.stdin_closed ? std::set<int>{1, 2} : std::set<int>{0, 1, 2};
  EXPECT_EQ(descriptors, expected_descriptors) << testing::PrintToString(record.fds);
}

const std::vector<std::string> kAllRead = {"jdk", "/opt/mods", kLongLine, "app.Main"};
// Read 2 fails: the first block held lines 1 and 2 and the first 242 bytes of line 3.
const std::vector<std::string> kFirstBlockRead = {"jdk", "/opt/mods", std::string(242, 'a'), ""};
const std::vector<std::string> kTwoBlocksRead = {"jdk", "/opt/mods", std::string(498, 'a'), ""};

INSTANTIATE_TEST_SUITE_P(
    Failures, SettingsFailureTest,
    testing::Values(
        SettingsFailure{"ReadInFull", Fault::kNone, "", 0, kAllRead},
        SettingsFailure{"Missing", Fault::kMissing},
        SettingsFailure{"ADirectory", Fault::kDirectory},
        SettingsFailure{"NoReadPermission", Fault::kUnreadable},
        SettingsFailure{"OpenNotPermitted", Fault::kInjectOpen, "EPERM"},
        SettingsFailure{"OpenOutOfMemory", Fault::kInjectOpen, "ENOMEM"},
        SettingsFailure{"OpenInvalidArgument", Fault::kInjectOpen, "EINVAL"},
        SettingsFailure{"OpenTooManyFiles", Fault::kInjectOpen, "EMFILE"},
        SettingsFailure{"FirstReadFails", Fault::kInjectRead, "EIO", 1},
        SettingsFailure{"SecondReadFails", Fault::kInjectRead, "EIO", 2, kFirstBlockRead},
        SettingsFailure{"ThirdReadFails", Fault::kInjectRead, "EIO", 3, kTwoBlocksRead},
        SettingsFailure{"ReadOutOfMemory", Fault::kInjectRead, "ENOMEM", 2, kFirstBlockRead},
        SettingsFailure{"ReadInvalidArgument", Fault::kInjectRead, "EINVAL", 2, kFirstBlockRead},
        SettingsFailure{"ReadInFullWithoutStandardInput", Fault::kNone, "", 0, kAllRead, true},
        SettingsFailure{"ReadFailsWithoutStandardInput", Fault::kInjectRead, "EIO", 2,
                        kFirstBlockRead, true}),
    [](const testing::TestParamInfo<SettingsFailure>& param_info) {
      return param_info.param.name;
    });

}  // namespace
}  // namespace e2e
