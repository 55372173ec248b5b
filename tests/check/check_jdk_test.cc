// launcher-check with the real JDK: applications compiled with javac when the tests are built
// (tests/check/java, compile_app.cmake), and the JavaFX example. Where the check says the
// application starts, the launcher starts it; where it names a problem, the real java's words go
// with it, and the launcher then ends as the check said; and the application's main never runs
// during the check.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/check/check_report.h"
#include "tests/support/e2e.h"
#include "tests/support/emulation.h"
#include "tests/support/helpers.h"
#include "tests/support/missing_tool.h"

namespace e2e {
namespace {

constexpr double kTimeout = 240;

// The Java the launcher starts: the one of the processor built for, or javac's own.
std::string JavaHome() {
  const std::string runtime = JAVA_RUNTIME_HOME;
  if (!runtime.empty()) return runtime;
  char real[PATH_MAX];
  if (realpath(JAVAC_BINARY, real) == nullptr) return "";
  const std::string bin = std::string(real).substr(0, std::string(real).rfind('/'));
  return bin.substr(0, bin.rfind('/'));
}

std::string Compiled(const std::string& relative) {
  return std::string(CHECK_APP_DIR) + "/" + relative;
}

// A directory D with D/app (the launcher, Main.class, NoMain.class, and Tool.class: the class
// pkg.Tool put there without its package directory) and D/work, the working directory. In
// init.ini and in the expected texts, "{H}" stands for the Java home, "{M}" for the directory of
// the module app.greeting, "{MM}" for that of app.main, "{A}" for D/app and "{D}" for D.
class CheckWithJdk : public testing::Test {
 protected:
  void SetUp() override {
    java_home_ = JavaHome();
    ASSERT_FALSE(java_home_.empty()) << "no Java for " << JAVAC_BINARY;
    MakeDirs(dir_ / "app");
    MakeDirs(dir_ / "work");
    for (const char* name : {"Main.class", "NoMain.class"}) {
      CopyFile(Compiled("classes/") + name, dir_ / ("app/" + std::string(name)));
    }
    CopyFile(Compiled("classes/pkg/Tool.class"), dir_ / "app/Tool.class");
    CopyFile(LauncherBinary(), dir_ / "app/launcher");
    cwd_ = dir_ / "work";
    launcher_ = "../app/launcher";
    env_ = {"PATH=" + java_home_ + "/bin:/usr/bin:/bin"};
  }

  std::string Fill(const std::string& text) const {
    std::string filled = Replace(text, "{H}", java_home_);
    filled = Replace(filled, "{MM}", Compiled("modules-main"));
    filled = Replace(filled, "{M}", Compiled("modules"));
    filled = Replace(filled, "{A}", dir_ / "app");
    return Replace(filled, "{D}", dir_.path());
  }
  void WriteSettings(const std::string& content) const {
    WriteFile(cwd_ + "/init.ini", Fill(content));
  }

  RunResult Run(const std::string& program, const std::vector<std::string>& arguments) const {
    RunOptions options;
    options.cwd = cwd_;
    options.env = env_;
    options.argv = {program};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.timeout_seconds = kTimeout;
    return RunProgram(program, options);
  }
  RunResult Check() const { return Run(CHECK_BINARY, {"--timeout=200", launcher_}); }
  RunResult Launch() const { return Run(launcher_, {}); }

