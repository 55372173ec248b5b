// The launcher's failures before Java runs, end to end: the report on standard error, exit status
// 217, nothing on standard output, no Java and no child left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/tools.h"
#include "tests/support/e2e.h"
#include "tests/support/emulation.h"
#include "tests/support/helpers.h"

namespace e2e {
namespace {

// Checks a failed run: exit 217, `err` is exactly the report with `line2`, nothing else.
void ExpectFailedRun(const RunResult& result, const std::string& err, const std::string& line2) {
  EXPECT_FALSE(result.timed_out);
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 217);
  ExpectFailureReport(err, line2);
}

// An application directory and a separate working directory, with no init.ini yet; the
// launcher's children are watched so that one left behind is seen.
class FailureReport : public testing::Test {
 protected:
  RunOptions Options(const std::string& path_variable) const {
    RunOptions options;
    options.cwd = work.path();
    options.env = LaunchEnv(path_variable, app.record);
    return options;
  }

  // Runs the launcher with `options` and checks the report (on a pipe) and the absence of Java.
  void ExpectReport(const RunOptions& options, const std::string& line2) {
    const RunResult result = RunProgram(app.launcher, options);
    ExpectFailedRun(result, result.err, line2);
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(ReadJavaRecord(app.record).present) << "Java ran";
    // Without adopting (only under emulation) a child left behind goes to init, unseen here.
    if (orphans.Adopting()) {
      EXPECT_TRUE(orphans.NoneLeft()) << "the launcher left a child behind";
    }
  }

