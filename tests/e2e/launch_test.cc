// The launcher's command line to Java, end to end: the real binary and the stand-in java.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/e2e.h"
#include "tests/support/emulation.h"
#include "tests/support/helpers.h"

namespace e2e {
namespace {

std::vector<std::string> JavaCommand(const std::string& program, const std::string& module_path,
                                     const std::string& modules, const std::string& class_path,
                                     const std::string& main_class) {
  return {program, "--module-path", module_path, "--add-modules",
          modules, "-classpath",    class_path,  main_class};
}

TEST(Launch, WorkedExampleGivesTheSevenArgumentsByteExact) {
  App app;
  app.WriteExampleSettings();
  RunOptions options;
  options.cwd = app.dir.path();
  options.env = LaunchEnv("/usr/bin:/bin", app.record);
  const RunResult result = RunProgram(app.launcher, options);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  const JavaRecord record = ReadJavaRecord(app.record);
  ASSERT_TRUE(record.present);
  EXPECT_EQ(record.args, app.ExampleJavaArgs());
  EXPECT_EQ(record.cwd, app.dir.path());
}

// init.ini as written ("<none>": no file; "{JDK}" stands for the Java home) and the exact argument
// vector Java receives ("{DIR}" stands for the launcher's directory). When line 1 is empty, "java"
// is found through PATH, which leads to a copy of the stand-in.
struct SettingsCase {
  const char* name;
  const char* settings;
  std::vector<std::string> args;
};

// Failure messages name the case rather than dump its bytes.
void PrintTo(const SettingsCase& value, std::ostream* out) { *out << value.name; }

class LaunchSettings : public testing::TestWithParam<SettingsCase> {};

TEST_P(LaunchSettings, JavaReceivesExactlyTheseArguments) {
  const SettingsCase& param = GetParam();
  App app;
  const std::string path_dir = app.dir / "on-path";
  MakeDirs(path_dir);
  CopyFile(FakeJavaBinary(), path_dir + "/java");
  if (std::string(param.settings) != "<none>") {
    app.WriteSettings(Replace(param.settings, "{JDK}", app.java_home));
  }
  RunOptions options;
  options.cwd = app.dir.path();
  options.env = LaunchEnv(path_dir, app.record);
  const RunResult result = RunProgram(app.launcher, options);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  const JavaRecord record = ReadJavaRecord(app.record);
  ASSERT_TRUE(record.present);
  std::vector<std::string> expected;
  for (const std::string& arg : param.args) {
    expected.push_back(Replace(Replace(arg, "{JDK}", app.java_home), "{DIR}", app.dir.path()));
  }
  EXPECT_EQ(record.args, expected);
  // Argument 0 is the program as the launcher named it; the file that ran is the one intended.
  EXPECT_EQ(record.exe, expected[0] == "java" ? path_dir + "/java" : app.java_home + "/bin/java");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LaunchSettings,
    testing::Values(
        SettingsCase{"NoSettingsFile", "<none>", JavaCommand("java", "", "", "{DIR}//", "")},
        SettingsCase{"EmptyFile", "", JavaCommand("java", "", "", "{DIR}//", "")},
        SettingsCase{"TwoLines", "{JDK}\n/opt/mods\n",
                     JavaCommand("{JDK}/bin/java", "/opt/mods", "", "{DIR}//", "")},
        SettingsCase{"BlankLinesOneToThree", "\n\n\napp.Main\n",
                     JavaCommand("java", "", "", "{DIR}//", "app.Main")},
        SettingsCase{"BlankMiddleLinesKeepTheirPlaces", "{JDK}\n\nmod.a\n",
                     JavaCommand("{JDK}/bin/java", "", "mod.a", "{DIR}//", "")},
        // A trailing slash on the Java home gets no second one; CR LF and a lone CR end lines;
        // blanks, tabs, bytes above 0x7F and Ctrl-Z are kept; a fifth line is ignored.
        SettingsCase{"ByteExactValues",
                     "{JDK}/\r\n /opt/my mods\t\r\nmod\xC3\xA9\x1A,b\rMain \nfifth\n",
                     JavaCommand("{JDK}/bin/java", " /opt/my mods\t", "mod\xC3\xA9\x1A,b",
                                 "{DIR}//", "Main ")}),
    [](const testing::TestParamInfo<SettingsCase>& param_info) { return param_info.param.name; });

// The launcher in its own directory (with an init.ini of its own), a work directory with another
// init.ini, and an empty directory without one. However it is started, the class path is the
// directory that holds the launcher file, and init.ini comes from the working directory only.
class LaunchInvocation : public testing::Test {
 protected:
  LaunchInvocation() {
    app.WriteSettings(app.java_home + "\n/from/app/dir\n");
    app.WriteSettings(app.java_home + "\n/from/work/dir\n", work.path());
    MakeDirs(path_dir);
    CopyFile(FakeJavaBinary(), path_dir + "/java");
  }