 public:
  TempDir dir_;
  std::string java_home_;
  std::string cwd_;
  std::string launcher_;  // as the check is given it, from cwd_
  std::vector<std::string> env_;
};

TEST_F(CheckWithJdk, WorkingApplicationPassesAndMainNeverRuns) {
  WriteSettings("{H}\n{M}\napp.greeting\nMain\n");
  const RunResult check = Check();
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  EXPECT_TRUE(Contains(check.out, "  Java ended with exit status 0 and wrote nothing.\n"))
      << check.out;
  EXPECT_TRUE(Contains(check.out, "\nNo problem found: the launcher starts the application.\n"));
  EXPECT_FALSE(Contains(check.out, "Main initialised"));
  EXPECT_FALSE(std::filesystem::exists(cwd_ + "/main-ran")) << "the check ran main";

  const RunResult launch = Launch();
  EXPECT_EQ(launch.exit_code, 0) << launch.err;
  EXPECT_EQ(launch.out, "Main initialised\nHello from module app.greeting\n") << launch.err;
  EXPECT_TRUE(std::filesystem::exists(cwd_ + "/main-ran"));
}

TEST_F(CheckWithJdk, MainClassFoundInAModuleAdded) {
  std::filesystem::remove(dir_ / "app/Main.class");
  WriteSettings("{H}\n{M}:{MM}\napp.main\napp.main.Main\n");
  const RunResult check = Check();
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  EXPECT_TRUE(Contains(check.out,
                       "\n  Java found the main class in module app.main, not below the "
                       "launcher's directory.\n"))
      << check.out;
  const RunResult launch = Launch();
  EXPECT_EQ(launch.exit_code, 0) << launch.err;
  EXPECT_EQ(launch.out, "Hello from module app.greeting, main class in module app.main\n");
}

// What the real java says for each mistake, the problems the check lists for it (exactly, in
// order, with Java's words and the fixes; "{JAVAS}" is the hint of the Java installations), how the
// check closes, and that the launcher then starts Java all the same and ends as the check said.
struct JavaMistake {
  const char* name;
  const char* settings;  // nullptr: no init.ini
  std::vector<Listed> problems;
  std::string closing;
  int launcher_status = 1;  // the launcher's exit status: Java's
  std::function<void(CheckWithJdk&)> prepare = nullptr;
  friend void PrintTo(const JavaMistake& row, std::ostream* out) { *out << row.name; }
};

class RealJavaMistakes : public CheckWithJdk, public testing::WithParamInterface<JavaMistake> {};

constexpr char kStops[] =
    "The launcher would start Java, and Java would stop as it did above: the launcher would end "
    "with exit status 1, Java's.";
constexpr char kMayNotRun[] =
    "The launcher would start Java, but the problems above may keep the application from running "
    "as meant; the launcher would end with the application's exit status.";

TEST_P(RealJavaMistakes, AreListedWithJavasWords) {
  const JavaMistake& row = GetParam();
  if (row.prepare) row.prepare(*this);
  if (row.settings != nullptr) WriteSettings(row.settings);
  const RunResult check = Check();
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 1) << check.out << check.err;
  const std::string hint = JavasHint();
  std::vector<Listed> expected;
  for (const Listed& problem : row.problems) {
    expected.push_back(
        {Fill(problem.head), Fill(problem.java), Replace(Fill(problem.fix), "{JAVAS}", hint)});
  }
  const Report report = Parse(check.out);
  EXPECT_EQ(report.problems, expected) << check.out;
  EXPECT_EQ(report.closing, row.closing) << check.out;
  EXPECT_FALSE(std::filesystem::exists(cwd_ + "/main-ran"));