  App app;
  TempDir work;
  OrphanWatch orphans;
};

TEST_F(FailureReport, JavaNotFoundNamesJava) {
  // Nothing named java that is not a directory: neither in the working directory nor on PATH.
  MakeDirs(work / "java");
  MakeDirs(work / "bin/java");
  ExpectReport(Options(work / "bin:" + work.path() + ":/nonexistent"),
               "EProcess: Executable not found: \"java\"");
  ExpectReport(Options(""), "EProcess: Executable not found: \"java\"");
  RunOptions no_path = Options("");
  no_path.env.erase(no_path.env.begin());  // PATH unset
  ExpectReport(no_path, "EProcess: Executable not found: \"java\"");
}

TEST_F(FailureReport, JavaNotFoundNamesTheProgramBuiltFromJavaHome) {
  app.WriteSettings("/nonexistent\n", work.path());
  ExpectReport(Options("/usr/bin:/bin"),
               "EProcess: Executable not found: \"/nonexistent/bin/java\"");
  app.WriteSettings("/opt/no such jdk \n", work.path());
  ExpectReport(Options("/usr/bin:/bin"),
               "EProcess: Executable not found: \"/opt/no such jdk /bin/java\"");
}

TEST_F(FailureReport, CompleteWhenStandardErrorIsAFile) {
  RunOptions options = Options("");
  options.stderr_path = app.dir / "err.txt";
  options.stdout_path = app.dir / "out.txt";
  const RunResult result = RunProgram(app.launcher, options);
  ExpectFailedRun(result, ReadFile(options.stderr_path),
                  "EProcess: Executable not found: \"java\"");
  EXPECT_EQ(ReadFile(options.stdout_path), "");
}

TEST_F(FailureReport, ArrivesOnATerminal) {
  const RunResult result = RunOnTerminal(app.launcher, Options(""));
  // Standard output shares the terminal, so everything that arrived is the report.
  ExpectFailedRun(result, result.out, "EProcess: Executable not found: \"java\"");
}

// The system would take the program name only up to the NUL, so a stand-in waits there: it
// must not run. The report names the program byte for byte, NUL included.
TEST_F(FailureReport, JavaHomeWithANulIsNotFoundAndNamedWhole) {
  CopyFile(FakeJavaBinary(), work / "tool");
  for (const std::string& home : {work / "tool", std::string("tool")}) {
    const std::string line1 = home + std::string("\0/jdk", 5);
    app.WriteSettings(line1 + "\n", work.path());
    ExpectReport(Options("/usr/bin:/bin"),
                 "EProcess: Executable not found: \"" + line1 + "/bin/java\"");
  }
}

TEST_F(FailureReport, TenMegabyteJavaHomeReachesTheReportIntact) {
  const std::string home(10 << 20, 'x');
  app.WriteSettings(home + "\n", work.path());
  ExpectReport(Options("/usr/bin:/bin"),
               "EProcess: Executable not found: \"" + home + "/bin/java\"");
}

// A java that is found but cannot be started: the system's reason, with the path that was tried.
struct ExecCase {
  const char* name;
  const char* settings;      // init.ini in the working directory; "{W}" is that directory
  const char* java_path;     // the java the launcher finds, below the working directory
  const char* java_content;  // "": the stand-in
  int java_mode;
  const char* path_variable;  // "{W}" as above
  const char* reported_path;  // as named in the report; "{W}" as above
  const char* reason;
  std::size_t module_path_bytes = 0;  // a line 2 of this many bytes is added to init.ini
};

// Failure messages name the case rather than dump its bytes.
void PrintTo(const ExecCase& value, std::ostream* out) { *out << value.name; }

class ExecFailure : public FailureReport, public testing::WithParamInterface<ExecCase> {};

TEST_P(ExecFailure, ReportsTheSystemsReason) {
  const ExecCase& param = GetParam();
  const std::string java = work / param.java_path;
  MakeDirs(std::filesystem::path(java).parent_path());
  if (*param.java_content == '\0') {
    CopyFile(FakeJavaBinary(), java);
  } else {
    WriteFile(java, param.java_content);
  }
  std::filesystem::permissions(java, static_cast<std::filesystem::perms>(param.java_mode));
  std::string settings = Replace(param.settings, "{W}", work.path());
  if (param.module_path_bytes > 0) settings += std::string(param.module_path_bytes, 'm') + "\n";
  if (!settings.empty()) app.WriteSettings(settings, work.path());
  ExpectReport(Options(Replace(param.path_variable, "{W}", work.path())),
               "EProcess: Failed to execute \"" + Replace(param.reported_path, "{W}", work.path()) +
                   "\": " + param.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, ExecFailure,
    testing::Values(ExecCase{"NoExecutePermission", "{W}/jdk\n", "jdk/bin/java", "", 0644,
                             "/usr/bin:/bin", "{W}/jdk/bin/java", "Permission denied"},
                    ExecCase{"NoExecutePermissionInWorkingDirectoryWinsOverPath", "", "java", "",
                             0644, "/usr/bin:/bin", "java", "Permission denied"},
                    ExecCase{"NoExecutePermissionOnAnEarlierPathElementWins", "", "b/java", "",
                             0600, "{W}/b:/usr/bin:/bin", "{W}/b/java", "Permission denied"},
                    ExecCase{"NotAnExecutableFormat", "{W}/jdk\n", "jdk/bin/java",
                             "this is no program\n", 0755, "/usr/bin:/bin", "{W}/jdk/bin/java",
                             "Exec format error"},
                    ExecCase{"MissingInterpreter", "{W}/jdk\n", "jdk/bin/java",
                             "#!/nonexistent/interpreter\n", 0755, "/usr/bin:/bin",
                             "{W}/jdk/bin/java", "No such file or directory"},
                    // One argument longer than the kernel takes (128 KiB).
                    ExecCase{"ArgumentListTooLong", "{W}/jdk\n", "jdk/bin/java", "", 0755,
                             "/usr/bin:/bin", "{W}/jdk/bin/java", "Argument list too long",
                             200 << 10}),
    [](const testing::TestParamInfo<ExecCase>& param_info) { return param_info.param.name; });

TEST_F(FailureReport, ForkFailure) {
  const std::string strace = FindTool("strace");
  if (strace.empty()) GTEST_SKIP() << "strace is not installed";
  if (kUnderEmulation) {
    GTEST_SKIP() << "strace would follow qemu-user, whose system calls are the emulator's, not "
                    "the launcher's";
  }
  app.WriteSettings(app.java_home + "\n", work.path());
  // Which call creates the child: find it in a trace of a normal run, then make it fail.
  const std::string trace = app.dir / "trace.txt";
  RunOptions options = Options("/usr/bin:/bin");
  const RunResult normal =
      RunUnderStrace(strace, {"-e", "trace=fork,vfork,clone,clone3"}, trace, app.launcher, options);
  ASSERT_EQ(normal.exit_code, 0) << normal.err;
  const std::string first_call = SplitLines(ReadFile(trace)).front();
  const std::string call = first_call.substr(0, first_call.find('('));
  ASSERT_FALSE(call.empty()) << ReadFile(trace);
  std::filesystem::remove(app.record);

  const RunResult result =
      RunUnderStrace(strace, {"-e", "trace=" + call, "-e", "inject=" + call + ":error=EAGAIN"},
                     trace, app.launcher, options);
  ExpectFailedRun(result, result.err, "EProcess: Failed to Fork process");
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(ReadJavaRecord(app.record).present) << "Java ran";
  EXPECT_NE(ReadFile(trace).find("(INJECTED)"), std::string::npos) << ReadFile(trace);
}

}  // namespace
}  // namespace e2e