  // Runs `program` with `argv` in `cwd` and checks that Java got `module_path` and the
  // launcher's directory as class path.
  void ExpectLaunch(const std::string& program, std::vector<std::string> argv,
                    const std::string& cwd, const std::string& module_path,
                    const std::string& extra_path = "") {
    RunOptions options;
    options.argv = std::move(argv);
    options.cwd = cwd;
    options.env = LaunchEnv(extra_path + path_dir, app.record);
    std::filesystem::remove(app.record);
    const RunResult result = RunProgram(program, options);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    const JavaRecord record = ReadJavaRecord(app.record);
    ASSERT_TRUE(record.present);
    const std::string java = module_path.empty() ? "java" : app.java_home + "/bin/java";
    EXPECT_EQ(record.args, JavaCommand(java, module_path, "", app.dir.path() + "//", ""));
    EXPECT_EQ(record.cwd, cwd);
  }

  App app;
  TempDir work;
  TempDir empty;
  std::string path_dir = empty / "path-bin";
};

TEST_F(LaunchInvocation, ByFullPathFromItsOwnDirectory) {
  ExpectLaunch(app.launcher, {}, app.dir.path(), "/from/app/dir");
}

TEST_F(LaunchInvocation, FromAnotherDirectoryReadsThatDirectorysSettings) {
  ExpectLaunch(app.launcher, {}, work.path(), "/from/work/dir");
}

TEST_F(LaunchInvocation, TheLaunchersOwnSettingsAreNotReadFromElsewhere) {
  // The empty directory has no init.ini: everything is empty and "java" comes from PATH, although
  // the launcher's directory holds an init.ini.
  ExpectLaunch(app.launcher, {}, empty.path(), "");
}

TEST_F(LaunchInvocation, ByRelativePath) {
  ExpectLaunch("./launcher", {"./launcher"}, app.dir.path(), "/from/app/dir");
}

TEST_F(LaunchInvocation, ThroughSymbolicLinksClassPathIsTheTargetsDirectory) {
  const std::string link = work / "link-to-launcher";
  const std::string link_to_link = work / "link-to-link";
  std::filesystem::create_symlink(app.launcher, link);
  std::filesystem::create_symlink("link-to-launcher", link_to_link);
  ExpectLaunch(link, {}, work.path(), "/from/work/dir");
  ExpectLaunch(link_to_link, {}, work.path(), "/from/work/dir");
}

TEST_F(LaunchInvocation, FoundThroughPathByAShell) {
  ExpectLaunch("/bin/sh", {"sh", "-c", "exec launcher"}, work.path(), "/from/work/dir",
               app.dir.path() + ":");
}

TEST_F(LaunchInvocation, ItsOwnArgumentsAndArgumentZeroAreIgnored) {
  ExpectLaunch(app.launcher,
               {app.launcher, "--module-path", "/evil", "-classpath", "/elsewhere", "Other", ""},
               work.path(), "/from/work/dir");
  ExpectLaunch(app.launcher, {"/usr/bin/not-the-launcher"}, work.path(), "/from/work/dir");
  ExpectLaunch(app.launcher, {""}, work.path(), "/from/work/dir");
}

// A launcher installed deep down still gets its whole directory as class path.
class LaunchDeepInstall : public testing::TestWithParam<std::size_t> {};

TEST_P(LaunchDeepInstall, ClassPathIsTheWholeDirectory) {
  const std::size_t wanted = GetParam();
  App app;
  app.WriteSettings(app.java_home + "\n");
  std::string deep = app.dir.path();
  for (int level = 0; deep.size() < wanted; ++level) {
    deep += "/" + std::string(60, static_cast<char>('a' + level % 26));
  }
  MakeDirs(deep);
  const std::string launcher = deep + "/launcher";
  CopyFile(LauncherBinary(), launcher);
  ASSERT_GT(launcher.size(), wanted);
  RunOptions options;
  options.cwd = app.dir.path();
  options.env = LaunchEnv("/usr/bin:/bin", app.record);
  const RunResult result = RunProgram(launcher, options);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  const JavaRecord record = ReadJavaRecord(app.record);
  ASSERT_TRUE(record.present);
  EXPECT_EQ(record.args, JavaCommand(app.java_home + "/bin/java", "", "", deep + "//", ""));
}

INSTANTIATE_TEST_SUITE_P(Lengths, LaunchDeepInstall, testing::Values(256, 1000, 3000));

// However Java ends, the launcher ends the same way, and only after Java: with Java's exit code,
// or by the signal that killed Java, without a core dump of its own (Java, the stand-in, leaves
// none) and without a word, also where core dumps are allowed. An ignored SIGCHLD that the
// launcher inherited does not lose Java's status.
struct JavaEnd {
  const char* name;
  std::vector<std::string> env;
  int exit_code;  // or -1
  int signal;     // or 0
  std::vector<int> ignored_signals = {};
};

// Failure messages name the case rather than dump its bytes.
void PrintTo(const JavaEnd& value, std::ostream* out) { *out << value.name; }

class LaunchJavaEnd : public testing::TestWithParam<JavaEnd> {};

TEST_P(LaunchJavaEnd, LauncherEndsAsJavaDid) {
  const JavaEnd& end = GetParam();
  App app;
  app.WriteSettings(app.java_home + "\n");
  RunOptions options;
  options.cwd = app.dir.path();
  options.env = LaunchEnv("/usr/bin:/bin", app.record, end.env);
  options.ignored_signals = end.ignored_signals;
  options.allow_core_dump = true;
  const RunResult result = RunProgram(app.launcher, options);
  EXPECT_EQ(result.exited, end.signal == 0);
  EXPECT_EQ(result.exit_code, end.exit_code);
  EXPECT_EQ(result.signal, end.signal);
  EXPECT_FALSE(result.core_dumped);
  EXPECT_EQ(result.out, "");
  std::string err = result.err;
  if (kUnderEmulation) {
    // qemu-user reports the end of an emulated program by a signal that dumps core (that of the
    // stand-in and that of the launcher) with a line of its own, and says "core dumped" whether
    // or not it wrote a core.
    for (const std::string& line : SplitLines(result.err)) {
      if (line.starts_with("qemu: uncaught target signal ")) err = Replace(err, line + "\n", "");
    }
  }
  EXPECT_EQ(err, "");
  EXPECT_TRUE(ReadJavaRecord(app.record).present);
  for (const auto& entry : std::filesystem::directory_iterator(app.dir.path())) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("core")) << entry.path();
  }
}