  const RunResult launch = Launch();
  EXPECT_EQ(launch.exit_code, row.launcher_status) << launch.out << launch.err;
  // Java's words in the check are those the application's start gives, up to its first line.
  for (const Listed& problem : expected) {
    if (problem.java.empty()) continue;
    const std::string first = problem.java.substr(0, problem.java.find('\n'));
    EXPECT_TRUE(Contains(launch.out + launch.err, first)) << launch.out << launch.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Check, RealJavaMistakes,
    testing::Values(
        JavaMistake{
            "NoInitIni",
            nullptr,
            {{"init.ini: there is no init.ini in the working directory {D}/work (the launcher "
              "reads it from the directory it is started from, not from its own), so the "
              "launcher starts Java with four empty values",
              "Error: --module-path requires module path specification",
              "write init.ini with its four lines in {D}/work, or start the launcher from the "
              "directory that holds it"}},
            kStops},
        JavaMistake{"NoModules",
                    "{H}\n{M}\n\nMain\n",
                    {{"line 3: there are no modules to add: the line is empty",
                      "Error: --add-modules requires modules to be specified",
                      "write on line 3 the modules to add, separated by commas (for example "
                      "app.greeting)"}},
                    kStops},
        JavaMistake{
            "MisspeltModule",
            "{H}\n{M}\napp.greting\nMain\n",
            {{"line 3: there is no module \"app.greting\" on the module path of line 2, nor "
              "in the Java runtime; did you mean \"app.greeting\"?",
              "java.lang.module.FindException: Module app.greting not found",
              "write \"app.greeting\" on line 3: \"app.greeting\""}},
            kStops},
        // The entry of line 2 that is not there explains the module Java does not find.
        JavaMistake{"ModulePathEntryMissing",
                    "{H}\n{D}/lib\napp.greeting\nMain\n",
                    {{"line 2: the module path names what does not exist: \"{D}/lib\" (Java passes "
                      "over it without a word)",
                      "java.lang.module.FindException: Module app.greeting not found",
                      "correct line 2: directories of modules or modular JAR files, separated by "
                      "\":\"; a relative one is taken from the working directory"}},
                    kStops},
        JavaMistake{"BlankAfterComma",
                    "{H}\n{M}\napp.greeting, java.sql\nMain\n",
                    {{"line 3: a blank stands beside a comma, and Java takes it as part of a "
                      "module's name (it splits line 3 at the commas alone)",
                      "java.lang.module.FindException: Module  java.sql not found",
                      "remove the blanks: \"app.greeting,java.sql\""}},
                    kStops},
        // The dry run loads the main class alone; the class it uses is in a module line 3 leaves
        // out, and the application would stop at its first use.
        JavaMistake{
            "ModuleTheMainClassUsesLeftOut",
            "{H}\n{M}\njava.sql\nMain\n",
            {{"line 3: the application's class Main uses app.greeting.Greeting, from module "
              "\"app.greeting\" on the module path, which line 3 does not add: Java would "
              "stop with NoClassDefFoundError when it comes to it",
              "", "add \"app.greeting\" to line 3: \"java.sql,app.greeting\""}},
            kMayNotRun},
        JavaMistake{"MainClassInAModuleNotAdded",
                    "{H}\n{M}:{MM}\napp.greeting\napp.main.Main\n",
                    {{"line 3: the main class \"app.main.Main\" is in module \"app.main\" on the "
                      "module path of line 2, which line 3 does not add",
                      "Error: Could not find or load main class app.main.Main\n"
                      "Caused by: java.lang.ClassNotFoundException: app.main.Main",
                      "add \"app.main\" to line 3: \"app.greeting,app.main\""}},
                    kStops},
        JavaMistake{"OwnModuleOnLine3",
                    "{H}\n{M}\napp.main\napp.main.Main\n",
                    {{"line 3: module \"app.main\" is the application's own module, whose "
                      "module-info.class lies beside the launcher: its classes are on the class "
                      "path, in no module, so Java does not find it as a module and it is not "
                      "needed on line 3",
                      "java.lang.module.FindException: Module app.main not found",
                      "remove it from line 3: \"app.greeting\""}},
                    kStops,
                    1,
                    [](CheckWithJdk& test) {
                      std::filesystem::copy(Compiled("own"), test.dir_ / "app",
                                            std::filesystem::copy_options::recursive |
                                                std::filesystem::copy_options::overwrite_existing);
                    }},
        JavaMistake{
            "MisspeltMainClass",
            "{H}\n{M}\napp.greeting\nMian\n",
            {{"line 4: there is no class file {A}/Mian.class below the launcher's directory "
              "for the main class \"Mian\"; did you mean Main?",
              "Error: Could not find or load main class Mian\n"
              "Caused by: java.lang.ClassNotFoundException: Mian",
              "write Main on line 4"}},
            kStops},
        JavaMistake{"ClassWithoutItsPackage",
                    "{H}\n{M}\napp.greeting\nTool\n",
                    {{"line 4: the class file {A}/Tool.class holds the class pkg.Tool",
                      "Error: Could not find or load main class Tool\n"
                      "Caused by: java.lang.NoClassDefFoundError: Tool (wrong name: pkg/Tool)",
                      "write pkg.Tool on line 4, and keep its class file at {A}/pkg/Tool.class"}},
                    kStops},
        JavaMistake{
            "LauncherInThePackageDirectory",
            "{H}\n{M}\napp.greeting\npkg.Tool\n",
            {{"line 4: the launcher lies in the package directory {D}/root/pkg/ of the main "
              "class, not in the directory above its packages, {D}/root/",
              "Error: Could not find or load main class pkg.Tool\n"
              "Caused by: java.lang.ClassNotFoundException: pkg.Tool",
              "move the launcher to {D}/root/ (mv {D}/root/pkg/launcher {D}/root/) and start "
              "it as before"}},
            kStops,
            1,
            [](CheckWithJdk& test) {
              MakeDirs(test.dir_ / "root/pkg");
              CopyFile(Compiled("classes/pkg/Tool.class"), test.dir_ / "root/pkg/Tool.class");
              CopyFile(LauncherBinary(), test.dir_ / "root/pkg/launcher");
              test.launcher_ = "../root/pkg/launcher";
            }},
        JavaMistake{"NoMainMethod",
                    "{H}\n{M}\napp.greeting\nNoMain\n",
                    {{"line 4: the class \"NoMain\" has no main method",
                      "Error: Main method not found in class NoMain, please define the main method "
                      "as:",
                      "name on line 4 the class that has public static void main(String[] args)"}},
                    kStops},
        // The main class's file says for which Java it was compiled (here, as by Java 25's javac).
        JavaMistake{
            "CompiledForANewerJava",
            "{H}\n{M}\napp.greeting\nMain\n",
            {{"line 1: the main class was compiled for Java 25, and the Java of line 1 is 17",
              "UnsupportedClassVersionError: Main has been compiled by a more "
              "recent version of the Java Runtime (class file version 69.0), this version of "
              "the Java Runtime only recognizes class file versions up to 61.0",
              "name a Java installation of version 25 or later on line 1, or compile the "
              "application for Java 17 (javac --release 17){JAVAS}"}},
            kStops,
            1,
            [](CheckWithJdk& test) {
              std::string bytes = ReadFile(test.dir_ / "app/Main.class");
              bytes[6] = 0;
              bytes[7] = 69;
              WriteFile(test.dir_ / "app/Main.class", bytes);
            }}),
    [](const testing::TestParamInfo<JavaMistake>& row) { return std::string(row.param.name); });

// The JavaFX example (as the build compiled it), with Debian's JavaFX modules: it passes with a
// display, and the launcher shows its window (under a virtual X server); without a display, and
// without the module whose classes it uses, the check names the problem.
class CheckJavaFx : public CheckWithJdk {
 protected:
  void SetUp() override {
    CheckWithJdk::SetUp();
    const std::string classes = JAVAFX_CLASSES;
    LAUNCHER_REQUIRE_TOOL(!classes.empty(), "javac and the JavaFX modules (openjfx)");
    MakeDirs(dir_ / "app/hello");
    CopyFile(classes + "/hello/HelloFx.class", dir_ / "app/hello/HelloFx.class");
    env_.push_back("HOME=" + dir_.path());
    env_.push_back("TMPDIR=" + dir_.path());
  }
  std::string Settings(const std::string& modules) const {
    return java_home_ + "\n" + OPENJFX_LIB + "\n" + modules + "\nhello.HelloFx\n";
  }
};

TEST_F(CheckJavaFx, PassesWithADisplayAndShowsItsWindow) {
  WriteFile(cwd_ + "/init.ini", Settings("javafx.controls"));
  env_.push_back("DISPLAY=:99");
  const RunResult check = Check();
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  // The window needs JavaFX's native libraries of the Java's processor, which the arm64 set-up
  // does not install: under emulation only the check's side is shown.
  if (kUnderEmulation) return;
  const std::string xvfb_run = XVFB_RUN;
  LAUNCHER_REQUIRE_TOOL(!xvfb_run.empty(), "xvfb-run (Debian: xvfb), to show the window");
  env_.pop_back();
  RunOptions launch;
  launch.cwd = cwd_;
  launch.env = env_;
  launch.argv = {xvfb_run, "-a", launcher_};
  launch.timeout_seconds = kTimeout;
  const RunResult shown = RunProgram(xvfb_run, launch);
  EXPECT_EQ(shown.out, "HelloFx showed a window with the label \"Hello from JavaFX\"\n")
      << shown.err;
}

TEST_F(CheckJavaFx, WithoutADisplayTheEnvironmentIsNamed) {
  WriteFile(cwd_ + "/init.ini", Settings("javafx.controls"));
  const RunResult check = Check();
  EXPECT_EQ(check.exit_code, 1) << check.out << check.err;
  EXPECT_EQ(
      Parse(check.out).problems,
      (std::vector<Listed>{
          {"environment: neither DISPLAY nor WAYLAND_DISPLAY is set, and the main class uses "
           "JavaFX, which needs a display: the application would stop with \"Unable to open "
           "DISPLAY\" (this is no fault of init.ini)",
           "",
           "start the launcher in a graphical session, or give it a virtual display: xvfb-run "
           "-a ../app/launcher"}}))
      << check.out;
}

TEST_F(CheckJavaFx, ModuleTheApplicationUsesIsNamed) {
  WriteFile(cwd_ + "/init.ini", Settings("javafx.graphics"));
  env_.push_back("DISPLAY=:99");
  const RunResult check = Check();
  EXPECT_EQ(check.exit_code, 1) << check.out << check.err;
  const Report report = Parse(check.out);
  ASSERT_EQ(report.problems.size(), 1U) << check.out;
  EXPECT_TRUE(
      report.problems[0].head.starts_with("line 3: the application's class hello.HelloFx "
                                          "uses javafx.scene.control."))
      << check.out;
  EXPECT_EQ(report.problems[0].fix,
            "add \"javafx.controls\" to line 3: \"javafx.graphics,javafx.controls\"");

  WriteFile(cwd_ + "/init.ini",
            java_home_ + "\n" + dir_.path() + "\njavafx.controls\nhello.HelloFx\n");
  const RunResult without = Check();
  EXPECT_EQ(without.exit_code, 1);
  EXPECT_TRUE(Contains(without.out,
                       "\n  line 3: there is no module \"javafx.controls\" on the "
                       "module path of line 2"))
      << without.out;
}

}  // namespace
}  // namespace e2e