std::string Killed(int sig) { return "FAKE_JAVA_SIGNAL=" + std::to_string(sig); }

INSTANTIATE_TEST_SUITE_P(
    Ends, LaunchJavaEnd,
    testing::Values(
        JavaEnd{"Exit0", {}, 0, 0}, JavaEnd{"Exit1", {"FAKE_JAVA_EXIT=1"}, 1, 0},
        JavaEnd{"Exit3", {"FAKE_JAVA_EXIT=3"}, 3, 0},
        JavaEnd{"Exit255", {"FAKE_JAVA_EXIT=255"}, 255, 0},
        JavaEnd{"Exit3WithSigchldIgnored", {"FAKE_JAVA_EXIT=3"}, 3, 0, {SIGCHLD}},
        JavaEnd{"KilledBySigkill", {Killed(SIGKILL)}, -1, SIGKILL},
        JavaEnd{"KilledBySigterm", {Killed(SIGTERM)}, -1, SIGTERM},
        JavaEnd{"KilledBySigtermWithSigtermIgnored", {Killed(SIGTERM)}, -1, SIGTERM, {SIGTERM}},
        JavaEnd{"KilledBySigsegv", {Killed(SIGSEGV)}, -1, SIGSEGV},
        JavaEnd{"KilledBySigabrt", {Killed(SIGABRT)}, -1, SIGABRT},
        JavaEnd{"KilledBySigquit", {Killed(SIGQUIT)}, -1, SIGQUIT},
        JavaEnd{"KilledByRealTimeSignal", {Killed(SIGRTMIN + 5)}, -1, SIGRTMIN + 5}),
    [](const testing::TestParamInfo<JavaEnd>& param_info) { return param_info.param.name; });

TEST(Launch, EndsOnlyAfterJavaHasEnded) {
  App app;
  app.WriteSettings(app.java_home + "\n");
  RunOptions options;
  options.cwd = app.dir.path();
  // Java first waits, then writes its record. Its output streams are files, so the harness waits
  // for the launcher alone, not for Java's pipes.
  options.env = LaunchEnv("/usr/bin:/bin", app.record, {"FAKE_JAVA_DELAY_MS=500"});
  options.stdout_path = app.dir / "out.txt";
  options.stderr_path = app.dir / "err.txt";
  const RunResult result = RunProgram(app.launcher, options);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(ReadJavaRecord(app.record).present) << "the launcher ended before Java";
  EXPECT_EQ(ReadFile(options.stderr_path), "");
  EXPECT_EQ(ReadFile(options.stdout_path), "");
}

}  // namespace
}  // namespace e2e
